// Paths and small helpers shared by the index tests.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <filesystem>

namespace zuv::table::testing {

// The OS path of a file in the shared reference vectors.
inline std::string os_path(const std::string& unix_path) {
#ifdef _WIN32
  std::string p = "Z:" + unix_path;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
#else
  return unix_path;
#endif
}

inline std::string vector_path(const std::string& name) {
  return os_path(std::string(ZUV_SOURCE_DIR) + "/tests/vectors/" + name);
}

inline std::vector<uint32_t> read_order(const std::string& name) {
  std::ifstream in(std::filesystem::path(vector_path(name)));
  std::vector<uint32_t> r;
  uint32_t v;
  while (in >> v) r.push_back(v);
  return r;
}

// A fresh scratch directory for one test.
inline std::string scratch_dir(const std::string& name) {
  std::filesystem::path base = std::filesystem::temp_directory_path() / ("zuv_index_" + name);
  std::error_code ec;
  std::filesystem::remove_all(base, ec);
  std::filesystem::create_directories(base);
  return base.string();
}

inline std::string copy_vector(const std::string& name, const std::string& dir) {
  std::string target = dir + "/" + name;
  std::filesystem::copy_file(std::filesystem::path(vector_path(name)), target,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  return target;
}

}  // namespace zuv::table::testing
