// Writes held in memory while a watcher lets them wait: every reader sees them, the
// disk does not until they are written out, and what is written out is byte for byte
// what writing through at once would have left.
#include "platform/os/held_writes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/os/change_guard.h"
#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

// Lets every file not yet told of be held, and notes what it is told.
struct Holder : ChangeWatcher {
  std::vector<std::string> heard;
  std::vector<std::string> told_names;
  int before_change(const std::string& native, Change change, const FileHandle*) override {
    const std::string name(file_name_part(native));
    heard.push_back(std::string(change == Change::Unlink ? "unlink " : change == Change::Move ? "move " : "write ") +
                    name);
    told_names.push_back(name);
    return 0;
  }
  bool keeps(const std::string&) override { return true; }
  bool may_hold(const std::string& native) override {
    const std::string name(file_name_part(native));
    for (const std::string& n : told_names)
      if (n == name) return false;
    return true;
  }
};

struct Holding {
  explicit Holding(ChangeWatcher* w, std::size_t budget = 8u << 20) : was(held_writes::budget()) {
    held_writes::set_budget(budget);
    change_guard::watch(w);
  }
  ~Holding() {
    held_writes::drop_all();
    change_guard::watch(nullptr);
    held_writes::set_budget(was);
  }
  std::size_t was;
};

std::string read_through(FileHandle& h) {
  std::uint64_t size = 0;
  EXPECT_EQ(h.size(size), 0);
  std::string out(size, '\0');
  EXPECT_EQ(h.read_exact(0, out.data(), out.size()), 0);
  return out;
}

// The same writes, extensions and truncations through a held handle and straight to a
// plain file: reads agree at every point, the disk keeps the old bytes meanwhile, and
// the file written out equals the plain one. A small budget makes some runs go to the
// disk midway.
TEST(HeldWrites, ReadsAndTheWrittenOutFileMatchWritingThrough) {
  for (std::size_t budget : {std::size_t(8) << 20, std::size_t(6) * held_writes::kPage}) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE("budget " + std::to_string(budget) + " seed " + std::to_string(seed));
      ScratchDir dir;
      std::mt19937 rng(seed);
      std::string start(70000 + rng() % 9000, '\0');
      for (char& c : start) c = static_cast<char>('a' + rng() % 26);
      write_all(dir.path() + "t.dbf", start);
      write_all(dir.path() + "plain.dbf", start);
      Holder w;
      Holding on(&w, budget);
      FileHandle held, plain;
      ASSERT_EQ(held.open(native_path(dir.path() + "t.dbf"), Access::ReadWrite, Share::Exclusive), 0);
      ASSERT_EQ(plain.open(native_path(dir.path() + "plain.dbf"), Access::ReadWrite, Share::Exclusive), 0);
      for (int op = 0; op < 60; ++op) {
        std::uint64_t size = 0;
        ASSERT_EQ(plain.size(size), 0);
        if (rng() % 7 == 0) {
          const std::uint64_t length = rng() % (size + 9000);
          ASSERT_EQ(held.truncate(length), 0);
          ASSERT_EQ(plain.truncate(length), 0);
        } else {
          const std::uint64_t at = rng() % (size + 6000);
          std::string bytes(1 + rng() % 9000, static_cast<char>('A' + op % 26));
          ASSERT_EQ(held.write_at(at, bytes.data(), bytes.size()), 0);
          ASSERT_EQ(plain.write_at(at, bytes.data(), bytes.size()), 0);
        }
        ASSERT_EQ(read_through(held), read_through(plain)) << "after operation " << op;
      }
      const bool still_held = held.holding();
      const std::string expected = read_through(plain);
      EXPECT_EQ(file_size(dir.path() + "t.dbf").value, expected.size());
      // Closed (Windows lets nobody else read a file opened alone), the disk's bytes
      // are still the old ones.
      held.close();
      if (still_held) {
        EXPECT_EQ(read_all(dir.path() + "t.dbf"), start);
      }
      ASSERT_EQ(held_writes::write_out_all(), 0);
      EXPECT_EQ(held_writes::held_files(), 0u);
      EXPECT_EQ(held_writes::held_bytes(), 0u);
      EXPECT_EQ(read_all(dir.path() + "t.dbf"), expected);
      EXPECT_FALSE(file_exists(dir.path() + "t.dbf" + kNewSuffix));
    }
  }
}

