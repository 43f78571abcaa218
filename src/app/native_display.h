// A Linux administrator who gives native directories ("/srv/zuv/baza/") reads them
// back in that form, not as the logic keeps them ("\srv\zuv\baza\install\").
#pragma once

#include <string>
#include <vector>

namespace zuv::app {

// True on Linux when any of the directories was given as an absolute native path.
bool given_natively(const std::vector<std::string>& directories);

// The text with its '\' turned into '/' (doubled separators merged) when native;
// otherwise as it is.
std::string shown_as_given(bool native, const std::string& text);

}  // namespace zuv::app
