// The sample's output for the tests: zuv-sample run from the build directory, the
// default run kept between test processes (keyed by the program's size and time) so
// that each test does not write its own database.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/table_support.h"

namespace zuv::testing {

inline std::string sample_tool() { return table_tool_path("zuv-sample"); }

inline int run_sample(const std::vector<std::string>& args, std::string* out = nullptr) {
  std::vector<std::string> all = {sample_tool()};
  all.insert(all.end(), args.begin(), args.end());
  return table_run(all, out);
}

// The default run (5 firms of 2,000 records) with the database path fixed.
inline std::string default_sample() {
  namespace fs = std::filesystem;
  std::string tool = sample_tool();
  if (tool.empty()) return "";
  fs::path root = fs::path(tool).parent_path() / "sample_test";
  fs::path out = root / "default";
  std::error_code ec;
  auto stamp = std::to_string(fs::file_size(tool, ec)) + " " +
               std::to_string(fs::last_write_time(tool, ec).time_since_epoch().count());
  std::ifstream marker(root / "default.done");
  std::string seen;
  std::getline(marker, seen);
  if (seen == stamp && fs::exists(out)) return out.string();
  fs::remove_all(root, ec);
  fs::create_directories(root, ec);
  if (run_sample({"--out", out.string(), "--db-path", "D:\\Dane\\"}) != 0) return "";
  std::ofstream(root / "default.done") << stamp << "\n";
  return out.string();
}

// Every regular file below dir, as paths relative to it, sorted.
inline std::vector<std::string> files_below(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), dir).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace zuv::testing
