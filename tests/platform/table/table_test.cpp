#include "platform/table/table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "lib/text.h"

#include "platform/os/codepage.h"
#include "platform/os/fault.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::ErrorTrap;
using zuv::testing::TableTempDir;

Structure sample_structure() {
  return {{"NAZWA", 'C', 10, 0}, {"KWOTA", 'N', 8, 2}, {"DATA", 'D', 8, 0}, {"OK", 'L', 1, 0}, {"UWAGI", 'M', 10, 0}};
}

std::unique_ptr<Table> open_table(const std::string& path, bool shared = false, bool read_only = false) {
  OpenOptions o;
  o.path = path;
  o.shared = shared;
  o.read_only = read_only;
  return Table::open(o);
}

void add(Table& t, const std::string& name, double amount, const std::string& memo = "") {
  ASSERT_TRUE(t.append());
  ASSERT_TRUE(t.put("NAZWA", Value::of_text(name)));
  ASSERT_TRUE(t.put("KWOTA", Value::of_number(amount)));
  if (!memo.empty()) {
    ASSERT_TRUE(t.put("UWAGI", Value::of_memo(memo)));
  }
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("dane.dbf");
    ASSERT_TRUE(Table::create(path, sample_structure()));
  }
  TableTempDir dir;
  std::string path;
};

TEST_F(TableTest, ValuesRoundTripThroughTheFileWithTheirFieldRules) {
  {
    auto t = open_table(path);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->version(), 0xF5);
    ASSERT_TRUE(t->append());
    EXPECT_TRUE(t->put("nazwa", Value::of_text(os::cp852_from_utf8("Żółć i więcej niż dziesięć"))));
    EXPECT_TRUE(t->put(1, Value::of_number(2.675)));
    EXPECT_TRUE(t->put("DATA", Value::of_date("20260131")));
    EXPECT_TRUE(t->put("OK", Value::of_logical(true)));
    EXPECT_TRUE(t->put("UWAGI", Value::of_memo(std::string(3000, 'x'))));
    ASSERT_TRUE(t->append());
    EXPECT_TRUE(t->put("NAZWA", Value::of_text("ab")));
    EXPECT_TRUE(t->put("KWOTA", Value::of_number(-0.001)));
  }
  auto t = open_table(path, true, true);
  ASSERT_TRUE(t);
  ASSERT_EQ(t->record_count(), 2u);
  EXPECT_EQ(t->get("NAZWA").text, os::cp852_from_utf8("Żółć i wię"));  // cut to 10
  EXPECT_DOUBLE_EQ(t->get("KWOTA").number, 2.68);  // rounded half away from zero
  EXPECT_EQ(t->get("KWOTA").decimals, 2);
  EXPECT_EQ(t->get("DATA").text, "20260131");
  EXPECT_TRUE(t->get("OK").logical);
  EXPECT_EQ(t->get("UWAGI").text, std::string(3000, 'x'));
  t->skip(1);
  EXPECT_EQ(t->get("NAZWA").text, "ab        ");  // padded
  EXPECT_TRUE(t->get("DATA").is_empty_date());
  EXPECT_FALSE(t->get("OK").logical);
  EXPECT_EQ(t->get("UWAGI").text, "");
  // No negative zero in the file.
  std::string bytes = zuv::testing::table_read_bytes(path);
  EXPECT_EQ(bytes.find("-0.00"), std::string::npos);
  EXPECT_NE(bytes.find("    0.00"), std::string::npos);
}

