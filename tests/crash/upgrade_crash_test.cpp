// An upgrade ended at any point and run again gives the database a clean run gives.
//
// CI runs a small sample. By hand, on a larger one (environment variables):
//   ZUV_CRASH_FIRMS=20 ZUV_CRASH_RECORDS=2000 ZUV_CRASH_POINTS=400 ZUV_CRASH_KILL9=100 ZUV_CRASH_UNDO=1
//     ./test_crash --gtest_filter='UpgradeCrash.*'
// ZUV_CRASH_OLD_FIRMS (firms old enough for the full reindex), ZUV_CRASH_SEED (the
// random kill times), ZUV_CRASH_AT=k1,k2,... (only those operations, to repeat a
// failure, also one a random kill reports as "reached k=N"), ZUV_CRASH_DIR (scratch directory kept afterwards). Each test prints one
// summary line: points tried, failures, and a line for every failing point.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "crash/crash_fixture.h"
#include "sample/sample_output.h"
#include "support/table_support.h"

namespace zuv::crash {
namespace {

// The sanitizer build runs every point several times slower: it checks the mechanism's
// memory use on fewer points, the release build covers the full spread.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultPoints = 60;
#else
constexpr int kDefaultPoints = 150;
#endif

// One crash: a fresh copy upgraded until it is ended (at operation kill_at, or killed
// after kill_after_s), then upgraded again to its end and compared with the clean
// result. Answers "" or what went wrong.
std::string crash_and_resume(Fixture& f, int kill_at, double kill_after_s, int workers = 1) {
  copy_sample(f.original, f.work.root);
  ChildResult killed = run_upgrade(f.work, kill_at, false, kill_after_s, workers);
  if (kill_at > 0 && kill_at <= f.operations && killed.exit_code != 99)
    return "the killed run ended by itself with " + std::to_string(killed.exit_code) + " (" +
           read_bytes(f.work.root / "upgrade.out") + ")";
  // A kill from outside names the operation it came at, for ZUV_CRASH_AT to repeat (one
  // worker; with more, each counts its own).
  return resume_and_compare(f, f.work, kill_after_s > 0 ? "; reached k=" + std::to_string(killed.reached + 1) : "",
                            workers);
}

TEST(UpgradeCrash, TwoCleanRunsAgreeAndTheUpgradeChangesTheDatabase) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  ASSERT_GT(f.operations, 200);
  // The comparison leaves out only what differs between runs: a second clean run
  // matches the first exactly.
  copy_sample(f.original, f.work.root);
  ASSERT_EQ(run_upgrade(f.work).exit_code, 0);
  EXPECT_EQ(first_difference(f.clean, dump_tree(f.work.root, compared_dirs())), "");
  // And it would see a change: the firms' version records moved.
  int files = 0;
  std::string diff = first_difference(f.before, f.clean, &files);
  EXPECT_NE(diff, "");
  EXPECT_GT(files, 10) << diff;
  EXPECT_EQ(f.clean.count("baza/firma1/wersja.dbf"), 1u);
  EXPECT_NE(f.before["baza/firma1/wersja.dbf"], f.clean["baza/firma1/wersja.dbf"]);
}

// The kill points of the run in two halves, each a test of its own, so that the two
// run side by side.
void end_at_file_operations(bool second_half) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  Tally tally("upgrade ended at file operation k of " + std::to_string(f.operations) +
              (second_half ? ", second half" : ", first half"));
  const std::vector<int> points = kill_points(f.operations, env_int("ZUV_CRASH_POINTS", kDefaultPoints));
  const std::size_t half = (points.size() + 1) / 2;
  for (std::size_t i = second_half ? half : 0; i < (second_half ? points.size() : half); ++i)
    tally.add("k=" + std::to_string(points[i]), crash_and_resume(f, points[i], 0));
  std::printf("%s\n", tally.summary().c_str());
  if (!std::getenv("ZUV_CRASH_AT")) {
    const int wanted = std::min(env_int("ZUV_CRASH_POINTS", kDefaultPoints), f.operations);
    EXPECT_GE(tally.tried, second_half ? wanted / 2 : (wanted + 1) / 2);
  }
  std::string listed;
  for (size_t i = 0; i < tally.failures.size() && i < 40; ++i) listed += tally.failures[i] + "\n";
  EXPECT_TRUE(tally.failures.empty()) << tally.summary() << "\n" << listed;
}

TEST(UpgradeCrash, EndedAtAnyFileOperationAndRunAgainGivesTheCleanResult) { end_at_file_operations(false); }
TEST(UpgradeCrash, EndedAtAnyFileOperationOfTheLaterHalfAndRunAgainGivesTheCleanResult) {
  end_at_file_operations(true);
}

