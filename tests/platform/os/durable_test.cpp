// The one durable replace: a failure at any step leaves the target's old bytes (or,
// past the rename, its new ones), never the file beside it, and names the step; the
// watcher that keeps a file takes its syncs over, and only it.
#include "platform/os/durable.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/os/change_guard.h"
#include "platform/os/fault.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

constexpr int kInjected = 1117;

struct Case {
  fault::Op op;
  int nth;
  const char* step;
  bool target_new;  // the failure comes after the swap
};

TEST(DurableReplace, AFailureAtEachStepIsNamedAndLeavesNoFileBeside) {
  const Case cases[] = {
      {fault::Op::Create, 1, replace_step::kWrite, false},
      {fault::Op::Write, 1, replace_step::kWrite, false},
      {fault::Op::Sync, 1, replace_step::kSyncFile, false},
      {fault::Op::Rename, 1, replace_step::kRename, false},
      {fault::Op::Sync, 2, replace_step::kSyncDirectory, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    ScratchDir dir;
    write_all(dir / "raport.txt", "stary");
    const std::string target = native_path(dir / "raport.txt");
    Status st;
    {
      fault::Scope scope;
      fault::arm(c.op, c.nth, kInjected);
      st = write_durably(target, "nowy");
    }
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(st.code, kInjected);
    EXPECT_EQ(st.text(), c.step);
    EXPECT_EQ(st.path(), target);
    EXPECT_EQ(read_all(dir / "raport.txt"), c.target_new ? "nowy" : "stary");
    EXPECT_FALSE(file_exists(dir / (std::string("raport.txt") + kNewSuffix)));
  }
}

TEST(DurableReplace, SyncsTheFileAndItsDirectoryAndRefusesWhatRenameRefuses) {
  ScratchDir dir;
  // A target that does not exist yet, then one that does.
  for (const char* bytes : {"pierwszy", "drugi"}) {
    fault::Scope scope;
    fault::start_counting();
    ASSERT_TRUE(write_durably(native_path(dir / "a.txt"), bytes).ok());
    EXPECT_EQ(fault::counted(fault::Op::Sync), 2) << "the new file, then its directory";
    EXPECT_EQ(read_all(dir / "a.txt"), bytes);
  }
  // Windows text: a read-only target stays as it was, and so does nothing beside it.
  ASSERT_TRUE(change_attributes(dir / "a.txt", "+R").ok());
  write_all(dir / "a.new", "trzeci");
  Status st = rename_durably(dir / "a.new", dir / "a.txt");
  EXPECT_EQ(st.code, oscode::kAccessDenied);
  EXPECT_EQ(st.text(), replace_step::kRename);
  EXPECT_EQ(read_all(dir / "a.txt"), "drugi");
  EXPECT_FALSE(file_exists(dir / "a.new"));
  ASSERT_TRUE(change_attributes(dir / "a.txt", "-R").ok());
}

TEST(DurableReplace, FailuresCarryTheirTextAndPathAndSuccessCarriesNothing) {
  Status ok = Status::success();
  EXPECT_TRUE(ok.ok());
  EXPECT_EQ(ok.text(), "");
  EXPECT_EQ(ok.path(), "");
  Status plain = Status::failure(5);
  EXPECT_EQ(plain.text(), "");
  Status told = Status::failure(0, "Błąd", "C:\\a.dbf");
  EXPECT_EQ(told.code, oscode::kIoError) << "a failure without an OS code is still a failure";
  EXPECT_EQ(told.text(), "Błąd");
  EXPECT_EQ(told.path(), "C:\\a.dbf");
  Status copy = told;
  EXPECT_EQ(copy.path(), told.path());
}

// Keeps every file it is told of, as the upgrade's step keeper does.
struct Keeper : ChangeWatcher {
  bool keep = true;
  int before_change(const std::string&, Change, const FileHandle*) override { return 0; }
  bool keeps(const std::string&) override { return keep; }
};

struct Watching {
  explicit Watching(ChangeWatcher* w) { change_guard::watch(w); }
  ~Watching() { change_guard::watch(nullptr); }
};

TEST(DurableReplace, AWatcherThatKeepsTheFileTakesItsSyncsOverAndOnlyThen) {
  ScratchDir dir;
  write_all(dir / "t.dbf", "stary");
  const std::string target = native_path(dir / "t.dbf");
  for (bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "kept" : "not kept");
    Keeper keeper;
    keeper.keep = keep;
    Watching w(&keeper);
    fault::Scope scope;
    fault::start_counting();
    ASSERT_TRUE(write_durably(target, keep ? "nowy" : "nowszy").ok());
    EXPECT_EQ(fault::counted(fault::Op::Sync), keep ? 0 : 2);
    // A handle hears the watcher's answer with its first change, and flushes by it.
    FileHandle h;
    ASSERT_EQ(h.open(target, Access::ReadWrite, Share::Exclusive), 0);
    EXPECT_FALSE(h.kept_by_watcher()) << "nothing told yet";
    ASSERT_EQ(h.write_at(0, "X", 1), 0);
    EXPECT_EQ(h.kept_by_watcher(), keep);
    ASSERT_EQ(h.flush(), 0);
  }
  // The watch over, the handle's answer no longer holds.
  FileHandle h;
  ASSERT_EQ(h.open(target, Access::ReadWrite, Share::Exclusive), 0);
  ASSERT_EQ(h.write_at(0, "Y", 1), 0);
  EXPECT_FALSE(h.kept_by_watcher());
}

}  // namespace
}  // namespace zuv::os
