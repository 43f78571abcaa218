// Record writes, tag builds and memo writes that fail part way: each leaves every
// file as it was (or, for a record, the whole record with all its keys), never a mix.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/os/fault.h"
#include "platform/table/cdx.h"
#include "platform/table/index_check.h"
#include "platform/table/memo_file.h"
#include "platform/table/order.h"
#include "platform/table/table.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::table_read_bytes;
using zuv::testing::table_write_bytes;
using zuv::testing::TableTempDir;

using zuv::testing::kDiskFull;
using Quiet = zuv::testing::QuietErrors;

// A table of three records with a memo field and two tags in its compound index.
struct Firm {
  TableTempDir dir;
  std::string dbf = dir.file("firma.dbf"), fpt = dir.file("firma.fpt"), cdx = dir.file("firma.cdx");
  Firm() {
    EXPECT_TRUE(Table::create(dbf, {{"NAZWA", 'C', 12, 0}, {"KWOTA", 'N', 10, 2}, {"UWAGI", 'M', 10, 0}}));
    auto t = open();
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, Value::of_text(std::string("firma") + char('a' + i))));
      EXPECT_TRUE(t->put(1, Value::of_number(10.5 * (i + 1))));
      EXPECT_TRUE(t->put(2, Value::of_memo("uwagi " + std::to_string(i + 1))));
    }
    EXPECT_TRUE(ORDCREATE(*t, cdx, "naz", "upper(NAZWA)"));
    EXPECT_TRUE(ORDCREATE(*t, cdx, "kw", "str(KWOTA,10,2)"));
    t->close();
  }
  // The three files' bytes, to put the firm back before each run of a fault loop.
  struct Files {
    std::string dbf, fpt, cdx;
  };
  Files files() const { return {table_read_bytes(dbf), table_read_bytes(fpt), table_read_bytes(cdx)}; }
  void put_back(const Files& f) const {
    table_write_bytes(dbf, f.dbf);
    table_write_bytes(fpt, f.fpt);
    table_write_bytes(cdx, f.cdx);
  }
  std::unique_ptr<Table> open() {
    OpenOptions o;
    o.path = dbf;
    auto t = Table::open(o);
    EXPECT_TRUE(t && attach_structural_index(*t));
    return t;
  }
  std::set<std::string> tags() {
    auto f = cdx::CdxFile::open(cdx, false);
    std::set<std::string> names;
    for (size_t i = 0; i < f->tag_count(); ++i) names.insert(f->tag(i).name());
    return names;
  }
  std::string faults() {
    CheckReport r;
    check_table(dbf, r);
    return r.text();
  }
};


// Counts the writes an operation performs when nothing fails.
template <class F>
int writes_of(F&& operation) {
  os::fault::Scope scope;
  os::fault::start_counting();
  operation();
  return os::fault::counted(os::fault::Op::Write);
}

TEST(AllOrNothing, AnAppendFailingAtAnyWriteLeavesTheRecordWithAllItsKeysOrNothing) {
  Firm firm;
  const Firm::Files saved = firm.files();
  auto append = [&](Table& t) {
    bool ok = t.append() && t.put(0, Value::of_text("nowa")) && t.put(1, Value::of_number(99)) &&
              t.put(2, Value::of_memo(std::string(300, 'x')));
    return t.commit() && ok;
  };
  auto counted = firm.open();
  const int writes = writes_of([&] { append(*counted); });
  counted->close();
  ASSERT_GT(writes, 4);
  for (int n = 1; n <= writes; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    firm.put_back(saved);
    {
      Quiet quiet;
      auto t = firm.open();
      os::fault::Scope scope;
      os::fault::arm(os::fault::Op::Write, n, kDiskFull);
      append(*t);
      // A failed append is not repeated by the next commit or the close.
      os::fault::disarm();
      t->close();
    }
    auto t = firm.open();
    std::uint32_t count = t->record_count();
    ASSERT_TRUE(count == 3 || count == 4) << count;
    if (count == 4) {
      t->go_to(4);
      EXPECT_EQ(t->get(2).text, std::string(300, 'x'));
    }
    // Read after the close: an open table's files are not shared for reading on Windows.
    t->close();
    if (count == 3) {
      EXPECT_EQ(table_read_bytes(firm.fpt).size(), saved.fpt.size());
    }
    EXPECT_EQ(firm.faults(), "");
  }
}

