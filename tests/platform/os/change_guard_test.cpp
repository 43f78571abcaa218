// The change watcher hears of every way a file's bytes or name can change through the
// OS layer, once per handle and watch, and a refusal stops the change.
#include "platform/os/change_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

struct Recorder : ChangeWatcher {
  std::vector<std::string> heard;
  int answer = 0;
  int before_change(const std::string& native, Change change, const FileHandle* open) override {
    heard.push_back(std::string(change == Change::Unlink ? "unlink " : change == Change::Move ? "move " : "write ") +
                    std::string(file_name_part(native)) +
                    (open ? " (open)" : ""));
    return answer;
  }
};

struct Watching {
  explicit Watching(ChangeWatcher* w) { change_guard::watch(w); }
  ~Watching() { change_guard::watch(nullptr); }
};

TEST(ChangeGuard, EveryKindOfChangeIsHeardBeforeItHappens) {
  ScratchDir dir;
  write_all(dir.path() + "a.dbf", "aaaa");
  write_all(dir.path() + "b.dbf", "bbbb");
  Recorder r;
  {
    Watching w(&r);
    FileHandle h;
    ASSERT_EQ(h.open(native_path(dir.path() + "a.dbf"), Access::ReadWrite, Share::Shared), 0);
    ASSERT_EQ(h.write_at(0, "x", 1), 0);
    ASSERT_EQ(h.write_at(1, "y", 1), 0);  // the same handle is heard once
    ASSERT_EQ(h.truncate(2), 0);
    h.close();
    ASSERT_TRUE(write_file(dir.path() + "c.txt", "c").ok());
    ASSERT_TRUE(copy_file(dir.path() + "c.txt", dir.path() + "d.txt").ok());
    ASSERT_TRUE(rename_file(dir.path() + "d.txt", dir.path() + "b.dbf").ok());
    ASSERT_TRUE(delete_file(dir.path() + "c.txt").ok());
    ASSERT_EQ(replace_file(native_path(dir.path() + "b.dbf"), native_path(dir.path() + "a.dbf")), 0);
  }
  // A rename's source is told apart: its bytes live on under the new name.
  EXPECT_EQ(r.heard, (std::vector<std::string>{"write a.dbf (open)", "write c.txt", "write d.txt", "unlink b.dbf",
                                               "move d.txt", "unlink c.txt", "unlink a.dbf", "move b.dbf"}));
  // Nobody watching: nothing heard.
  ASSERT_TRUE(write_file(dir.path() + "e.txt", "e").ok());
  EXPECT_EQ(r.heard.size(), 8u);
}

// A run's watcher is told first and apart from a step's: both hear every change, and
// one that the run's watcher refuses reaches neither the step's nor the disk.
TEST(ChangeGuard, TheRunsWatcherIsToldBeforeTheStepsAndCanStopTheChange) {
  ScratchDir dir;
  write_all(dir.path() + "a.dbf", "aaaa");
  Recorder run, step;
  change_guard::watch_outer(&run);
  {
    Watching w(&step);
    ASSERT_TRUE(write_file(dir.path() + "b.txt", "b").ok());
    run.answer = 112;
    EXPECT_FALSE(delete_file(dir.path() + "a.dbf").ok());
  }
  change_guard::watch_outer(nullptr);
  EXPECT_EQ(run.heard, (std::vector<std::string>{"write b.txt", "unlink a.dbf"}));
  EXPECT_EQ(step.heard, (std::vector<std::string>{"write b.txt"}));
  EXPECT_EQ(read_all(dir.path() + "a.dbf"), "aaaa");
  EXPECT_FALSE(change_guard::watching());
}

TEST(ChangeGuard, RefusedChangeDoesNotHappenAndANewWatchAsksAgain) {
  ScratchDir dir;
  write_all(dir.path() + "a.dbf", "aaaa");
  Recorder r;
  r.answer = 112;
  FileHandle h;
  ASSERT_EQ(h.open(native_path(dir.path() + "a.dbf"), Access::ReadWrite, Share::Shared), 0);
  {
    Watching w(&r);
    EXPECT_EQ(h.write_at(0, "x", 1), 112);
    EXPECT_EQ(delete_file(dir.path() + "a.dbf").code, 112);
    EXPECT_EQ(rename_file(dir.path() + "a.dbf", dir.path() + "z.dbf").code, 112);
  }
  EXPECT_EQ(read_all(dir.path() + "a.dbf"), "aaaa");
  r.answer = 0;
  {
    Watching w(&r);
    EXPECT_EQ(h.write_at(0, "x", 1), 0);
  }
  {
    Watching w(&r);  // a later watch hears the same handle again
    EXPECT_EQ(h.write_at(1, "y", 1), 0);
  }
  h.close();
  EXPECT_EQ(read_all(dir.path() + "a.dbf"), "xyaa");
  EXPECT_EQ(r.heard.size(), 5u);
}

}  // namespace
}  // namespace zuv::os
