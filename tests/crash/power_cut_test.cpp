// A power cut at a sync or a rename of an upgrade: every state the disk may hold then
// (each file as of its last sync plus none, all, all but the last or half of the last
// of its later writes; names only where their directory was synced), upgraded again,
// gives the clean run's database. A refusal counts as a failure: under a sound order
// of syncs no such state needs one.
//
// CI takes points spread over the run. By hand, every point:
//   ZUV_POWER_POINTS=0 ./test_crash --gtest_filter='PowerCut.*'
// ZUV_POWER_AT=k1,k2,... repeats the points a failure names; ZUV_POWER_SHARD=i/n takes
// the points k with k mod n = i, for n processes side by side; the sample is sized by
// the ZUV_CRASH_* variables of the crash tests.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdio>

#include "crash/crash_fixture.h"
#include "platform/os/power_cut.h"

namespace zuv::crash {
namespace {

namespace pc = os::power_cut;

constexpr int kDefaultCuts = 36;

// Hundreds of whole upgrades: the release build runs them; the sanitizer build checks
// the recorder's memory use in the unit tests of the OS layer.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "the power-cut runs are for the release build"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

const char* kept_name(pc::Kept k) {
  switch (k) {
    case pc::Kept::None: return "none";
    case pc::Kept::All: return "all";
    case pc::Kept::AllButLast: return "all-but-last";
    case pc::Kept::LastTorn: return "last-torn";
  }
  return "?";
}

// The steps' work files in the program's temp directory: a step makes and removes them
// in one go and nothing reads them after it, so one that a power cut brings back is
// left over, not wrong, and the next step that needs the name makes it afresh.
bool scratch_left(const std::string& rel) { return rel.rfind("program/temp/", 0) == 0; }

// The run cut at its k-th sync or rename; each state it leaves, upgraded again and
// compared. Answers one line per failing state.
std::vector<std::pair<std::string, std::string>> cut_and_resume(Fixture& f, int k) {
  copy_sample(f.original, f.work.root);
  pc::Plan plan;
  plan.root = f.work.root.string();
  plan.cut_at = k;
  for (pc::Kept kept : {pc::Kept::None, pc::Kept::All, pc::Kept::AllButLast, pc::Kept::LastTorn}) {
    const fs::path out = f.scratch / (std::string("cut_") + kept_name(kept));
    std::error_code ec;
    fs::remove_all(out, ec);
    plan.outputs.push_back({kept, out.string()});
  }
  const std::string point = "k=" + std::to_string(k);
  const ChildResult cut = run_upgrade(f.work, 0, false, 0, 1, &plan);
  if (cut.exit_code != pc::kCutExit)
    return {{point, "the run ended before its cut with " + std::to_string(cut.exit_code) + ": " +
                        read_bytes(f.work.root / "upgrade.out")}};
  std::vector<std::pair<std::string, std::string>> results;
  for (const pc::Output& o : plan.outputs) {
    if (!fs::exists(o.directory)) continue;  // the same files as a state before it
    Sample state = f.work;
    state.root = o.directory;
    results.push_back({point + " " + kept_name(o.kept), resume_and_compare(f, state, "", 1, scratch_left)});
  }
  return results;
}

TEST(PowerCut, AtSyncsAndRenamesTheNextRunGivesTheCleanResult) {
  SKIP_UNDER_SANITIZERS();
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  copy_sample(f.original, f.work.root);
  pc::Plan counting;
  counting.root = f.work.root.string();
  const ChildResult counted = run_upgrade(f.work, 0, true, 0, 1, &counting);
  ASSERT_EQ(counted.exit_code, 0) << read_bytes(f.work.root / "upgrade.out");
  const int points = counted.operations;
  ASSERT_GT(points, 50);

  const int wanted = env_int("ZUV_POWER_POINTS", kDefaultCuts);
  std::vector<int> at;
  if (const char* listed = std::getenv("ZUV_POWER_AT"); listed && *listed) {
    std::istringstream s(listed);
    for (std::string k; std::getline(s, k, ',');)
      if (!k.empty()) at.push_back(std::atoi(k.c_str()));
  } else if (wanted <= 0) {
    for (int k = 1; k <= points; ++k) at.push_back(k);
  } else {
    at = kill_points(points, wanted);
    at.erase(std::remove_if(at.begin(), at.end(), [&](int k) { return k > points; }), at.end());
  }
  if (const char* shard = std::getenv("ZUV_POWER_SHARD"); shard && *shard) {
    int i = 0, n = 1;
    if (std::sscanf(shard, "%d/%d", &i, &n) == 2 && n > 0)
      at.erase(std::remove_if(at.begin(), at.end(), [&](int k) { return k % n != i; }), at.end());
  }
  Tally tally("power cut at sync or rename k of " + std::to_string(points));
  int states = 0;
  for (int k : at)
    for (const auto& [point, what] : cut_and_resume(f, k)) {
      ++states;
      tally.add(point, what.empty() ? what : what + " (ZUV_POWER_AT=" + std::to_string(k) + ")");
    }
  std::printf("%s; states upgraded %d\n", tally.summary().c_str(), states);
  EXPECT_GE(states, static_cast<int>(at.size()));
  std::string listed;
  for (size_t i = 0; i < tally.failures.size() && i < 40; ++i) listed += tally.failures[i] + "\n";
  EXPECT_TRUE(tally.failures.empty()) << tally.summary() << "\n" << listed;
}

// A sync that fails ends the work it was to make durable (the firm fails, or the run
// stops): the run never ends as if it had written, and the next run, on a sound disk,
// gives the clean result.
TEST(PowerCut, AFailedSyncIsNeverTakenAsWrittenAndTheNextRunFinishes) {
  SKIP_UNDER_SANITIZERS();
  Fixture& f = fixture();
  if (!f.problem.empty()) FAIL() << f.problem;
  copy_sample(f.original, f.work.root);
  const ChildResult counted = run_upgrade(f.work, 0, true, 0, 1, nullptr, -1);
  ASSERT_EQ(counted.exit_code, 0) << read_bytes(f.work.root / "upgrade.out");
  const int syncs = counted.operations;
  ASSERT_GT(syncs, 20);
  Tally tally("sync n of " + std::to_string(syncs) + " failing");
  for (int n : kill_points(syncs, env_int("ZUV_SYNC_FAULTS", kDefaultCuts / 3))) {
    if (n > syncs) continue;
    copy_sample(f.original, f.work.root);
    const ChildResult failed = run_upgrade(f.work, 0, false, 0, 1, nullptr, n);
    const std::string point = "sync " + std::to_string(n);
    if (failed.exit_code == 0) {
      tally.add(point, "the run ended with success over a failed sync");
      continue;
    }
    tally.add(point, resume_and_compare(f, f.work, " (exit " + std::to_string(failed.exit_code) + ")"));
  }
  std::printf("%s\n", tally.summary().c_str());
  std::string listed;
  for (size_t i = 0; i < tally.failures.size() && i < 40; ++i) listed += tally.failures[i] + "\n";
  EXPECT_TRUE(tally.failures.empty()) << tally.summary() << "\n" << listed;
}

}  // namespace
}  // namespace zuv::crash
#endif