TEST_F(TableTest, NumberThatDoesNotFitRaisesAndLeavesTheField) {
  auto t = open_table(path);
  ASSERT_TRUE(t->append());
  ASSERT_TRUE(t->put("KWOTA", Value::of_number(12345.67)));
  {
    ErrorTrap trap;
    EXPECT_FALSE(t->put("KWOTA", Value::of_number(123456.78)));  // 9 characters in 8
    EXPECT_FALSE(t->put("KWOTA", Value::of_number(-12345.67)));
    EXPECT_FALSE(t->put("NAZWA", Value::of_number(1)));
    ASSERT_EQ(trap.seen.size(), 3u);
    EXPECT_EQ(trap.seen[0].genCode, gencode::kDataWidth);
    EXPECT_EQ(trap.seen[0].fileName, path);
    EXPECT_EQ(trap.seen[2].genCode, tablecode::kDataType);
  }
  EXPECT_DOUBLE_EQ(t->get("KWOTA").number, 12345.67);
  // Without a trapping handler the error breaks out to the recovery section.
  EXPECT_THROW({ [[maybe_unused]] bool stored = t->put("KWOTA", Value::of_number(1e9)); }, Break);
}

TEST_F(TableTest, NavigationSkipsDeletedRecordsWhileHidden) {
  Settings shown;
  shown.deleted_hidden = false;
  Settings hidden;
  auto t = open_table(path);
  for (int i = 1; i <= 5; ++i) add(*t, "r" + std::to_string(i), i);
  t->go_to(1);
  EXPECT_TRUE(t->remove());
  t->go_to(3);
  EXPECT_TRUE(t->remove());
  t->go_to(5);
  EXPECT_TRUE(t->remove());
  t->set_settings(&hidden);
  t->go_top();
  EXPECT_EQ(t->recno(), 2u);
  t->skip(1);
  EXPECT_EQ(t->recno(), 4u);
  t->skip(1);
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->recno(), 6u);
  t->go_bottom();
  EXPECT_EQ(t->recno(), 4u);
  t->skip(-1);
  EXPECT_EQ(t->recno(), 2u);
  t->skip(-1);
  EXPECT_TRUE(t->bof());
  EXPECT_EQ(t->recno(), 2u);
  int visible = 0;
  t->eval([&](Table&) { return ++visible, true; });
  EXPECT_EQ(visible, 2);
  t->set_settings(&shown);
  t->go_top();
  EXPECT_EQ(t->recno(), 1u);
  EXPECT_TRUE(t->deleted());
  EXPECT_TRUE(t->locate([](Table& x) { return x.get("KWOTA").number == 5; }));
  EXPECT_EQ(t->recno(), 5u);
  // go_to reaches a deleted record whatever the setting; past the end is eof.
  t->set_settings(&hidden);
  EXPECT_TRUE(t->go_to(3));
  EXPECT_TRUE(t->deleted());
  EXPECT_FALSE(t->go_to(99));
  EXPECT_TRUE(t->eof());
}

TEST_F(TableTest, EmptyTableIsAtBothEnds) {
  auto t = open_table(path);
  EXPECT_TRUE(t->eof());
  EXPECT_TRUE(t->bof());
  EXPECT_EQ(t->recno(), 1u);
  t->skip(1);
  EXPECT_TRUE(t->eof());
  ErrorTrap trap;
  EXPECT_FALSE(t->put("NAZWA", Value::of_text("x")));  // nothing to write at eof
}

TEST_F(TableTest, RollbackForgetsChangesNotYetStored) {
  auto t = open_table(path);
  add(*t, "pierwszy", 1, "stary memo");
  EXPECT_TRUE(t->commit());
  EXPECT_TRUE(t->put("NAZWA", Value::of_text("zmieniony")));
  EXPECT_TRUE(t->put("UWAGI", Value::of_memo("nowy")));
  t->rollback();
  EXPECT_EQ(t->get("NAZWA").text, "pierwszy  ");
  EXPECT_EQ(t->get("UWAGI").text, "stary memo");
  t->go_top();
  EXPECT_EQ(t->get("UWAGI").text, "stary memo");
}

