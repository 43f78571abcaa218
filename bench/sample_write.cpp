// Writing the benchmark database with zuv-sample against copying the written tree
// with cp -r (both followed by sync, as the sample's tables are made durable by the
// engine's own writes). Prints the sizes, both times, their ratio and the peak memory
// of the writer, which must not grow with the number of firms.
//
//   bench_sample_write [FIRMS [RECORDS [SCRATCH_DIR]]]     (default 100 10000 /tmp)
#include <sys/resource.h>
#include <sys/wait.h>
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
  fs::path scratch = fs::path(argc > 3 ? argv[3] : "/tmp") / ("zuv_sample_bench_" + std::to_string(::getpid()));
  fs::path tool = fs::absolute(argv[0]).parent_path() / "zuv-sample";
  if (!fs::exists(tool)) {
    std::fprintf(stderr, "zuv-sample not found beside this program: %s\n", tool.c_str());
    return 1;
  }
  fs::create_directories(scratch);
  fs::path written = scratch / "a", copied = scratch / "b";

  run_timed("sync");
  double write_s = run_timed(tool.string() + " --out " + written.string() + " --firms " + firms + " --records " +
                             records + " --db-path 'D:\\Dane\\' > /dev/null && sync");
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  std::size_t files = 0;
  std::uintmax_t bytes = tree_bytes(written, files);
  double copy_s = run_timed("cp -r " + written.string() + " " + copied.string() + " && sync");

  std::printf("sample: %s firms x %s records, %zu files, %.1f MB\n", firms.c_str(), records.c_str(), files,
              static_cast<double>(bytes) / 1e6);
  std::printf("zuv-sample: %.2f s (%.1f MB/s), peak memory %.1f MB\n", write_s, static_cast<double>(bytes) / 1e6 / write_s,
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  std::printf("cp -r:      %.2f s (%.1f MB/s)\n", copy_s, static_cast<double>(bytes) / 1e6 / copy_s);
  std::printf("ratio:      %.2f (target: at most 2)\n", write_s / copy_s);
  fs::remove_all(scratch);
  return 0;
}
