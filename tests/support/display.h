// Whether windows can be shown and take the keyboard focus: without a display (Wine
// with no X server) a window test would wait for a focus that never comes.
#pragma once

#include <string>

namespace zuv::testing {

// True when a window made by this thread is shown and takes the focus within a few
// seconds; otherwise false with the reason in *why. Asked once, then remembered.
bool display_usable(std::string* why);

}  // namespace zuv::testing
