// Running another program of the system (Samba's tools) and reading what it says.
#pragma once

#include <string>
#include <vector>

#include "platform/os/status.h"

namespace zuv::os {

struct ProgramRun {
  bool started = false;  // false: no such program, or it could not be started
  int exit_code = -1;    // 128 + the signal when a signal ended it
  std::string out, err;
};

// Runs args[0], found on the PATH, with the rest as its arguments, no input, and
// collects both its outputs. Windows has no use for it: there it never starts.
ProgramRun run_program(const std::vector<std::string>& args);

// The whole of a file on a native path (up to limit bytes; larger is a failure).
[[nodiscard]] Result<std::string> read_whole_file(const std::string& native_path, std::size_t limit = 1 << 20);

// A native path with its links and "." and ".." resolved as far as it exists; the path
// as given when that fails.
std::string canonical_native(const std::string& native_path);

}  // namespace zuv::os