// A record write failing anywhere (its keys first) takes back only its own memo blocks,
// never those of the record written before it; and the memo file of a table opened for
// itself alone, not read again for every memo, follows the failure and its undo.
TEST(AllOrNothing, MemosWrittenAroundAFailedAppendAreAllKept) {
  Firm firm;
  const Firm::Files saved = firm.files();
  auto append = [](Table& t, const std::string& memo) {
    bool ok = t.append() && t.put(0, Value::of_text("nowa")) && t.put(2, Value::of_memo(memo));
    return t.commit() && ok;
  };
  const std::string before(200, 'a'), failed(130, 'b'), after(70, 'c');
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    firm.put_back(saved);
    {
      Quiet quiet;
      auto t = firm.open();
      ASSERT_TRUE(append(*t, before));
      os::fault::Scope scope;
      os::fault::arm(os::fault::Op::Write, n, kDiskFull);
      const bool second = append(*t, failed);
      os::fault::disarm();
      if (!second) {
        ASSERT_TRUE(append(*t, after));
      }
      t->close();
    }
    auto t = firm.open();
    ASSERT_GE(t->record_count(), 5u);
    t->go_to(4);
    EXPECT_EQ(t->get(2).text, before);
    t->go_to(5);
    const std::string fifth = t->get(2).text;
    EXPECT_TRUE(fifth == failed || fifth == after) << fifth;
    t->close();
    EXPECT_EQ(firm.faults(), "");
  }
}

TEST(AllOrNothing, AnAppendRetriedAfterAFailureAddsTheRecordOnce) {
  Firm firm;
  {
    Quiet quiet;
    auto t = firm.open();
    os::fault::Scope scope;
    os::fault::arm(os::fault::Op::Write, 1, kDiskFull);
    EXPECT_TRUE(t->append());
    EXPECT_TRUE(t->put(0, Value::of_text("nowa")));
    EXPECT_FALSE(t->commit());
    os::fault::disarm();
    EXPECT_TRUE(t->append());
    EXPECT_TRUE(t->put(0, Value::of_text("nowa")));
    EXPECT_TRUE(t->commit());
    t->close();
  }
  auto t = firm.open();
  EXPECT_EQ(t->record_count(), 4u);
  t->close();
  EXPECT_EQ(firm.faults(), "");
}

TEST(AllOrNothing, ATagReplacedFailingAtAnyWriteLeavesTheIndexByteForByte) {
  Firm firm;
  const std::string cdx = table_read_bytes(firm.cdx);
  const std::set<std::string> tags = firm.tags();
  ASSERT_EQ(tags, (std::set<std::string>{"NAZ", "KW"}));
  auto replace = [&](Table& t) { return ORDCREATE(t, firm.cdx, "naz", "upper(NAZWA)+str(KWOTA,10,2)"); };
  auto counted = firm.open();
  const int writes = writes_of([&] { replace(*counted); });
  counted->close();
  table_write_bytes(firm.cdx, cdx);
  ASSERT_GT(writes, 3);
  for (int n = 1; n <= writes; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    {
      Quiet quiet;
      auto t = firm.open();
      os::fault::Scope scope;
      os::fault::arm(os::fault::Op::Write, n, kDiskFull);
      EXPECT_FALSE(replace(*t));
    }
    EXPECT_EQ(firm.tags(), tags);
    EXPECT_EQ(table_read_bytes(firm.cdx), cdx);
  }
  // Without a fault the old tag's pages go to the free list and the file stays sound.
  auto t = firm.open();
  ASSERT_TRUE(replace(*t));
  t->close();
  EXPECT_EQ(firm.tags(), tags);
  EXPECT_EQ(firm.faults(), "");
}

TEST(AllOrNothing, ATagThatCannotBeBuiltInANewIndexLeavesNoIndexFile) {
  TableTempDir dir;
  std::string dbf = dir.file("t.dbf");
  ASSERT_TRUE(Table::create(dbf, {{"NAZWA", 'C', 12, 0}}));
  OpenOptions o;
  o.path = dbf;
  auto t = Table::open(o);
  Quiet quiet;
  std::string too_long = "NAZWA";
  for (int i = 0; i < 24; ++i) too_long += "+NAZWA";  // a key of 300 bytes
  EXPECT_FALSE(ORDCREATE(*t, dir.file("t.cdx"), "naz", too_long));
  EXPECT_FALSE(os::native_file_exists(dir.file("t.cdx")));
}

