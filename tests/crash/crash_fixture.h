// The sample every crash test of this program starts from, its clean upgrade, and the
// tally of the points a test tried.
#pragma once

#ifndef _WIN32
#include <cstdlib>
#include <set>

#include "crash/crash_harness.h"
#include "sample/sample_output.h"
#include "support/table_support.h"

namespace zuv::crash {

inline int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// The three parameters of the release, from the command zuv-sample prints.
inline std::vector<std::string> release_params(const std::string& sample_output) {
  auto at = sample_output.find("zuvinst ");
  if (at == std::string::npos) return {};
  std::istringstream words(sample_output.substr(at + 8));
  std::vector<std::string> p(3);
  words >> p[0] >> p[1] >> p[2];
  return p;
}

// The sample, its clean upgrade and that upgrade's file operations: made once for the
// program's tests. Four firms give one of each kind the steps treat apart: a current
// one, an old one (the complete reindex), one from before 023 and one whose buffers
// the last step brings to the template's layout (it records "026.01.032" first).
struct Fixture {
  fs::path scratch;
  Sample original, work;
  std::map<std::string, std::string> before, clean;
  // The sample's trees exactly, as an undo must give them back.
  std::map<std::string, std::string> raw_before;
  Tree reference;
  // A finished upgrade run once more. The last step leaves a firm whose buffers it
  // converted at "026.01.032" and records "026.01.033" only at the next upgrade, so
  // a run ended after the database was marked finished, and run again, may end here.
  std::map<std::string, std::string> twice;
  int operations = 0;
  double clean_seconds = 0;
  std::string problem;
  bool keep = false;

