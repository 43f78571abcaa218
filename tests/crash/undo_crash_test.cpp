// The undo of an installation ended at any file operation, or cut by a power failure at
// a sync or rename, and run again, gives back the sample exactly; an upgrade meeting
// the half-done undo refuses; and an undo refuses, changing nothing, once anybody has
// worked on the upgraded trees.
//
// CI takes points spread over the undo. By hand, every point:
//   ZUV_UNDO_POINTS=0 ZUV_UNDO_CUTS=0 ./test_crash --gtest_filter='Undo*'
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdio>

#include "crash/crash_fixture.h"
#include "platform/os/power_cut.h"

namespace zuv::crash {
namespace {

namespace pc = os::power_cut;

// The sample upgraded once, kept as the start of every undo below.
struct Upgraded {
  Sample sample;
  std::string problem;
  Upgraded() {
    Fixture& f = fixture();
    if (!f.problem.empty()) {
      problem = f.problem;
      return;
    }
    sample = f.work;
    sample.root = f.scratch / "upgraded";
    copy_sample(f.original, sample.root);
    if (run_upgrade(sample).exit_code != 0) problem = "the upgrade failed: " + read_bytes(sample.root / "upgrade.out");
  }
};

Upgraded& upgraded() {
  static Upgraded u;
  return u;
}

// A fresh copy of the upgraded sample to undo.
Sample fresh_copy(const std::string& name) {
  Sample s = upgraded().sample;
  s.root = fixture().scratch / name;
  copy_sample(upgraded().sample, s.root);
  return s;
}

std::vector<int> chosen_points(int operations, const char* variable, int fallback) {
  const int wanted = env_int(variable, fallback);
  std::vector<int> at;
  if (wanted <= 0) {
    for (int k = 1; k <= operations; ++k) at.push_back(k);
    return at;
  }
  at = kill_points(operations, wanted);
  at.erase(std::remove_if(at.begin(), at.end(), [&](int k) { return k > operations; }), at.end());
  return at;
}

TEST(UndoCrash, KilledAtAFileOperationTheNextUndoFinishesIt) {
  if (!upgraded().problem.empty()) FAIL() << upgraded().problem;
  Fixture& f = fixture();
  Sample w = fresh_copy("undo_work");
  const ChildResult counted = run_undo(w, 0, true);
  ASSERT_EQ(counted.exit_code, 0) << read_bytes(w.root / "upgrade.out");
  ASSERT_EQ(raw_difference(f.raw_before, raw_tree(w.root)), "");
  ASSERT_GT(counted.operations, 20);

  Tally tally("undo ended at file operation k of " + std::to_string(counted.operations));
  const std::vector<int> points = chosen_points(counted.operations, "ZUV_UNDO_POINTS", 30);
  for (size_t i = 0; i < points.size(); ++i) {
    const int k = points[i];
    w = fresh_copy("undo_work");
    const ChildResult killed = run_undo(w, k);
    std::string what;
    if (killed.exit_code != 99) {
      what = "the killed undo ended by itself with " + std::to_string(killed.exit_code);
    } else {
      // Halfway, an upgrade meets the half-done undo and refuses, changing nothing.
      if (i == points.size() / 2) {
        const auto before = raw_tree(w.root);
        const ChildResult upgrade = run_upgrade(w);
        if (upgrade.exit_code != 2)
          what = "an upgrade over a half-done undo ended with " + std::to_string(upgrade.exit_code);
        else if (std::string d = raw_difference(before, raw_tree(w.root)); !d.empty())
          what = "the refused upgrade changed the trees: " + d;
      }
      const ChildResult again = run_undo(w);
      if (what.empty() && again.exit_code != 0)
        what = "the next undo ended with " + std::to_string(again.exit_code) + ": " + read_bytes(w.root / "upgrade.out");
      if (what.empty()) what = raw_difference(f.raw_before, raw_tree(w.root));
    }
    tally.add("k=" + std::to_string(k), what);
  }
  std::printf("%s\n", tally.summary().c_str());
  EXPECT_TRUE(tally.failures.empty()) << tally.summary();
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(UndoCrash, CutByAPowerFailureTheNextUndoFinishesIt) {
  if (!upgraded().problem.empty()) FAIL() << upgraded().problem;
  Fixture& f = fixture();
  Sample w = fresh_copy("undo_power");
  pc::Plan counting;
  counting.root = w.root.string();
  const ChildResult counted = run_undo(w, 0, true, &counting);
  ASSERT_EQ(counted.exit_code, 0) << read_bytes(w.root / "upgrade.out");
  ASSERT_GT(counted.operations, 10);

  Tally tally("undo cut at sync or rename k of " + std::to_string(counted.operations));
  for (int k : chosen_points(counted.operations, "ZUV_UNDO_CUTS", 8)) {
    w = fresh_copy("undo_power");
    pc::Plan plan;
    plan.root = w.root.string();
    plan.cut_at = k;
    for (pc::Kept kept : {pc::Kept::None, pc::Kept::All, pc::Kept::LastTorn}) {
      const fs::path out = f.scratch / ("undo_cut_" + std::to_string(static_cast<int>(kept)));
      std::error_code ec;
      fs::remove_all(out, ec);
      plan.outputs.push_back({kept, out.string()});
    }
    const ChildResult cut = run_undo(w, 0, false, &plan);
    if (cut.exit_code != pc::kCutExit) {
      tally.add("k=" + std::to_string(k), "the undo ended before its cut with " + std::to_string(cut.exit_code));
      continue;
    }
    for (const pc::Output& o : plan.outputs) {
      if (!fs::exists(o.directory)) continue;
      Sample state = w;
      state.root = o.directory;
      const ChildResult again = run_undo(state);
      std::string what = again.exit_code == 0 ? raw_difference(f.raw_before, raw_tree(state.root))
                                              : "the next undo ended with " + std::to_string(again.exit_code) +
                                                    ": " + read_bytes(state.root / "upgrade.out");
      tally.add("k=" + std::to_string(k) + " kept=" + std::to_string(static_cast<int>(o.kept)), what);
    }
  }
  std::printf("%s\n", tally.summary().c_str());
  EXPECT_TRUE(tally.failures.empty()) << tally.summary();
}
#endif

// Somebody worked after the installation: the undo refuses with 2 and changes nothing.
TEST(UndoRefusal, AChangedRecordANewFileOrANewFirmRefusesAndChangesNothing) {
  if (!upgraded().problem.empty()) FAIL() << upgraded().problem;
  struct Case {
    const char* name;
    std::function<void(const fs::path& root)> work;
  };
  const std::vector<Case> cases = {
      {"one record changed in one firm",
       [](const fs::path& root) {
         // The last byte of the first record of a firm's table: a field's character.
         const fs::path dbf = root / "baza" / "firma1" / "wersja.dbf";
         std::string bytes = read_bytes(dbf);
         const size_t header = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
         const size_t length = static_cast<unsigned char>(bytes[10]) | static_cast<unsigned char>(bytes[11]) << 8;
         bytes[header + length - 1] = bytes[header + length - 1] == 'X' ? 'Y' : 'X';
         std::ofstream(dbf, std::ios::binary | std::ios::trunc) << bytes;
       }},
      {"a new file beside tables the upgrade never touched",
       [](const fs::path& root) { std::ofstream(root / "baza" / "public" / "notatka.txt") << "x"; }},
      {"a new firm directory",
       [](const fs::path& root) {
         fs::create_directories(root / "baza" / "firma9");
         std::ofstream(root / "baza" / "firma9" / "wersja.dbf") << "x";
       }},
      {"a file gone from the program directory",
       [](const fs::path& root) { fs::remove(root / "program" / "baza.dbf"); }},
  };
  for (const Case& c : cases) {
    Sample w = fresh_copy("undo_refused");
    c.work(w.root);
    const auto before = raw_tree(w.root);
    const ChildResult undo = run_undo(w);
    EXPECT_EQ(undo.exit_code, 2) << c.name << ": " << read_bytes(w.root / "upgrade.out");
    EXPECT_EQ(raw_difference(before, raw_tree(w.root)), "") << c.name;
    EXPECT_NE(read_bytes(w.root / "upgrade.out").find("cofnięcie niemożliwe"), std::string::npos) << c.name;
  }
}

}  // namespace
}  // namespace zuv::crash
#endif