// The memo file's damage is refused by every write, so it is never hidden or grown.
class DamagedMemo : public ::testing::Test {
 protected:
  Firm firm;
  bool append_memo() {
    Quiet quiet;
    auto t = firm.open();
    bool ok = t->append() && t->put(2, Value::of_memo("nowe uwagi"));
    ok = t->commit() && ok;
    t->close();
    return ok;
  }
  void set_next_free(std::uint32_t block) {
    std::string b = table_read_bytes(firm.fpt);
    for (int i = 0; i < 4; ++i) b[i] = char(block >> (24 - 8 * i));
    table_write_bytes(firm.fpt, b);
  }
};

TEST_F(DamagedMemo, ANextFreeBlockPastTheEndIsRefused) {
  std::string before = table_read_bytes(firm.fpt);
  set_next_free(0x7FFFFFF0u);  // a write there would grow the file to 128 GiB
  std::string damaged = table_read_bytes(firm.fpt);
  EXPECT_FALSE(append_memo());
  EXPECT_EQ(table_read_bytes(firm.fpt), damaged);
  auto t = firm.open();
  EXPECT_EQ(t->record_count(), 3u);
}

TEST_F(DamagedMemo, ATruncatedMemoFileIsRefusedNotZeroFilled) {
  std::string b = table_read_bytes(firm.fpt);
  ASSERT_GT(b.size(), 512u + 64u);
  b.resize(b.size() - 100);  // the last memo's block is cut off
  table_write_bytes(firm.fpt, b);
  EXPECT_FALSE(append_memo());
  EXPECT_EQ(table_read_bytes(firm.fpt), b);
}

TEST_F(DamagedMemo, ARecordPointingOutsideTheFileIsRefusedAndTheErrorNamesTheMemoFile) {
  std::string d = table_read_bytes(firm.dbf);
  // The first record's memo field (after the deletion mark, NAZWA and KWOTA).
  std::size_t header = std::uint8_t(d[8]) | (std::uint8_t(d[9]) << 8);
  d.replace(header + 1 + 12 + 10, 10, "     99999");
  table_write_bytes(firm.dbf, d);
  std::string fpt = table_read_bytes(firm.fpt);
  std::string named;
  {
    ScopedHandler h([&](ErrorRecord& r) {
      named = r.fileName;
      return HandlerAnswer::Default;
    });
    auto t = firm.open();
    t->go_to(1);
    EXPECT_TRUE(t->put(2, Value::of_memo("inne")));
    EXPECT_FALSE(t->commit());
  }
  EXPECT_EQ(named, firm.fpt);
  EXPECT_EQ(table_read_bytes(firm.fpt), fpt);
}

TEST_F(DamagedMemo, APointerThatIsNoBlockNumberIsRefusedWhenRead) {
  std::string d = table_read_bytes(firm.dbf);
  std::size_t header = std::uint8_t(d[8]) | (std::uint8_t(d[9]) << 8);
  for (const char* pointer : {"  -1015.05", "9999999999", "     1e+30"}) {
    d.replace(header + 1 + 12 + 10, 10, pointer);
    table_write_bytes(firm.dbf, d);
    int refused = 0;
    ScopedHandler h([&](ErrorRecord&) {
      ++refused;
      return HandlerAnswer::Default;
    });
    auto t = firm.open();
    t->go_to(1);
    (void)t->get(2);
    EXPECT_EQ(refused, 1) << pointer;
  }
}

// A key for a record the header does not count (a writer stopped between the key and
// the count): walks pass over it, seeks never land on it, the checker names it and a
// rebuild removes it.
TEST(KeysPastTheCount, AreSkippedByWalksAndSeeksAndReportedUntilReindexed) {
  Firm firm;
  {
    auto f = cdx::CdxFile::open(firm.cdx, true);
    f->find_tag("naz")->insert("FIRMAB0", 4);  // between firmab and firmac
  }
  auto t = firm.open();
  ASSERT_TRUE(t->set_order_focus("naz"));
  std::string seen;
  for (t->go_top(); !t->eof(); t->skip(1)) seen += std::to_string(t->recno());
  EXPECT_EQ(seen, "123");
  seen.clear();
  for (t->go_bottom(); !t->bof() && !t->eof(); t->skip(-1)) seen += std::to_string(t->recno());
  EXPECT_EQ(seen, "321");
  EXPECT_FALSE(t->seek(Value::of_text("FIRMAB0"), true));
  EXPECT_EQ(t->recno(), 3u);
  t->close();
  EXPECT_NE(firm.faults().find("spoza liczby rekordów"), std::string::npos) << firm.faults();
  t = firm.open();
  ASSERT_TRUE(t->rebuild_orders());
  t->close();
  EXPECT_EQ(firm.faults(), "");
}

}  // namespace
}  // namespace zuv::table
