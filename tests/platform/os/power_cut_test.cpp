// The disk that forgets: what it writes out at a cut is what a power cut there could
// leave, and it catches an order of syncs that is not sound.
#ifndef _WIN32
#include "platform/os/power_cut.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/os/durable.h"
#include "platform/os/file_handle.h"

namespace zuv::os {
namespace {

namespace fs = std::filesystem;
namespace pc = power_cut;

constexpr pc::Kept kAllKinds[] = {pc::Kept::None, pc::Kept::All, pc::Kept::AllButLast, pc::Kept::LastTorn};

class PowerCut : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(base_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(base_); }

  std::string in_root(const std::string& name) const { return (root_ / name).string(); }
  fs::path state(pc::Kept kept) const { return base_ / ("state" + std::to_string(static_cast<int>(kept))); }

  static void put(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
  // A file of a written-out state; "<none>" when the state has no such file.
  std::string got(pc::Kept kept, const std::string& name) const {
    const fs::path p = state(kept) / name;
    if (!fs::exists(p)) return "<none>";
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // The files as the test starts them, put back before every run (a run changes them
  // on the real disk up to its cut).
  std::function<void()> prepare = [] {};

  // work runs in a child that records from its start and is cut just before its k-th
  // sync or rename (0: never). Answers the points the work met, or -1 for a cut.
  int run_cut_at(int k, const std::function<void()>& work) {
    prepare();
    pc::Plan plan;
    plan.root = root_.string();
    plan.cut_at = k;
    for (pc::Kept kept : kAllKinds) {
      fs::remove_all(state(kept));
      plan.outputs.push_back({kept, state(kept).string()});
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      pc::start(plan);
      work();
      ::_exit(std::min(pc::points(), 90));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return -2;
    return WEXITSTATUS(status) == pc::kCutExit ? -1 : WEXITSTATUS(status);
  }

  fs::path base_ = fs::temp_directory_path() / ("zuv_power_cut_" + std::to_string(::getpid()));
  fs::path root_ = base_ / "root";
};

void must(int rc) { ASSERT_EQ(rc, 0); }

TEST_F(PowerCut, WritesAfterTheLastSyncAreKeptByPrefixes) {
  prepare = [&] { put(root_ / "f.dat", ""); };
  auto work = [&] {
    FileHandle f;
    must(f.open(in_root("f.dat"), Access::ReadWrite, Share::Exclusive));
    must(f.write_at(0, "AAAA", 4));
    must(f.flush());
    must(f.write_at(4, "BBBB", 4));
    must(f.write_at(8, "CCCC", 4));
    must(sync_directory(root_.string()));
  };
  ASSERT_EQ(run_cut_at(0, work), 2);
  ASSERT_EQ(run_cut_at(2, work), -1);
  EXPECT_EQ(got(pc::Kept::None, "f.dat"), "AAAA");
  EXPECT_EQ(got(pc::Kept::All, "f.dat"), "AAAABBBBCCCC");
  EXPECT_EQ(got(pc::Kept::AllButLast, "f.dat"), "AAAABBBB");
  EXPECT_EQ(got(pc::Kept::LastTorn, "f.dat"), "AAAABBBBCC");
  // At the first point nothing was synced: the file is as it was.
  ASSERT_EQ(run_cut_at(1, work), -1);
  EXPECT_EQ(got(pc::Kept::None, "f.dat"), "");
  EXPECT_EQ(got(pc::Kept::All, "f.dat"), "AAAA");
}

TEST_F(PowerCut, NamesLastOnlyWhereTheirDirectoryWasSynced) {
  prepare = [&] {
    fs::remove(root_ / "new.txt");
    put(root_ / "old.txt", "old");
    fs::create_directories(root_ / "sub");
    put(root_ / "sub" / "keep.txt", "keep");
  };
  auto work = [&](bool directory_synced) {
    return [&, directory_synced] {
      FileHandle f;
      must(f.create(in_root("new.txt"), Share::Exclusive));
      must(f.write_at(0, "new", 3));
      must(f.flush());
      f.close();
      must(remove_file(in_root("old.txt")));
      if (directory_synced) must(sync_directory(root_.string()));
      must(sync_file(in_root("sub/keep.txt")));
    };
  };
  ASSERT_EQ(run_cut_at(2, work(false)), -1);
  for (pc::Kept kept : kAllKinds) {
    if (!fs::exists(state(kept))) continue;
    EXPECT_EQ(got(kept, "new.txt"), "<none>");
    EXPECT_EQ(got(kept, "old.txt"), "old");
    EXPECT_EQ(got(kept, "sub/keep.txt"), "keep");
  }
  ASSERT_EQ(run_cut_at(3, work(true)), -1);
  EXPECT_EQ(got(pc::Kept::None, "new.txt"), "new");
  EXPECT_EQ(got(pc::Kept::None, "old.txt"), "<none>");
  // States whose files would all be the same as an earlier one's are not written.
  EXPECT_FALSE(fs::exists(state(pc::Kept::All)));
}

// Written beside, synced, renamed in, the directory synced: at every point the target
// holds its old bytes or its new ones, whole. A rename before the sync is caught.
TEST_F(PowerCut, TheSoundReplaceKeepsOldOrNewAndARenameBeforeItsSyncIsCaught) {
  const std::string old_bytes = "the old contents", new_bytes = "the new contents, longer";
  prepare = [&] {
    put(root_ / "t.dat", old_bytes);
    fs::remove(root_ / (std::string("t.dat") + kNewSuffix));
  };
  auto sound = [&] {
    ASSERT_TRUE(write_durably(in_root("t.dat"), new_bytes).ok());
    must(sync_file(in_root("t.dat")));
  };
  const int points = run_cut_at(0, sound);
  ASSERT_GE(points, 3);
  for (int k = 1; k <= points; ++k) {
    ASSERT_EQ(run_cut_at(k, sound), -1);
    for (pc::Kept kept : kAllKinds) {
      if (!fs::exists(state(kept))) continue;
      const std::string t = got(kept, "t.dat");
      EXPECT_TRUE(t == old_bytes || t == new_bytes) << "k=" << k << ": " << t;
    }
  }

  auto planted = [&] {
    FileHandle f;
    const std::string temp = in_root("t.dat") + kNewSuffix;
    must(f.create(temp, Share::Exclusive));
    must(f.write_at(0, new_bytes.data(), new_bytes.size()));
    f.close();
    must(detail::rename_told(temp, in_root("t.dat")));
    must(sync_directory(root_.string()));
    must(sync_file(in_root("t.dat")));
  };
  ASSERT_EQ(run_cut_at(3, planted), -1);
  EXPECT_EQ(got(pc::Kept::None, "t.dat"), "");
  EXPECT_EQ(got(pc::Kept::LastTorn, "t.dat"), new_bytes.substr(0, new_bytes.size() / 2));
}

}  // namespace
}  // namespace zuv::os
#endif
