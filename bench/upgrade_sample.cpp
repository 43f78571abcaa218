// The database upgrade of the benchmark database against copying that database
// directory with cp -r in the same run (both followed by sync). The sample is written
// with zuv-sample first; the upgrade runs headless from the release's directory, as
// an administrator would run it on the file server. Prints both times, their ratio
// and the upgrade's peak memory, which must not grow with the number of firms.
//
//   bench_upgrade_sample [FIRMS [RECORDS [SCRATCH_DIR]]]     (default 100 10000 /tmp)
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_process.h"

namespace fs = std::filesystem;
using zuv::bench::run_timed;
using zuv::bench::tree_bytes;

int main(int argc, char** argv) {
  std::string firms = argc > 1 ? argv[1] : "100";
  std::string records = argc > 2 ? argv[2] : "10000";
  fs::path scratch = fs::path(argc > 3 ? argv[3] : "/tmp") / ("zuv_upgrade_bench_" + std::to_string(::getpid()));
  fs::path bin = fs::absolute(argv[0]).parent_path();
  for (const char* tool : {"zuv-sample", "zuvinst"})
    if (!fs::exists(bin / tool)) {
      std::fprintf(stderr, "%s not found beside this program\n", tool);
      return 1;
    }
  fs::create_directories(scratch);
  fs::path sample = scratch / "s";
  run_timed((bin / "zuv-sample").string() + " --out " + sample.string() + " --firms " + firms + " --records " +
            records + " --db-path 'D:\\Dane\\' > /dev/null && sync");
  std::size_t files = 0;
  std::uintmax_t bytes = tree_bytes(sample / "baza", files);

  double copy_s = run_timed("cp -r " + (sample / "baza").string() + " " + (scratch / "copy").string() + " && sync");
  rusage before{};
  getrusage(RUSAGE_CHILDREN, &before);
  double upgrade_s = run_timed("cd " + (sample / "release").string() + " && " + (bin / "zuvinst").string() +
                               " 26.01.033 026.01.033 2026 --upgrade-db ../baza --program ../program "
                               "> /dev/null 2>&1 && sync");
  rusage after{};
  getrusage(RUSAGE_CHILDREN, &after);

  std::printf("database: %s firms x %s records, %zu files, %.1f MB\n", firms.c_str(), records.c_str(), files,
              static_cast<double>(bytes) / 1e6);
  std::printf("upgrade:  %.2f s, peak memory %.1f MB\n", upgrade_s, static_cast<double>(after.ru_maxrss) / 1024.0);
  std::printf("cp -r:    %.2f s\n", copy_s);
  std::printf("ratio:    %.2f (target: at most 3)\n", upgrade_s / copy_s);
  fs::remove_all(scratch);
  return 0;
}