  Fixture() {
    const char* dir = std::getenv("ZUV_CRASH_DIR");
    keep = dir && *dir;
    // A memory file system when there is one: a process's death loses nothing of what it
    // wrote to the cache, and the hundreds of runs do not wait for the disk.
    fs::path base = fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                     : fs::temp_directory_path();
    scratch = keep ? fs::path(dir) : base / ("zuv_crash_" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(scratch, ec);
    fs::create_directories(scratch);
    if (zuv::testing::sample_tool().empty()) {
      problem = "zuv-sample not built";
      return;
    }
    original.root = scratch / "sample";
    std::string printed;
    int rc = zuv::testing::run_sample({"--out", original.root.string(), "--firms",
                                       std::to_string(env_int("ZUV_CRASH_FIRMS", 4)), "--records",
                                       std::to_string(env_int("ZUV_CRASH_RECORDS", 20)), "--old-firms",
                                       std::to_string(env_int("ZUV_CRASH_OLD_FIRMS", 1)), "--db-path", "D:\\Dane\\"},
                                      &printed);
    original.params = release_params(printed);
    if (rc != 0 || original.params.size() != 3 || original.params[2].empty()) {
      problem = "zuv-sample failed: " + printed;
      return;
    }
    work = original;
    work.root = scratch / "work";
    work.shared_release = original.release();
    copy_sample(original, work.root);
    before = dump_tree(work.root, compared_dirs());
    raw_before = raw_tree(work.root);
    ChildResult r = run_upgrade(work, 0, true);
    if (r.exit_code != 0) {
      problem = "the clean upgrade ended with " + std::to_string(r.exit_code) + ": " + read_bytes(work.root / "upgrade.out");
      return;
    }
    operations = r.operations;
    clean_seconds = r.seconds;
    clean = dump_tree(work.root, compared_dirs(), nullptr, &reference);
    reference.dump = clean;
    if (run_upgrade(work).exit_code != 0) {
      problem = "the second upgrade of the clean result failed: " + read_bytes(work.root / "upgrade.out");
      return;
    }
    twice = dump_tree(work.root, compared_dirs(), &reference);
    std::printf("sample: %zu files compared, clean upgrade %.2f s, %d file operations\n", clean.size(), clean_seconds,
                operations);
  }
  ~Fixture() {
    std::error_code ec;
    if (!keep) fs::remove_all(scratch, ec);
  }
};

inline Fixture& fixture() {
  static Fixture f;
  return f;
}

// The release's installation on s undone: the trees exactly as the sample had them,
// whatever the runs before met (a kill, a power cut, a second upgrade).
inline std::string undo_and_compare(Fixture& f, const Sample& s, const std::string& where) {
  ChildResult undone = run_undo(s);
  if (undone.exit_code != 0)
    return "[" + where + "] the undo ended with " + std::to_string(undone.exit_code) + ": " +
           read_bytes(s.root / "upgrade.out");
  const std::string diff = raw_difference(f.raw_before, raw_tree(s.root));
  return diff.empty() ? "" : "[" + where + "] after the undo: " + diff;
}

// The database of s, left by an ended run, upgraded again to its end and compared with
// the clean result, leaving out the files ignored names. Answers "" or what went
// wrong, with where the ended run stood.
inline std::string resume_and_compare(Fixture& f, const Sample& s, const std::string& note, int workers = 1,
                                      bool (*ignored)(const std::string& rel) = nullptr) {
  const std::string where = where_killed(s) + note;
  const bool finished = marked_finished(s);
  ChildResult again = run_upgrade(s, 0, false, 0, workers);
  if (again.exit_code != 0) {
    std::string said = read_bytes(s.root / "upgrade.out");
    for (char& c : said)
      if (c == '\n' || c == '\r') c = ' ';
    return "[" + where + "] the run after the crash ended with " + std::to_string(again.exit_code) + ": " + said;
  }
  int files = 0;
  auto without = [&](std::map<std::string, std::string> dump) {
    if (ignored) std::erase_if(dump, [&](const auto& file) { return ignored(file.first); });
    return dump;
  };
  const auto got = without(dump_tree(s.root, compared_dirs(), &f.reference));
  std::string diff = first_difference(without(f.clean), got, &files);
  // Once marked finished, the run after it is a second upgrade: either result is right.
  std::string second;
  if (finished && !diff.empty()) second = first_difference(without(f.twice), got);
  if (finished && !diff.empty() && second.empty()) diff.clear();
  if (!second.empty()) diff += "; as a second upgrade: " + second;
  // Every n-th resumed run is undone as well (ZUV_CRASH_UNDO=n; 0 none, 1 every one).
  static int resumed = 0;
  const int every = env_int("ZUV_CRASH_UNDO", 3);
  if (diff.empty()) return every > 0 && ++resumed % every == 0 ? undo_and_compare(f, s, where) : "";
  return "[" + where + "] " + std::to_string(files) + " file(s) differ; " + diff;
}

struct Tally {
  explicit Tally(std::string n) : name(std::move(n)) {}
  std::string name;
  int tried = 0;
  std::vector<std::string> failures;
  void add(const std::string& point, const std::string& what) {
    // A long run by hand shows it is alive.
    if (++tried % 50 == 0) {
      std::printf("  ... %d points, %zu failures\n", tried, failures.size() + (what.empty() ? 0 : 1));
      std::fflush(stdout);
    }
    if (what.empty()) return;
    failures.push_back(point + ": " + what);
    std::printf("  FAIL %s: %s\n", point.c_str(), what.c_str());
    std::fflush(stdout);
  }
  std::string summary() const {
    return name + ": points tried " + std::to_string(tried) + ", failures " + std::to_string(failures.size());
  }
};

// The operations to end the run at: every one of the first and last few (the driver's
// semaphore and reference files, its closing version record) and the rest spread
// evenly over the run; one past the end (a finished run upgraded again) too.
inline std::vector<int> kill_points(int operations, int wanted) {
  std::set<int> at;
  if (const char* listed = std::getenv("ZUV_CRASH_AT"); listed && *listed) {
    std::istringstream s(listed);
    for (std::string k; std::getline(s, k, ',');)
      if (!k.empty()) at.insert(std::atoi(k.c_str()));
    return {at.begin(), at.end()};
  }
  const int edge = std::min(12, operations);
  std::set<int> ends;
  for (int k = 1; k <= edge; ++k) ends.insert(k);
  for (int k = operations - edge + 1; k <= operations + 1; ++k) ends.insert(k);
  // Spread points may fall on the ends: spread more until enough are distinct.
  for (int spread = std::max(2, wanted - static_cast<int>(ends.size())); spread <= operations + 1; ++spread) {
    at = ends;
    for (int i = 0; i < spread; ++i)
      at.insert(1 + static_cast<int>(static_cast<long long>(i) * (operations - 1) / (spread - 1)));
    if (at.size() >= static_cast<size_t>(wanted)) break;
  }
  return {at.begin(), at.end()};
}

}  // namespace zuv::crash
#endif
