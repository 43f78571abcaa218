// The checker: every file below a path, each by the checker of its format
// (index_check_cdx.cpp, index_check_ntx.cpp, index_check_dbf.cpp).
#include "platform/table/index_check_internal.h"

namespace zuv::table {
using namespace detail;
namespace {

bool is_directory(const std::string& p) {
  std::error_code ec;
  return fs::is_directory(fs::path(std::u8string(p.begin(), p.end())), ec);
}


}  // namespace

std::string CheckReport::text() const {
  std::string s;
  for (const auto& f : faults) {
    s += f.file;
    if (!f.tag.empty()) s += ": znacznik " + f.tag;
    if (f.page >= 0) s += ": strona " + std::to_string(f.page);
    s += ": " + f.message + "\n";
  }
  return s;
}

void check_table(const std::string& dbf_path, CheckReport& report) {
  check_dbf(dbf_path, report);
  std::string cdx = sibling(dbf_path, "cdx");
  if (!cdx.empty()) check_cdx(cdx, dbf_path, report);
}

void check_path(const std::string& path, CheckReport& report) {
  if (!is_directory(path)) {
    std::string ext = extension(path);
    if (ext == "dbf") check_table(path, report);
    else if (ext == "cdx") check_cdx(path, sibling(path, "dbf"), report);
    else if (ext == "ntx") check_ntx(path, "", report);
    else report.faults.push_back({path, "", -1, "nieznany rodzaj pliku lub brak pliku"});
    return;
  }
  std::vector<std::string> dbfs, cdxs, ntxs, dirs;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(std::u8string(path.begin(), path.end())), ec)) {
    auto u8 = e.path().u8string();
    std::string p(u8.begin(), u8.end());
    if (e.is_directory(ec)) dirs.push_back(p);
    else {
      std::string ext = extension(p);
      if (ext == "dbf") dbfs.push_back(p);
      else if (ext == "cdx") cdxs.push_back(p);
      else if (ext == "ntx") ntxs.push_back(p);
    }
  }
  if (ec) report.faults.push_back({path, "", -1, "nie mogę odczytać katalogu"});
  std::sort(dbfs.begin(), dbfs.end());
  std::sort(cdxs.begin(), cdxs.end());
  std::sort(ntxs.begin(), ntxs.end());
  std::sort(dirs.begin(), dirs.end());
  for (const auto& d : dbfs) check_table(d, report);
  for (const auto& c : cdxs) {
    if (sibling(c, "dbf").empty()) check_cdx(c, "", report);
  }
  for (const auto& n : ntxs) {
    // The table of a single-key index: the longest table name its name starts with.
    std::string name = lower(fs::path(std::u8string(n.begin(), n.end())).filename().string());
    std::string best;
    size_t best_len = 0;
    for (const auto& d : dbfs) {
      std::string stem = lower(fs::path(std::u8string(d.begin(), d.end())).stem().string());
      if (name.rfind(stem, 0) == 0 && stem.size() > best_len) {
        best = d;
        best_len = stem.size();
      }
    }
    check_ntx(n, best, report);
  }
  for (const auto& d : dirs) check_path(d, report);
}

}  // namespace zuv::table
