// The limits of a table's files: what would pass them is refused with an error before
// anything is written, so nothing is stored that the engine cannot read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/error/error.h"
#include "platform/table/memo_file.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

using zuv::testing::ErrorTrap;
using zuv::testing::table_read_bytes;
using zuv::testing::table_read_head;
using zuv::testing::TableTempDir;

uint64_t size_of(const std::string& path) { return std::filesystem::file_size(std::filesystem::path(path)); }

// A table of one character field whose header counts `count` records; the file is
// made that long sparsely.
void set_count(const std::string& path, uint32_t count) {
  std::string h = table_read_head(path, 12);
  uint64_t header = uint8_t(h[8]) | uint64_t(uint8_t(h[9])) << 8;
  uint64_t length = uint8_t(h[10]) | uint64_t(uint8_t(h[11])) << 8;
  {
    std::fstream f(std::filesystem::path(path), std::ios::in | std::ios::out | std::ios::binary);
    char c[4] = {char(count), char(count >> 8), char(count >> 16), char(count >> 24)};
    f.seekp(4);
    f.write(c, 4);
  }
  std::filesystem::resize_file(std::filesystem::path(path), header + count * length + 1);
}

std::unique_ptr<Table> open_table(const std::string& path, bool shared) {
  OpenOptions o;
  o.path = path;
  o.shared = shared;
  return Table::open(o);
}

// Opens a full table and appends once more: refused, and the file stays as it was.
// (An exclusive table cannot be read beside its holder on Windows: the file is
// compared before the open and after the close.)
void expect_append_refused(const std::string& path, bool shared) {
  const uint64_t size = size_of(path);
  const std::string header = table_read_head(path, 4096);
  {
    auto t = open_table(path, shared);
    ASSERT_TRUE(t);
    ErrorTrap errors;
    EXPECT_FALSE(t->append());
    ASSERT_EQ(errors.seen.size(), 1u);
    EXPECT_EQ(errors.seen[0].genCode, gencode::kWrite);
    EXPECT_EQ(errors.seen[0].description, "Tabela osiągnęła największą liczbę rekordów");
  }
  EXPECT_EQ(size_of(path), size);
  EXPECT_TRUE(table_read_head(path, header.size()) == header) << "the header changed";
}

class RecordLimits : public ::testing::TestWithParam<bool> {};

// The record locks lie at 0x7FFFFFFE - recno: a record reaching them could not be
// read by another workstation while its lock is held.
TEST_P(RecordLimits, ARecordEndsBelowTheLockBytes) {
  TableTempDir dir;
  const std::string path = dir.file("locks.dbf");
  ASSERT_TRUE(Table::create(path, {{"A", 'C', 254, 0}}));
  uint64_t header = 0, length = 0;
  {
    auto t = open_table(path, false);
    header = t->header_length();
    length = t->record_length();
  }
  // The last record whose bytes and end-of-file mark stay below its own lock byte.
  const uint64_t last = (kLockBase - 1 - header) / (length + 1);
  ASSERT_LE(header + last * length + 1, kLockBase - last);
  ASSERT_GT(header + (last + 1) * length + 1, kLockBase - (last + 1));
  set_count(path, uint32_t(last - 1));
  {
    auto t = open_table(path, GetParam());
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append());
    EXPECT_EQ(t->recno(), last);
    ASSERT_TRUE(t->put(0, Value::of_text("last")));
    ASSERT_TRUE(t->commit());
  }
  expect_append_refused(path, GetParam());
  auto t = open_table(path, false);
  EXPECT_EQ(t->record_count(), last);
  t.reset();
  std::filesystem::remove(std::filesystem::path(path));
}

TEST_P(RecordLimits, ATableAtTheLargestCountTakesNoMore) {
  TableTempDir dir;
  const std::string path = dir.file("count.dbf");
  ASSERT_TRUE(Table::create(path, {{"A", 'C', 1, 0}}));
  set_count(path, 0x7FFFFFF0u);  // the largest count a table opens with
  expect_append_refused(path, GetParam());
  std::filesystem::remove(std::filesystem::path(path));
}

INSTANTIATE_TEST_SUITE_P(SharedAndExclusive, RecordLimits, ::testing::Bool());

TEST(MemoLimits, AMemoLongerThanTheReaderTakesIsRefusedBeforeAnyWrite) {
  TableTempDir dir;
  const std::string path = dir.file("memo.dbf"), fpt = dir.file("memo.fpt");
  ASSERT_TRUE(Table::create(path, {{"A", 'C', 5, 0}, {"M", 'M', 10, 0}}));
  {
    auto t = open_table(path, false);
    ASSERT_TRUE(t->append());
    ASSERT_TRUE(t->put(1, Value::of_memo("short")));
    t->close();
  }
  const std::string dbf_before = table_read_bytes(path), fpt_before = table_read_bytes(fpt);
  const Value too_long = Value::of_memo(std::string(MemoFile::kMaxText + 1, 'x'));
  for (bool append : {false, true}) {
    SCOPED_TRACE(append ? "a new record" : "an existing record");
    auto t = open_table(path, false);
    ASSERT_TRUE(t);
    if (append) {
      ASSERT_TRUE(t->append());
    }
    ASSERT_TRUE(t->put(1, too_long));
    ErrorTrap errors;
    EXPECT_FALSE(t->commit());
    ASSERT_EQ(errors.seen.size(), 1u);
    EXPECT_EQ(errors.seen[0].description, "Tekst memo dłuższy niż 64 MB");
    EXPECT_EQ(errors.seen[0].fileName, fpt);
    t->close();
    EXPECT_TRUE(table_read_bytes(path) == dbf_before) << "the table changed";
    EXPECT_TRUE(table_read_bytes(fpt) == fpt_before) << "the memo file changed";
  }
}

}  // namespace
}  // namespace zuv::table
