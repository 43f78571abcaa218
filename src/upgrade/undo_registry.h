// The registry values and keys an installation changes, kept in its undo area before
// their first change, and put back by the undo.
#pragma once

#include <string>

namespace zuv::upgrade {

// From now on the program's registry writes keep what they change in area (Windows
// text, '\' at the end), on the disk first; what an earlier run of the release kept
// stays as it is. "" or the message naming what failed.
[[nodiscard]] std::string start_registry_keeping(const std::string& area);
void stop_registry_keeping() noexcept;

// Puts the values and keys kept in area back, latest first; repeatable. "" or the
// message naming the first value that could not be put back.
std::string restore_registry(const std::string& area);

}  // namespace zuv::upgrade
