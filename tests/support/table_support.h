// Helpers for the table tests: scratch directories, the reference vectors, files as
// bytes, and other processes (our tool holding a table, the system's Python readers).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/error/error.h"
#include "platform/os/status.h"
#include "platform/table/table.h"

namespace zuv::testing {

// The OS code of a full disk, for the fault switch to answer writes with.
inline constexpr int kDiskFull = 112;

// Answers every error with the default: the operation fails, nothing is thrown.
struct QuietErrors : ScopedHandler {
  QuietErrors() : ScopedHandler([](ErrorRecord&) { return HandlerAnswer::Default; }) {}
};

// A fresh directory removed again at the end of the test.
class TableTempDir {
 public:
  TableTempDir();
  ~TableTempDir();
  TableTempDir(const TableTempDir&) = delete;
  TableTempDir& operator=(const TableTempDir&) = delete;
  // path of a file in the directory, in the form the OS and the table engine accept
  std::string file(const std::string& name) const;
  const std::string& path() const { return dir_; }

 private:
  std::string dir_;
};

// The directory of the reference tables, or "" when it is not there.
std::string table_vectors_dir();
// A program built beside the tests (zuv-dbtool), "" when missing.
std::string table_tool_path(const std::string& name);

// A directory made, or there already (the fixtures make theirs more than once).
inline bool made_or_there(const os::Status& made) { return made.ok() || made.code == os::oscode::kAlreadyExists; }

std::string table_read_bytes(const std::string& path);
// The first n bytes of a file (of a large sparse one, say).
std::string table_read_head(const std::string& path, std::size_t n);
void table_write_bytes(const std::string& path, const std::string& bytes);

// Runs a program to its end; answers its exit code (-1 when it could not start) and,
// when out is given, its standard output. Host only for output capture.
int table_run(const std::vector<std::string>& args, std::string* out = nullptr);

// A program running beside the test until stopped or killed.
class TableChild {
 public:
  bool start(const std::vector<std::string>& args);
  void kill();    // as a crash: no clean-up by the child
  int wait();     // exit code
  ~TableChild();

 private:
#ifdef _WIN32
  void* process_ = nullptr;
#else
  int pid_ = -1;
#endif
};

#ifdef _WIN32
// Starts a program without waiting and without handing it this process's standard
// handles (it reads and writes nothing of ours, so it cannot hold the test runner's
// output open). Under Wine a Linux program started through Z: comes back with no
// process handle at all: the caller learns that it ended from a file it writes last.
bool table_start_detached(const std::vector<std::string>& args);
#endif

// True when path appears within timeout_ms.
bool table_wait_for_file(const std::string& path, int timeout_ms);

// Debian's own interpreter with the named modules, "" when absent (Wine, or modules
// not installed).
std::string table_python_with(const std::vector<std::string>& modules);

// A table opened shared and read-only, as a reader beside the writer would; nullptr
// when it cannot be opened.
std::unique_ptr<table::Table> open_for_reading(const std::string& path);

// Collects raised errors and answers default, as the callers' trapping handlers do.
struct ErrorTrap {
  std::vector<ErrorRecord> seen;
  ScopedHandler handler{[this](ErrorRecord& r) {
    seen.push_back(r);
    return HandlerAnswer::Default;
  }};
};

}  // namespace zuv::testing
