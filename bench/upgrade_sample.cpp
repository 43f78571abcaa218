// The database upgrade of the benchmark database against copying that database
// directory with cp -r in the same run (both followed by sync). The sample is written
// with zuv-sample first; the upgrade runs headless from the release's directory, as an
// administrator would run it on the file server, but inside this process so that a
// timer can sit around every step: the figures say where the time goes per step family
// and which steps cost most. The kit archive, which only the interactive upgrade makes,
// is timed after it. Prints the times, their ratio and the peak memory, which must not
// grow with the number of firms.
//
// The upgrade runs with WORKERS firms at once (the headless command's --workers). The
// per-step figures come from inside this process, so with more than one worker a
// second copy is upgraded one firm at a time for them.
//
// With "compare" the copy made by cp -r is upgraded first without the crash recovery's
// copies, so that their cost is seen in the same run. With "undo" the copy is upgraded
// first without the undo areas, the database then with them (as every upgrade keeps
// them), and the upgrade is undone at the end, timed against cp -r.
//
// With RESULTS, the upgraded database's checksum list (bench_result_digest) is written
// there, or, when that file exists, compared with it: a change made for speed must
// give the same tables and tag orders as the code before it.
//
//   bench_upgrade_sample [FIRMS [RECORDS [SCRATCH_DIR [compare|undo|-  [WORKERS [RESULTS]]]]]]
//   (default 100 10000 /tmp - 2)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/headless_upgrade.h"
#include "upgrade/undo_area.h"
#include "bench_process.h"
#include "platform/error/error.h"
#include "platform/os/held_writes.h"
#include "platform/os/write_tally.h"
#include "platform/table/engine_setup.h"
#include "upgrade/backup_archive.h"
#include "upgrade/firm_lifecycle.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery.h"
#include "upgrade/upgrade_observer.h"
#include "upgrade/run_note.h"

namespace fs = std::filesystem;
using zuv::bench::run_timed;
using zuv::bench::tree_bytes;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// The family a step belongs to, by its name.
std::string family_of(std::string_view name) {
  if (name.rfind("STR_", 0) == 0) return "structure steps";
  if (name.rfind("I_", 0) == 0 && name.size() >= 3) {
    int step = std::atoi(std::string(name.substr(name.size() - 3)).c_str());
    if (step <= 13) return "firm steps 001-013";
    if (step <= 29) return "firm steps 015-029";
    return "firm steps 030/033";
  }
  if (name == "INDEKSUJ") return "full reindex";
  if (name == "NTX_PUB") return "shared indexes";
  return std::string(name);
}

struct Timing {
  double seconds = 0;
  long runs = 0;
  std::uint64_t bytes = 0;  // written to files (the OS layer's count)
};