TEST(UpgradeCrash, KilledAtRandomTimesAndRunAgainGivesTheCleanResult) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  const int kills = env_int("ZUV_CRASH_KILL9", 4);
  std::mt19937 random(static_cast<unsigned>(env_int("ZUV_CRASH_SEED", 17)));
  // Times over the whole run as the clean run took it (the copy before each is not
  // counted: the child starts after it).
  std::uniform_real_distribution<double> when(0.001, std::max(0.01, f.clean_seconds));
  Tally tally("upgrade killed with SIGKILL at random times");
  for (int i = 0; i < kills; ++i) {
    double t = when(random);
    char point[64];
    std::snprintf(point, sizeof point, "t=%.3fs", t);
    tally.add(point, crash_and_resume(f, 0, t));
  }
  std::printf("%s\n", tally.summary().c_str());
  std::string listed;
  for (size_t i = 0; i < tally.failures.size() && i < 40; ++i) listed += tally.failures[i] + "\n";
  EXPECT_TRUE(tally.failures.empty()) << tally.summary() << "\n" << listed;
}

// Firms upgraded two at once, each in a process of its own: killing the run kills its
// workers with it, and the run after it gives what one firm at a time gives.
TEST(UpgradeCrash, TwoFirmsAtOnceKilledAtRandomTimesAndRunAgainGiveTheCleanResult) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  copy_sample(f.original, f.work.root);
  ASSERT_EQ(run_upgrade(f.work, 0, false, 0, 2).exit_code, 0);
  EXPECT_EQ(first_difference(f.clean, dump_tree(f.work.root, compared_dirs(), &f.reference)), "");

  const int kills = env_int("ZUV_CRASH_KILL9", 4);
  std::mt19937 random(static_cast<unsigned>(env_int("ZUV_CRASH_SEED", 17) + 1));
  std::uniform_real_distribution<double> when(0.001, std::max(0.01, f.clean_seconds / 2));
  Tally tally("two firms at once, killed with SIGKILL at random times");
  for (int i = 0; i < kills; ++i) {
    double t = when(random);
    char point[64];
    std::snprintf(point, sizeof point, "t=%.3fs", t);
    tally.add(point, crash_and_resume(f, 0, t, 2));
  }
  std::printf("%s\n", tally.summary().c_str());
  std::string listed;
  for (size_t i = 0; i < tally.failures.size() && i < 40; ++i) listed += tally.failures[i] + "\n";
  EXPECT_TRUE(tally.failures.empty()) << tally.summary() << "\n" << listed;
}

// A firm that fails in one run (a table of its first step held by another program, or
// its worker killed) is carried through its remaining steps by the next run, and the
// database ends as a clean run leaves it.
TEST(UpgradeCrash, FirmWhoseTableWasHeldIsFinishedWhenRunAgain) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  const std::string tool = zuv::testing::table_tool_path("zuv-dbtool");
  if (tool.empty()) GTEST_SKIP() << "zuv-dbtool not built";
  copy_sample(f.original, f.work.root);
  const fs::path held = f.work.database() / "firma1" / "ksef_dat.dbf";
  ASSERT_TRUE(fs::exists(held));
  const fs::path ready = f.work.root / "ready", stop = f.work.root / "stop";
  zuv::testing::TableChild holder;
  ASSERT_TRUE(holder.start({tool, "hold", held.string(), "--ready", ready.string(), "--stop", stop.string()}));
  ASSERT_TRUE(zuv::testing::table_wait_for_file(ready.string(), 30000));
  const int first = run_upgrade(f.work).exit_code;
  std::ofstream(stop.string()).put('\n');
  EXPECT_EQ(holder.wait(), 0);
  fs::remove(ready);
  fs::remove(stop);
  ASSERT_EQ(first, 1) << read_bytes(f.work.root / "upgrade.out");
  ASSERT_EQ(run_upgrade(f.work).exit_code, 0) << read_bytes(f.work.root / "upgrade.out");
  EXPECT_EQ(first_difference(f.clean, dump_tree(f.work.root, compared_dirs(), &f.reference)), "");
}