// A record whose fields are put back to the bytes they hold is not written: a walk
// that changes nothing leaves the file as it was (its header's date included), so the
// upgrade keeps no copy of it. A real change is written and dated.
TEST_F(TableTest, ARecordPutBackToItsOwnBytesIsNotWritten) {
  {
    auto t = open_table(path);
    add(*t, "pierwszy", 1.5);
    add(*t, "drugi", 2);
    ASSERT_TRUE(t->commit());
  }
  std::string bytes = zuv::testing::table_read_bytes(path);
  bytes[1] = 101;  // 2001-01-01
  bytes[2] = bytes[3] = 1;
  zuv::testing::table_write_bytes(path, bytes);
  {
    auto t = open_table(path);
    for (t->go_top(); !t->eof(); t->skip()) {
      ASSERT_TRUE(t->put("KWOTA", Value::of_number(99)));
      ASSERT_TRUE(t->put("KWOTA", t->get("KWOTA").number == 99 ? Value::of_number(t->recno() == 1 ? 1.5 : 2)
                                                               : Value::of_number(0)));
      ASSERT_TRUE(t->put("NAZWA", t->get("NAZWA")));
    }
    ASSERT_TRUE(t->commit());
  }
  EXPECT_EQ(zuv::testing::table_read_bytes(path), bytes);
  {
    auto t = open_table(path);
    t->go_to(2);
    ASSERT_TRUE(t->put("KWOTA", Value::of_number(3)));
    ASSERT_TRUE(t->commit());
  }
  const std::string changed = zuv::testing::table_read_bytes(path);
  EXPECT_NE(changed[1], 101);
  auto t = open_table(path, false, true);
  t->go_to(2);
  EXPECT_DOUBLE_EQ(t->get("KWOTA").number, 3);
}

TEST_F(TableTest, MemoUpdateNeverTouchesAnotherRecordsMemo) {
  {
    auto t = open_table(path);
    add(*t, "a", 1, "A-memo");
    add(*t, "b", 2, "B-memo");
    add(*t, "c", 3, std::string(200, 'c'));
    // Grows past its blocks: must move to new blocks, not spill into B's.
    t->go_to(1);
    EXPECT_TRUE(t->put("UWAGI", Value::of_memo(std::string(500, 'A'))));
    // Shrinks: may stay in place.
    t->go_to(3);
    EXPECT_TRUE(t->put("UWAGI", Value::of_memo("c")));
    t->go_to(2);
    EXPECT_TRUE(t->put("UWAGI", Value::of_memo("")));
  }
  auto t = open_table(path, true, true);
  t->go_to(1);
  EXPECT_EQ(t->get("UWAGI").text, std::string(500, 'A'));
  t->go_to(2);
  EXPECT_EQ(t->get("UWAGI").text, "");
  t->go_to(3);
  EXPECT_EQ(t->get("UWAGI").text, "c");
}

TEST_F(TableTest, HeaderCountAndDateAreWrittenOnCommit) {
  auto writer = open_table(path, true);
  ASSERT_TRUE(writer);
  add(*writer, "x", 1);
  add(*writer, "y", 2);
  ASSERT_TRUE(writer->commit());
  std::string bytes = zuv::testing::table_read_bytes(path);
  EXPECT_EQ(static_cast<unsigned char>(bytes[4]), 2);
  EXPECT_GE(static_cast<unsigned char>(bytes[1]), 126);  // years since 1900
  auto reader = open_table(path, true, true);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->record_count(), 2u);
  reader->go_bottom();
  EXPECT_EQ(reader->get("NAZWA").text, "y         ");
  EXPECT_EQ(bytes.back(), '\x1A');
}

TEST_F(TableTest, ManyAppendsInExclusiveModeAllReachTheFile) {
  {
    auto t = open_table(path);
    for (int i = 0; i < 3000; ++i) {
      ASSERT_TRUE(t->append());
      ASSERT_TRUE(t->put(1, Value::of_number(i)));
    }
    t->go_to(17);
    EXPECT_TRUE(t->put(1, Value::of_number(-17)));
  }
  auto t = open_table(path);
  ASSERT_EQ(t->record_count(), 3000u);
  double sum = 0;
  t->eval([&](Table& x) { return sum += x.get(1).number, true; });
  EXPECT_DOUBLE_EQ(sum, 2999.0 * 3000 / 2 - 16 - 17);  // record 17 held 16
}

