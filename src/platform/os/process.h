// The running processes, as names of their executables.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zuv::os {

// Per process the file names (without directory) by which it may be known: on Windows
// the snapshot's executable name; on Linux the executable's name and, when it differs,
// the last component of argv[0] split at '/' or '\' (a Windows program under Wine shows
// its own name only there). nullopt when the process list cannot be taken.
std::optional<std::vector<std::vector<std::string>>> running_process_names();

// This process's number, telling its files apart from those of its children.
unsigned long current_process_id();

}  // namespace zuv::os
