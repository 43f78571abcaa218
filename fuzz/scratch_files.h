// Files of one fuzz input on a memory file system where there is one, so that the
// readers' paths from the disk are fuzzed as well as those from memory. The directory is
// made for the input and removed after it: the fuzzer's exit runs no clean-up of ours.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

class ScratchFiles {
 public:
  ScratchFiles()
      : dir_((::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/zuv_fuzz_") +
             std::to_string(::getpid()) + "/") {
    ::mkdir(dir_.c_str(), 0700);
  }
  ~ScratchFiles() {
    for (const std::string& p : written_) std::remove(p.c_str());
    ::rmdir(dir_.c_str());
  }
  ScratchFiles(const ScratchFiles&) = delete;
  ScratchFiles& operator=(const ScratchFiles&) = delete;

  // The file's path, or "" when it could not be written.
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    written_.push_back(path);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok ? path : "";
  }

 private:
  std::string dir_;
  std::vector<std::string> written_;
};