TEST_F(TableTest, PackKeepsLiveRecordsAndTheirMemos) {
  auto t = open_table(path);
  for (int i = 1; i <= 10; ++i) add(*t, "r" + std::to_string(i), i, "memo " + std::to_string(i));
  for (int i : {2, 5, 6, 10}) {
    t->go_to(i);
    EXPECT_TRUE(t->remove());
  }
  ASSERT_TRUE(t->pack());
  EXPECT_EQ(t->record_count(), 6u);
  std::string seen;
  Settings shown;
  shown.deleted_hidden = false;
  t->set_settings(&shown);
  t->eval([&](Table& x) { return seen += x.get("UWAGI").text + ";", true; });
  EXPECT_EQ(seen, "memo 1;memo 3;memo 4;memo 7;memo 8;memo 9;");
  ASSERT_TRUE(t->zap());
  EXPECT_EQ(t->record_count(), 0u);
  t->close();
  EXPECT_EQ(zuv::testing::table_read_bytes(path).size(), 32u * 6 + 1 + 1);
  EXPECT_EQ(zuv::testing::table_read_bytes(dir.file("dane.fpt")).size(), 512u);
}

TEST_F(TableTest, PackAndZapNeedTheTableExclusively) {
  auto t = open_table(path, true);
  add(*t, "a", 1);
  ErrorTrap trap;
  EXPECT_FALSE(t->pack());
  EXPECT_FALSE(t->zap());
  ASSERT_EQ(trap.seen.size(), 2u);
  EXPECT_EQ(t->record_count(), 1u);
}

TEST_F(TableTest, PackThatCannotWriteLeavesTheTableAsItWas) {
  {
    auto t = open_table(path);
    for (int i = 1; i <= 4; ++i) add(*t, "r", i);
    t->go_to(2);
    EXPECT_TRUE(t->remove());
  }
  std::string before = zuv::testing::table_read_bytes(path);
  os::fault::Scope scope;
  for (auto op : {os::fault::Op::Create, os::fault::Op::Write, os::fault::Op::Rename}) {
    {
      auto t = open_table(path);
      os::fault::arm(op, 1, 112);
      ErrorTrap trap;
      EXPECT_FALSE(t->pack());
      EXPECT_FALSE(trap.seen.empty());
      os::fault::disarm();
      EXPECT_EQ(t->record_count(), 4u);
    }
    // Read once closed: an exclusive open keeps every other reader out on Windows.
    EXPECT_EQ(zuv::testing::table_read_bytes(path), before);
  }
}

TEST_F(TableTest, CreateThatFailsLeavesTheOldTable) {
  std::string before = zuv::testing::table_read_bytes(path);
  os::fault::Scope scope;
  os::fault::arm(os::fault::Op::Rename, 1, 5);
  ErrorTrap trap;
  EXPECT_FALSE(Table::create(path, {{"X", 'C', 5, 0}}));
  ASSERT_EQ(trap.seen.size(), 1u);
  EXPECT_EQ(trap.seen[0].osCode, 5);
  EXPECT_EQ(zuv::testing::table_read_bytes(path), before);
}

TEST_F(TableTest, CreateRefusesBadStructures) {
  ErrorTrap trap;
  EXPECT_FALSE(Table::create(dir.file("a.dbf"), {}));
  EXPECT_FALSE(Table::create(dir.file("b.dbf"), {{"X", 'Q', 5, 0}}));
  EXPECT_FALSE(Table::create(dir.file("c.dbf"), {{"X", 'N', 21, 0}}));
  EXPECT_FALSE(Table::create(dir.file("d.dbf"), {{"X", 'C', 5, 0}, {"x", 'C', 5, 0}}));
  EXPECT_FALSE(Table::create(dir.file("e.dbf"), {{"NAZWA_ZBYT_DLUGA", 'C', 5, 0}}));
  EXPECT_EQ(trap.seen.size(), 5u);
  // Without memo fields: a FoxPro 2 table without memo file.
  ASSERT_TRUE(Table::create(dir.file("f.dbf"), {{"X", 'N', 5, 0}}));
  EXPECT_EQ(zuv::testing::table_read_bytes(dir.file("f.dbf"))[0], '\x03');
  auto t = open_table(dir.file("f"));  // the extension is added
  ASSERT_TRUE(t);
  EXPECT_EQ(t->structure(), (Structure{{"X", 'N', 5, 0}}));
  EXPECT_FALSE(t->has_memo());
}

}  // namespace
}  // namespace zuv::table