// A held file reaches the disk only through a change the watcher hears of: written
// beside and swapped in when nobody has it open, in place when it is still open (the
// watcher told first), and not at all when a new file replaces it.
TEST(HeldWrites, TheWatcherHearsOfEveryWayTheBytesReachTheDisk) {
  ScratchDir dir;
  const std::string old(70000, 'o');
  for (const char* name : {"a.dbf", "b.dbf", "c.dbf", "d.dbf"}) write_all(dir.path() + name, old);
  Holder w;
  Holding on(&w);
  auto change = [&](const char* name, FileHandle& h) {
    ASSERT_EQ(h.open(native_path(dir.path() + name), Access::ReadWrite, Share::Exclusive), 0);
    ASSERT_EQ(h.write_at(5000, "new", 3), 0);
    EXPECT_TRUE(h.holding());
  };
  FileHandle a, b, c, d;
  change("a.dbf", a);
  change("b.dbf", b);
  change("c.dbf", c);
  change("d.dbf", d);
  a.close();
  c.close();
  d.close();
  EXPECT_TRUE(w.heard.empty());
  // c is copied: it reaches the disk first, beside and swapped in.
  ASSERT_TRUE(copy_file(dir.path() + "c.dbf", dir.path() + "c2.dbf").ok());
  EXPECT_EQ(read_all(dir.path() + "c2.dbf").substr(5000, 3), "new");
  // d is replaced by a new file: its held writes go with it.
  write_all(dir.path() + "x.dbf", "xx");
  ASSERT_EQ(replace_file(native_path(dir.path() + "x.dbf"), native_path(dir.path() + "d.dbf")), 0);
  EXPECT_EQ(read_all(dir.path() + "d.dbf"), "xx");
  // Open only for reading, a cannot go to the disk: its reader would keep the old bytes.
  {
    FileHandle reader;
    ASSERT_EQ(reader.open(native_path(dir.path() + "a.dbf"), Access::Read, Share::Shared), 0);
    EXPECT_EQ(read_through(reader).substr(5000, 3), "new");
    EXPECT_FALSE(copy_file(dir.path() + "a.dbf", dir.path() + "a2.dbf").ok());
  }
  // a goes out at the end, b (still open) in place.
  ASSERT_EQ(held_writes::write_out_all(), 0);
  EXPECT_EQ(w.heard, (std::vector<std::string>{"write c.dbf.zuvnew", "unlink c.dbf", "move c.dbf.zuvnew",
                                               "write c2.dbf", "write x.dbf", "unlink d.dbf", "move x.dbf", "write a.dbf.zuvnew",
                                               "unlink a.dbf", "move a.dbf.zuvnew", "write b.dbf"}));
  EXPECT_FALSE(b.holding());
  ASSERT_EQ(b.write_at(0, "z", 1), 0);  // from now on straight to the disk
  b.close();
  for (const char* name : {"a.dbf", "b.dbf", "c.dbf"}) EXPECT_EQ(read_all(dir.path() + name).substr(5000, 3), "new");
  EXPECT_EQ(read_all(dir.path() + "b.dbf")[0], 'z');
}

// A second name made for a held file (a table's backup before a field addition) reads
// the held writes; replacing the first name and deleting the second writes nothing.
// Writing the shared bytes in place is refused: once the first name is replaced, the
// watcher's kept copy is those bytes.
TEST(HeldWrites, ASecondNameSharesTheHeldWrites) {
  ScratchDir dir;
  write_all(dir.path() + "t.dbf", std::string(70000, 'o'));
  Holder w;
  Holding on(&w);
  {
    FileHandle h;
    ASSERT_EQ(h.open(native_path(dir.path() + "t.dbf"), Access::ReadWrite, Share::Exclusive), 0);
    ASSERT_EQ(h.write_at(0, "new", 3), 0);
  }
  ASSERT_EQ(link_file(native_path(dir.path() + "t.dbf"), native_path(dir.path() + "zt.dbf")), 0);
  FileHandle z;
  ASSERT_EQ(z.open(native_path(dir.path() + "zt.dbf"), Access::ReadWrite, Share::Exclusive), 0);
  EXPECT_EQ(read_through(z).substr(0, 3), "new");
  EXPECT_NE(z.settle_held(), 0);
  z.close();
  write_all(dir.path() + "xt.dbf", "wider");
  ASSERT_EQ(replace_file(native_path(dir.path() + "xt.dbf"), native_path(dir.path() + "t.dbf")), 0);
  ASSERT_TRUE(delete_file(dir.path() + "zt.dbf").ok());
  EXPECT_EQ(held_writes::held_files(), 0u);
  EXPECT_EQ(read_all(dir.path() + "t.dbf"), "wider");
}

}  // namespace
}  // namespace zuv::os
