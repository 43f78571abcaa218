// zuv-dbcheck PATH...: checks tables, memo files and indexes (a file or a whole
// directory tree) and lists every fault with its file, tag and page. Exit code 0 when
// everything is clean, 1 when a fault was found, 2 on a usage error.
#include <cstdio>
#include <string>

#include "platform/os/args.h"
#include "platform/table/index_check.h"

int main(int argc, char** argv) {
  std::vector<std::string> args = zuv::os::utf8_args(argc, argv);
  bool quiet = false;
  std::vector<std::string> paths;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-q" || args[i] == "--quiet") quiet = true;
    else if (args[i] == "-h" || args[i] == "--help") {
      std::printf("użycie: zuv-dbcheck [-q] ŚCIEŻKA...\n");
      return 0;
    } else paths.push_back(args[i]);
  }
  if (paths.empty()) {
    std::fprintf(stderr, "użycie: zuv-dbcheck [-q] ŚCIEŻKA...\n");
    return 2;
  }
  zuv::table::CheckReport report;
  for (const auto& p : paths) zuv::table::check_path(p, report);
  std::fputs(report.text().c_str(), stdout);
  if (!quiet) std::printf("sprawdzone pliki: %zu, błędy: %zu\n", report.files.size(), report.faults.size());
  return report.clean() ? 0 : 1;
}