namespace zuv::table {
namespace {

// The fast number writer must give exactly what printf gives for the rounded value,
// at every width and scale the files use, and refuse what does not fit.
TEST(NumberFormat, MatchesPrintfOfTheRoundedValue) {
  char ours[64], theirs[64];
  std::uint64_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    int dec = static_cast<int>(seed >> 60) % 5;
    double magnitude = static_cast<double>((seed >> 20) % 100000000000ull) / 1000.0;
    double v = (seed & 1) ? -magnitude : magnitude;
    if (i % 7 == 0) v = std::floor(v) + 0.005;  // halves
    int n = Table::format_number(v, 20, dec, ours);
    double rounded = lib::ROUND2(v, dec);
    if (rounded == 0) rounded = 0;
    std::snprintf(theirs, sizeof theirs, "%*.*f", 20, dec, rounded);
    ASSERT_STREQ(ours, theirs) << v << " dec " << dec;
    ASSERT_EQ(n, 20);
  }
  EXPECT_EQ(Table::format_number(-0.004, 6, 2, ours), 6);
  EXPECT_STREQ(ours, "  0.00");
  EXPECT_EQ(Table::format_number(2.675, 4, 2, ours), 4);
  EXPECT_STREQ(ours, "2.68");
  EXPECT_GT(Table::format_number(-2.675, 4, 2, ours), 4);
  EXPECT_GT(Table::format_number(1e300, 20, 2, ours), 20);
}

}  // namespace
}  // namespace zuv::table

namespace zuv::table {
namespace {

// A disk that refuses writes: the failure reaches the handler, retry writes again,
// and records a failed commit could not write are kept and written by the close.
TEST(WriteFaults, FailedCommitLosesNothingAndRetryWrites) {
  zuv::testing::TableTempDir dir;
  std::string path = dir.file("f.dbf");
  ASSERT_TRUE(Table::create(path, {{"N", 'N', 5, 0}}));
  os::fault::Scope scope;
  {
    OpenOptions o;
    o.path = path;
    auto t = Table::open(o);
    for (int i = 1; i <= 10; ++i) {
      EXPECT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, Value::of_number(i)));
    }
    int asked = 0;
    {
      ScopedHandler h([&](ErrorRecord& r) {
        EXPECT_EQ(r.genCode, gencode::kWrite);
        EXPECT_EQ(r.osCode, 112);
        return ++asked == 1 ? HandlerAnswer::Retry : HandlerAnswer::Default;
      });
      os::fault::arm(os::fault::Op::Write, 1, 112);
      EXPECT_TRUE(t->commit());  // the retry succeeded
      EXPECT_EQ(asked, 1);
      for (int i = 11; i <= 15; ++i) {
        EXPECT_TRUE(t->append());
        EXPECT_TRUE(t->put(0, Value::of_number(i)));
      }
      os::fault::arm_from(os::fault::Op::Write, 1, 112);
      EXPECT_FALSE(t->commit());
      os::fault::disarm();
    }
#ifndef _WIN32  // an exclusive open keeps other readers out on Windows
    EXPECT_EQ(static_cast<unsigned char>(zuv::testing::table_read_bytes(path).at(4)), 10);
#endif
  }  // the close writes what the failed commit could not
  OpenOptions o;
  o.path = path;
  auto t = Table::open(o);
  ASSERT_EQ(t->record_count(), 15u);
  t->go_bottom();
  EXPECT_EQ(t->get(0).number, 15);
}

}  // namespace
}  // namespace zuv::table
