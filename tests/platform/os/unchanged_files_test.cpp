// Files remembered as unchanged are forgotten at every change this layer makes to them,
// held writes included, and a file put in their place or written by another program is
// told apart by what the disk says of it.
#include "platform/os/unchanged_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/os/change_guard.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/held_writes.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

// Lets every file be held.
struct HoldAll : ChangeWatcher {
  int before_change(const std::string&, Change, const FileHandle*) override { return 0; }
  bool keeps(const std::string&) override { return true; }
  bool may_hold(const std::string&) override { return true; }
};

TEST(UnchangedFiles, EveryChangeOfARememberedFileForgetsIt) {
  ScratchDir dir;
  const std::string a = dir.path() + "a.dbf", b = dir.path() + "b.dbf";
  write_all(a, std::string(70000, 'a'));
  write_all(b, std::string(100, 'b'));
  unchanged_files::forget_all();
  EXPECT_FALSE(unchanged_files::unchanged(a));
  unchanged_files::remember(a);
  unchanged_files::remember(b);
  EXPECT_TRUE(unchanged_files::unchanged(a));
  {
    // Opened and read: still unchanged.
    FileHandle h;
    ASSERT_EQ(h.open(native_path(a), Access::ReadWrite, Share::Exclusive), 0);
    char c = 0;
    ASSERT_EQ(h.read_exact(10, &c, 1), 0);
  }
  EXPECT_TRUE(unchanged_files::unchanged(a));

  auto through_handle = [&](auto change) {
    unchanged_files::remember(a);
    ASSERT_TRUE(unchanged_files::unchanged(a));
    FileHandle h;
    ASSERT_EQ(h.open(native_path(a), Access::ReadWrite, Share::Exclusive), 0);
    change(h);
    EXPECT_FALSE(unchanged_files::unchanged(a));
  };
  {
    SCOPED_TRACE("written in place");
    through_handle([](FileHandle& h) { ASSERT_EQ(h.write_at(5, "x", 1), 0); });
  }
  {
    SCOPED_TRACE("truncated");
    through_handle([](FileHandle& h) { ASSERT_EQ(h.truncate(69000), 0); });
  }
  {
    SCOPED_TRACE("written while held, the disk untouched");
    HoldAll w;
    const std::size_t budget = held_writes::budget();
    held_writes::set_budget(8u << 20);
    change_guard::watch(&w);
    const std::string before = read_all(a);
    through_handle([](FileHandle& h) {
      ASSERT_EQ(h.write_at(5, "y", 1), 0);
      EXPECT_TRUE(h.holding());
    });
    EXPECT_EQ(read_all(a), before);
    held_writes::drop_all();
    change_guard::watch(nullptr);
    held_writes::set_budget(budget);
  }
  {
    SCOPED_TRACE("another file renamed over it");
    unchanged_files::remember(a);
    write_all(dir.path() + "c.dbf", std::string(69000, 'c'));
    ASSERT_TRUE(rename_file(dir.path() + "c.dbf", a));
    EXPECT_FALSE(unchanged_files::unchanged(a));
  }
  {
    SCOPED_TRACE("written by another program, past this layer");
    unchanged_files::remember(b);
    std::FILE* f = std::fopen(native_path(b).c_str(), "ab");
    ASSERT_NE(f, nullptr);
    std::fputs("more", f);
    std::fclose(f);
    EXPECT_FALSE(unchanged_files::unchanged(b));
  }
  unchanged_files::remember(a);
  unchanged_files::forget_all();
  EXPECT_FALSE(unchanged_files::unchanged(a));
  EXPECT_FALSE(unchanged_files::any());
}

}  // namespace
}  // namespace zuv::os
