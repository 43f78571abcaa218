// A backup archive as a cut or a bad disk leaves it, read for its comment and then
// repaired: both must end with an answer or their failure, never a crash; and an
// archive the repair answers for must read back with the entries it kept.
// The readers take a file, so each input is written to one in /dev/shm first.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "upgrade/zip_archive.h"

namespace {

const std::string& scratch() {
  static const std::string dir = [] {
    std::string d = "/dev/shm/zuv-fuzz-zip-" + std::to_string(getpid());
    std::filesystem::create_directories(d);
    std::atexit([] { std::filesystem::remove_all("/dev/shm/zuv-fuzz-zip-" + std::to_string(getpid())); });
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string path = scratch() + "/a.zip";
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) __builtin_trap();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  (void)zuv::upgrade::read_zip(path);
  const auto kept = zuv::upgrade::repair_zip(path, "fuzz");
  if (kept) {
    const auto back = zuv::upgrade::read_zip(path);
    if (!back || back->names.size() != *kept) __builtin_trap();
  }
  return 0;
}