// A release with a damaged template is refused before the database is touched.
TEST(UpgradeCrash, DamagedReleaseIsRefusedBeforeAnyChange) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  Sample damaged = f.work;
  damaged.shared_release = f.scratch / "damaged_release";
  std::error_code ec;
  fs::remove_all(damaged.shared_release, ec);
  fs::copy(f.original.release(), damaged.shared_release, fs::copy_options::recursive);
  auto str_file = [&](const char* name) {
    for (const auto& e : fs::directory_iterator(damaged.shared_release / "str"))
      if (lower(e.path().filename().string()) == name) return e.path();
    return fs::path();
  };
  // Cut short, and a header that claims 65,535 records.
  const fs::path inne = str_file("v_inne.dbf"), dok = str_file("ks_dok.dbf");
  ASSERT_FALSE(inne.empty());
  ASSERT_FALSE(dok.empty());
  for (const fs::path& broken : {inne, dok}) {
    SCOPED_TRACE(broken.filename().string());
    copy_sample(f.original, f.work.root);
    fs::remove_all(damaged.shared_release, ec);
    fs::copy(f.original.release(), damaged.shared_release, fs::copy_options::recursive);
    std::string bytes = read_bytes(broken);
    if (broken == inne) {
      bytes.resize(bytes.size() / 2);
    } else {
      bytes[4] = bytes[5] = '\xff';
      bytes[6] = bytes[7] = 0;
    }
    std::ofstream(broken, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(run_upgrade(damaged).exit_code, 2) << read_bytes(f.work.root / "upgrade.out");
    EXPECT_NE(read_bytes(f.work.root / "upgrade.out").find("uszkodzony plik"), std::string::npos);
    EXPECT_EQ(first_difference(f.before, dump_tree(f.work.root, compared_dirs())), "");
  }
  fs::remove_all(damaged.shared_release, ec);
}

// The same with the table made immutable (as an administrator or a backup program may
// leave it), on a file system that keeps the attribute.
TEST(UpgradeCrash, FirmWhoseTableWasImmutableIsFinishedWhenRunAgain) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  Sample disk = f.work;
  disk.root = fs::temp_directory_path() / ("zuv_immutable_" + std::to_string(::getpid()));
  copy_sample(f.original, disk.root);
  const fs::path held = disk.database() / "firma1" / "ksef_dat.dbf";
  auto chattr = [&](const char* flag) {
    return std::system(("chattr " + std::string(flag) + " '" + held.string() + "' 2>/dev/null").c_str()) == 0;
  };
  if (!chattr("+i")) {
    std::error_code ec;
    fs::remove_all(disk.root, ec);
    GTEST_SKIP() << "chattr +i is not available here";
  }
  const int first = run_upgrade(disk).exit_code;
  ASSERT_TRUE(chattr("-i"));
  EXPECT_EQ(first, 1) << read_bytes(disk.root / "upgrade.out");
  EXPECT_EQ(run_upgrade(disk).exit_code, 0) << read_bytes(disk.root / "upgrade.out");
  EXPECT_EQ(first_difference(f.clean, dump_tree(disk.root, compared_dirs(), &f.reference)), "");
  std::error_code ec;
  fs::remove_all(disk.root, ec);
}

// The processes whose parent is a child of this one: the run's workers.
std::vector<pid_t> grandchildren() {
  std::map<pid_t, pid_t> parent;
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    parent[std::atoi(name.c_str())] = ppid;
  }
  std::vector<pid_t> found;
  for (const auto& [pid, ppid] : parent)
    if (parent.count(ppid) && parent[ppid] == ::getpid()) found.push_back(pid);
  return found;
}

TEST(UpgradeCrash, FirmWhoseWorkerWasKilledIsFinishedWhenRunAgain) {
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  copy_sample(f.original, f.work.root);
  // Once a worker has begun to change its firm, every worker of the run is killed.
  bool killed = false;
  const int first = run_upgrade(f.work, 0, false, 0, 2, nullptr, 0, [&](pid_t child) {
    while (!killed && !child_ended(child)) {
      bool begun = false;
      for (const auto& e : fs::directory_iterator(f.work.database()))
        begun = begun || fs::exists(e.path() / "odzysk" / "krok.txt");
      if (begun)
        for (pid_t worker : grandchildren()) killed = ::kill(worker, SIGKILL) == 0 || killed;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }).exit_code;
  if (!killed) GTEST_SKIP() << "the run ended before a worker could be killed";
  EXPECT_EQ(first, 1) << read_bytes(f.work.root / "upgrade.out");
  ASSERT_EQ(run_upgrade(f.work, 0, false, 0, 2).exit_code, 0) << read_bytes(f.work.root / "upgrade.out");
  EXPECT_EQ(first_difference(f.clean, dump_tree(f.work.root, compared_dirs(), &f.reference)), "");
}

}  // namespace
}  // namespace zuv::crash
#endif