// A file made anew (created, copied to, renamed onto) during a step.
struct Made {
  std::string path;  // native
  std::string step;
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Tables and indexes of a firm's directory made more than once in one firm: each name
// with how many firms had it so, the most times, and the steps that made it.
void print_rewrites(const std::vector<Made>& made, const fs::path& database) {
  struct Seen {
    int times = 0;
    std::vector<std::string> steps;
  };
  std::map<std::string, std::map<std::string, Seen>> by_firm;  // firm directory -> file -> seen
  const std::string root = database.string() + "/";
  for (const Made& m : made) {
    if (m.path.compare(0, root.size(), root) != 0) continue;
    fs::path p(m.path);
    std::string ext = lower(p.extension().string());
    if (ext != ".dbf" && ext != ".fpt" && ext != ".cdx") continue;
    Seen& seen = by_firm[p.parent_path().string()][lower(p.filename().string())];
    ++seen.times;
    if (std::find(seen.steps.begin(), seen.steps.end(), m.step) == seen.steps.end()) seen.steps.push_back(m.step);
  }
  struct Over {
    int firms = 0, most = 0;
    std::vector<std::string> steps;
  };
  std::map<std::string, Over> over;
  for (const auto& [dir, files] : by_firm) {
    for (const auto& [name, seen] : files) {
      if (seen.times < 2) continue;
      Over& o = over[name];
      ++o.firms;
      o.most = std::max(o.most, seen.times);
      for (const std::string& st : seen.steps)
        if (std::find(o.steps.begin(), o.steps.end(), st) == o.steps.end()) o.steps.push_back(st);
    }
  }
  std::printf("files made more than once in one directory (tables, memos, indexes): %zu\n", over.size());
  for (const auto& [name, o] : over) {
    std::string steps;
    for (const std::string& st : o.steps) steps += (steps.empty() ? "" : ", ") + st;
    std::printf("  %-14s up to %d times, in %d directories, by %s\n", name.c_str(), o.most, o.firms, steps.c_str());
  }
}

// The bytes written to each file of the firms' directories, per firm, under the name
// the file had when written, beside the size that name has after the upgrade: a table
// written once costs about its size, and what is above that is a rewrite, a copy kept
// for recovery or a work file.
void print_written_by_file(const std::map<std::string, std::uint64_t>& by_file, const fs::path& database,
                           std::size_t firms) {
  struct Sum {
    std::uint64_t bytes = 0, size = 0;
    int sized = 0;
  };
  std::map<std::string, Sum> sums;  // name inside a firm's directory
  const std::string root = database.string() + "/";
  for (const auto& [path, bytes] : by_file) {
    if (path.compare(0, root.size(), root) != 0) continue;
    const std::string rest = path.substr(root.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos || lower(rest.substr(0, 5)) != "firma") continue;
    Sum& sum = sums[lower(rest.substr(slash + 1))];
    sum.bytes += bytes;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (!ec) sum.size += size, ++sum.sized;
  }
  std::vector<std::pair<std::string, Sum>> order(sums.begin(), sums.end());
  std::sort(order.begin(), order.end(), [](auto& a, auto& b) { return a.second.bytes > b.second.bytes; });
  std::printf("written per firm, by file (one firm at a time; the file's size after the upgrade):\n");
  const char* listed = std::getenv("ZUV_BENCH_FILES");
  const std::size_t list = listed && *listed ? std::stoul(listed) : 15;
  for (std::size_t i = 0; i < order.size() && i < list; ++i) {
    const Sum& s = order[i].second;
    const double per_firm = static_cast<double>(s.bytes) / static_cast<double>(firms) / 1e6;
    if (s.sized == 0) {
      std::printf("  %-24s %7.2f MB  (not there after the upgrade: renamed or removed)\n", order[i].first.c_str(), per_firm);
      continue;
    }
    const double size = static_cast<double>(s.size) / s.sized / 1e6;
    std::printf("  %-24s %7.2f MB  %7.2f MB  %5.2f x\n", order[i].first.c_str(), per_firm, size, per_firm / size);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // ZUV_BENCH_HELD_KB, ZUV_BENCH_HELD_FLOOR_KB: the memory a process may hold writes in
  // and the smallest file held, to weigh them against the bytes written; ZUV_BENCH_FILES:
  // how many files the list of written bytes names.
  if (const char* held = std::getenv("ZUV_BENCH_HELD_KB"); held && *held)
    zuv::os::held_writes::set_budget(std::size_t(std::stoul(held)) << 10);
  if (const char* floor = std::getenv("ZUV_BENCH_HELD_FLOOR_KB"); floor && *floor)
    zuv::os::held_writes::set_smallest(std::uint64_t(std::stoul(floor)) << 10);
  std::string firms = argc > 1 ? argv[1] : "100";
  std::string records = argc > 2 ? argv[2] : "10000";
  const bool with_undo = argc > 4 && std::string(argv[4]) == "undo";
  const bool compare = (argc > 4 && std::string(argv[4]) == "compare") || with_undo;
  const int workers = argc > 5 ? std::max(1, std::atoi(argv[5])) : 2;
  fs::path scratch =
      fs::absolute(fs::path(argc > 3 ? argv[3] : "/tmp") / ("zuv_upgrade_bench_" + std::to_string(::getpid())));
  fs::path bin = fs::absolute(argv[0]).parent_path();
  // Taken now: the upgrade runs from the release's directory.
  const fs::path list = argc > 6 ? fs::absolute(argv[6]) : fs::path();
  if (!fs::exists(bin / "zuv-sample")) {
    std::fprintf(stderr, "zuv-sample not found beside this program\n");
    return 1;
  }
  fs::create_directories(scratch);
  fs::path sample = scratch / "s";
  double sample_s = run_timed((bin / "zuv-sample").string() + " --out " + sample.string() + " --firms " + firms +
                              " --records " + records + " --db-path 'D:\\Dane\\' > /dev/null && sync");
  std::size_t files = 0;
  std::uintmax_t bytes = tree_bytes(sample / "baza", files);
  // The copy's time varies with what the disk does besides: the median of three, each a
  // real copy of the bytes (no shared extents).
  const std::string copy_command =
      "cp -r --reflink=never " + (sample / "baza").string() + " " + (scratch / "copy").string() + " && sync";
  std::vector<double> copies;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) fs::remove_all(scratch / "copy");
    copies.push_back(run_timed(copy_command));
  }
  std::sort(copies.begin(), copies.end());
  const double copy_s = copies[1];

