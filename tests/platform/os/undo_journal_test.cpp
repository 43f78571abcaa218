// A file written in place under a journal: the handle's writes are held until what
// they write over is saved, reads through the handle see them at once, and the
// journal puts the file back as it was, whatever was written, appended or cut.
#include "platform/os/undo_journal.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/os/change_guard.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

// Journals every file opened exclusively for writing, once per file.
struct Journaling : ChangeWatcher {
  std::string journal_path;
  std::shared_ptr<UndoJournal> journal;
  std::uint64_t original = 0;
  int before_change(const std::string&, Change, const FileHandle*) override { return 0; }
  std::shared_ptr<UndoJournal> journal_for(const std::string&, const FileHandle& open) override {
    if (journal) return journal;
    FileIdentity id;
    if (open.identity(id) != 0 || open.size(original) != 0) return nullptr;
    int rc = 0;
    journal = UndoJournal::create(journal_path, original, id, rc);
    return journal;
  }
};

std::string pattern(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 23);
  return s;
}

TEST(UndoJournal, WrittenAppendedAndCutFileIsPutBackAsItWas) {
#ifdef _WIN32
  GTEST_SKIP() << "writes are kept by a copy on Windows";
#endif
  ScratchDir dir;
  const std::string original = pattern(10000, 'a');
  write_all(dir.path() + "t.dbf", original);
  std::string expected = original;
  Journaling w;
  w.journal_path = native_path(dir.path() + "t.dzi");
  change_guard::watch(&w);
  {
    FileHandle h;
    ASSERT_EQ(h.open(native_path(dir.path() + "t.dbf"), Access::ReadWrite, Share::Exclusive), 0);
    // Overlapping, adjacent and repeated writes, one reaching past the end.
    std::mt19937 random(3);
    for (int i = 0; i < 300; ++i) {
      const size_t at = random() % 10400, n = 1 + random() % 300;
      const std::string bytes = pattern(n, static_cast<char>('A' + i % 20));
      ASSERT_EQ(h.write_at(at, bytes.data(), bytes.size()), 0);
      if (expected.size() < at + n) expected.resize(at + n, '\0');
      expected.replace(at, n, bytes);
      if (i == 150) {
        // Nothing below the old end reached the file yet; the handle reads it all.
        EXPECT_EQ(read_all(dir.path() + "t.dbf").substr(0, 64), original.substr(0, 64));
      }
    }
    std::string seen(expected.size(), '\0');
    ASSERT_EQ(h.read_exact(0, seen.data(), seen.size()), 0);
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(h.truncate(7000), 0);
    expected.resize(7000);
    ASSERT_EQ(h.write_at(6990, "0123456789ABCDEF", 16), 0);
    expected.replace(6990, 10, "0123456789");
    expected += "ABCDEF";
  }
  EXPECT_EQ(read_all(dir.path() + "t.dbf"), expected);
  change_guard::watch(nullptr);
  EXPECT_EQ(change_guard::take_held_error(), 0);
  const std::uint64_t saved = w.journal->bytes();
  w.journal.reset();
  // Each byte of the old file is saved once, however often it was written.
  EXPECT_LE(saved, original.size() + 24 * 400);

  ASSERT_EQ(UndoJournal::apply(w.journal_path, native_path(dir.path() + "t.dbf"), original.size()), 0);
  EXPECT_EQ(read_all(dir.path() + "t.dbf"), original);
  // Applied again (a cut during the undo), the same.
  ASSERT_EQ(UndoJournal::apply(w.journal_path, native_path(dir.path() + "t.dbf"), original.size()), 0);
  EXPECT_EQ(read_all(dir.path() + "t.dbf"), original);
}

TEST(UndoJournal, TornLastEntryIsLeftOutAndTheWatchEndWritesWhatWasHeld) {
#ifdef _WIN32
  GTEST_SKIP() << "writes are kept by a copy on Windows";
#endif
  ScratchDir dir;
  const std::string original = pattern(4096, 'k');
  write_all(dir.path() + "t.dbf", original);
  Journaling w;
  w.journal_path = native_path(dir.path() + "t.dzi");
  FileHandle h;
  ASSERT_EQ(h.open(native_path(dir.path() + "t.dbf"), Access::ReadWrite, Share::Exclusive), 0);
  change_guard::watch(&w);
  ASSERT_EQ(h.write_at(100, "xxxx", 4), 0);
  ASSERT_EQ(h.flush(), 0);
  ASSERT_EQ(h.write_at(2000, "yyyy", 4), 0);
  // The handle stays open: the end of the watch writes its held bytes out.
  change_guard::watch(nullptr);
  std::string now = original;
  now.replace(100, 4, "xxxx");
  now.replace(2000, 4, "yyyy");
  EXPECT_EQ(read_all(dir.path() + "t.dbf"), now);
  // After the watch the handle writes straight through.
  ASSERT_EQ(h.write_at(0, "z", 1), 0);
  EXPECT_EQ(read_all(dir.path() + "t.dbf")[0], 'z');
  h.close();
  w.journal.reset();

  // The second entry torn by a cut: the first still puts its bytes back.
  std::string journal = read_all(dir.path() + "t.dzi");
  write_all(dir.path() + "t.dzi", journal.substr(0, journal.size() - 2));
  write_all(dir.path() + "t.dbf", now);
  ASSERT_EQ(UndoJournal::apply(w.journal_path, native_path(dir.path() + "t.dbf"), original.size()), 0);
  std::string expected = now;
  expected.replace(100, 4, original.substr(100, 4));
  EXPECT_EQ(read_all(dir.path() + "t.dbf"), expected);
}

}  // namespace
}  // namespace zuv::os
