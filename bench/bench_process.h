// What the benchmarks that time whole programs share: a timed command that must
// succeed, and the size of a written tree.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace zuv::bench {

inline double run_timed(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  int rc = std::system(command.c_str());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (rc != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    std::exit(1);
  }
  return seconds;
}

inline std::uintmax_t tree_bytes(const std::filesystem::path& root, std::size_t& files) {
  std::uintmax_t bytes = 0;
  files = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) {
      bytes += e.file_size();
      ++files;
    }
  return bytes;
}

}  // namespace zuv::bench