  // As the headless command sets the run up, from the release's directory.
  fs::current_path(sample / "release");
  zuv::table::WorkAreas areas;
  zuv::table::DBESYS(areas, [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
  zuv::table::STARTINIT(areas);
  const zuv::app::ReleaseSteps steps = zuv::app::release_steps();
  const std::string database_dir = zuv::app::directory_text((sample / "baza").string());
  const std::string program_dir = zuv::app::directory_text((sample / "program").string());
  auto database_version = zuv::upgrade::read_recorded_version(areas, database_dir);
  if (!database_version) {
    std::fprintf(stderr, "the sample database has no version record\n");
    return 1;
  }
  std::string nazwa_sieciowa;
  zuv::upgrade::SpeedIndicator speed;
  zuv::upgrade::UpgradeEnv env(areas);
  env.wersja_p = "26.01.033";
  env.wersja_b = "026.01.033";
  env.steps = steps.tables;
  env.nazwa_sieciowa = &nazwa_sieciowa;
  env.speed = &speed;
  std::map<std::string, Timing> by_family, by_step;
  std::vector<Made> made;
  zuv::upgrade::OperatorObserver timing;
  env.observer = &timing;
  timing.around_step = [&](std::string_view name, const std::function<void()>& run) {
    auto t0 = Clock::now();
    // A step that breaks out of its firm still took its time.
    struct Record {
      std::string_view name;
      Clock::time_point t0;
      zuv::os::write_tally::Totals w0;
      std::map<std::string, Timing>&family, &step;
      std::vector<Made>& made;
      ~Record() {
        double s = since(t0);
        const zuv::os::write_tally::Totals w = zuv::os::write_tally::totals();
        Timing& f = family[family_of(name)];
        f.seconds += s, ++f.runs, f.bytes += w.bytes - w0.bytes;
        Timing& one = step[std::string(name)];
        one.seconds += s, ++one.runs, one.bytes += w.bytes - w0.bytes;
        for (std::string& p : zuv::os::write_tally::made(w0.names)) made.push_back({std::move(p), std::string(name)});
      }
    } record{name, t0, zuv::os::write_tally::totals(), by_family, by_step, made};
    run();
  };

  zuv::upgrade::UpgradeOutcome outcome;
  std::uint64_t written_before = 0, written = 0;
  std::map<std::string, std::uint64_t> written_by_file;
  std::string result;
  const std::string release = zuv::upgrade::undo_release(env.wersja_p, env.wersja_b, "2026");
  double fingerprint_s = 0;
  auto upgrade = [&](const std::string& db_dir, bool undo_kept, int at_once, bool keep_for_undo = false) -> double {
    by_family.clear(), by_step.clear(), made.clear();
    outcome = {};
    env.undo_kept = undo_kept;
    env.workers = at_once;
    zuv::upgrade::ScreenFields fields;
    auto t0 = Clock::now();
    zuv::os::write_tally::start();  // each run counts from zero
    written_before = 0;
    if (keep_for_undo)
      if (std::string why = zuv::upgrade::start_undo_keeping(db_dir, program_dir, release); !why.empty()) {
        std::fprintf(stderr, "the undo areas could not be made: %s\n", why.c_str());
        std::exit(1);
      }
    try {
      zuv::GuardedBlock stop;
      result = zuv::upgrade::UPGRADE_NOWEJ_BAZY(env, program_dir, db_dir, *database_version, fields, steps.shared,
                                               &outcome);
    } catch (const zuv::Break& b) {
      std::fprintf(stderr, "the upgrade stopped: %s\n", b.record.description.c_str());
      std::exit(1);
    }
    areas.close_all();
    if (keep_for_undo) {
      const auto f0 = Clock::now();
      if (std::string why = zuv::upgrade::finish_undo_keeping(); !why.empty()) {
        std::fprintf(stderr, "the fingerprint could not be taken: %s\n", why.c_str());
        std::exit(1);
      }
      fingerprint_s = since(f0);
    }
    ::sync();
    written = zuv::os::write_tally::totals().bytes - written_before;
    written_by_file = zuv::os::write_tally::by_file();
    return since(t0);
  };
  const std::string copy_dir = zuv::app::directory_text((scratch / "copy").string());
  // The figures per step, from a run of one firm at a time on the copy, which is then
  // made again for the comparison.
  const zuv::upgrade::RecoveryCost before = zuv::upgrade::recovery_cost();
  double one_at_a_time_s = 0;
  std::map<std::string, Timing> family_one, step_one;
  std::vector<Made> made_one;
  std::uint64_t written_one = 0;
  std::map<std::string, std::uint64_t> by_file_one;
  if (workers > 1) {
    one_at_a_time_s = upgrade(copy_dir, true, 1);
    family_one = by_family, step_one = by_step, made_one = made, written_one = written;
    by_file_one = written_by_file;
    if (compare) {
      fs::remove_all(scratch / "copy");
      run_timed(copy_command);
    }
  }
  const zuv::upgrade::RecoveryCost after_one = zuv::upgrade::recovery_cost();
  double without_s = 0;
  // Without the undo areas, the recovery's copies are kept: only the areas differ.
  if (compare) without_s = upgrade(copy_dir, with_undo, workers);
  // The processor time too (the workers' included): on a machine others share, it moves
  // less than the wall time.
  auto cpu_seconds = [] {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
      rusage u{};
      getrusage(who, &u);
      total += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
  };
  const double cpu0 = cpu_seconds();
  double upgrade_s = upgrade(database_dir, true, workers, with_undo);
  const double upgrade_cpu = cpu_seconds() - cpu0;
  rusage usage{}, worker_usage{};
  getrusage(RUSAGE_SELF, &usage);
  getrusage(RUSAGE_CHILDREN, &worker_usage);
  const double peak_mb = static_cast<double>(std::max(usage.ru_maxrss, worker_usage.ru_maxrss)) / 1024.0;
  zuv::upgrade::RecoveryCost kept = workers > 1 ? after_one : zuv::upgrade::recovery_cost();
  kept.seconds -= before.seconds, kept.bytes_kept -= before.bytes_kept;
  if (workers > 1) {
    by_family = family_one, by_step = step_one, made = made_one, written = written_one;
    written_by_file = by_file_one;
  } else {
    one_at_a_time_s = upgrade_s;
  }

  // The archive would change the database after the fingerprint: not with the undo.
  auto t0 = Clock::now();
  if (!with_undo) env.run_step("archive", [&] { zuv::upgrade::PAKUJ_DO_ZIPA(env, database_dir); });
  areas.close_all();
  ::sync();
  double archive_s = since(t0);

  std::printf("database: %s firms x %s records, %zu files, %.1f MB (written in %.1f s)\n", firms.c_str(),
              records.c_str(), files, static_cast<double>(bytes) / 1e6, sample_s);
  std::printf("upgrade:  %.2f s, %d firms at once (%s, %zu firms failed), processor %.2f s, peak memory %.1f MB\n",
              upgrade_s, workers, result.c_str(), outcome.failed.size(), upgrade_cpu, peak_mb);
  std::printf("cp -r:    %.2f s (median of %.2f, %.2f, %.2f)\n", copy_s, copies[0], copies[1], copies[2]);
  std::printf("ratio:    %.2f (target: at most %s)\n", upgrade_s / copy_s, workers > 1 ? "1.2" : "1.6");
  if (with_undo)
    std::printf("without the undo areas: %.2f s; they cost %+.1f%% (goal: under 15%%), the fingerprint at the end %.2f s\n",
                without_s, 100 * (upgrade_s - without_s) / without_s, fingerprint_s);
  else if (compare)
    std::printf("without the crash recovery's copies: %.2f s; they cost %+.1f%%\n", without_s,
                100 * (upgrade_s - without_s) / without_s);
  std::printf("archive of the kit (interactive upgrade only): %.2f s\n\n", archive_s);
  std::printf("where the time goes, one firm at a time (%.2f s, ratio %.2f, target: at most 1.6):\n",
              one_at_a_time_s, one_at_a_time_s / copy_s);
  upgrade_s = one_at_a_time_s;
  std::printf("  crash recovery (copies, syncs, notes; inside the figures below): %.2f s, %.1f%% of the upgrade;\n"
              "  %.1f MB copied, at most %.1f MB held at once\n",
              kept.seconds, 100 * kept.seconds / upgrade_s, static_cast<double>(kept.bytes_kept) / 1e6,
              static_cast<double>(kept.most_held) / 1e6);
  std::printf("  written to files: %.1f MB, %.2f x the database (target: at most 1.2)\n",
              static_cast<double>(written) / 1e6, static_cast<double>(written) / static_cast<double>(bytes));
  double counted = 0;
  std::uint64_t counted_bytes = 0;
  std::printf("  %-22s %8s  %6s  %10s\n", "", "time", "share", "written");
  for (const auto& [family, t] : by_family) {
    if (family == "archive") continue;
    std::printf("  %-22s %8.2f s  %5.1f%%  %8.1f MB  (%ld runs)\n", family.c_str(), t.seconds,
                100 * t.seconds / upgrade_s, static_cast<double>(t.bytes) / 1e6, t.runs);
    counted += t.seconds;
    counted_bytes += t.bytes;
  }
  std::printf("  %-22s %8.2f s  %5.1f%%  %8.1f MB\n", "rest (firm loop, sync)", upgrade_s - counted,
              100 * (upgrade_s - counted) / upgrade_s,
              static_cast<double>(written > counted_bytes ? written - counted_bytes : 0) / 1e6);
  print_rewrites(made, workers > 1 ? scratch / "copy" : sample / "baza");
  print_written_by_file(written_by_file, workers > 1 ? scratch / "copy" : sample / "baza",
                        static_cast<std::size_t>(std::stoul(firms)));
  std::vector<std::pair<std::string, Timing>> costly(by_step.begin(), by_step.end());
  std::sort(costly.begin(), costly.end(), [](auto& a, auto& b) { return a.second.seconds > b.second.seconds; });
  std::printf("costliest steps:\n");
  for (std::size_t i = 0; i < costly.size() && i < 12; ++i)
    std::printf("  %-22s %8.2f s  %8.1f MB  (%ld runs)\n", costly[i].first.c_str(), costly[i].second.seconds,
                static_cast<double>(costly[i].second.bytes) / 1e6, costly[i].second.runs);
  int rc = 0;
  if (!list.empty()) {
    const std::string digest = (bin / "bench_result_digest").string() + " " + (sample / "baza").string();
    if (fs::exists(list)) {
      std::printf("results against %s:\n", list.c_str());
      std::fflush(stdout);
      rc = std::system((digest + " " + list.string()).c_str()) == 0 ? 0 : 1;
    } else {
      rc = std::system((digest + " > " + list.string()).c_str()) == 0 ? 0 : 1;
      std::printf(rc == 0 ? "results written to %s\n" : "results could not be written to %s\n", list.c_str());
    }
  }
  if (with_undo) {
    std::uint64_t kept_bytes = 0;
    for (const std::string& dir : {database_dir, program_dir})
      kept_bytes += zuv::upgrade::read_undo_area(dir + zuv::upgrade::kUndoDir).kept_bytes;
    const auto u0 = Clock::now();
    const zuv::upgrade::UndoResult undone = zuv::upgrade::undo_installation(database_dir, program_dir, release, false);
    ::sync();
    const double undo_s = since(u0);
    std::printf("undo:     %.2f s against cp -r %.2f s (ratio %.2f), %.1f MB kept; %s\n", undo_s, copy_s,
                undo_s / copy_s, static_cast<double>(kept_bytes) / 1e6,
                undone.code == 0 ? "undone" : undone.message.c_str());
    if (undone.code != 0) rc = 1;
  }
  fs::current_path(scratch.parent_path());
  fs::remove_all(scratch);
  return rc;
}
