// An undo journal left beside an index by a cut: the next writer puts its pages back,
// unless the journal cannot belong to the file (a range past the size the file had
// before the change, or a size past the file): then the open fails and the index stays
// byte for byte as it was, instead of being grown or overwritten where nothing was kept.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/coding.h"
#include "platform/table/cdx.h"
#include "platform/table/index_file.h"
#include "platform/table/index_key.h"
#include "platform/table/ntx.h"
#include "platform/table/order.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

using zuv::testing::table_read_bytes;
using zuv::testing::table_write_bytes;
using zuv::testing::TableTempDir;

std::string le64(uint64_t v) {
  std::string s(8, '\0');
  base::put_le64(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
}
std::string le32(uint32_t v) {
  std::string s(4, '\0');
  base::put_le32(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
}
std::string journal(uint64_t old_size, const std::string& records) {
  return "ZUVUNDO1" + le64(old_size) + records + le64(~uint64_t(0)) + le32(0);
}
std::string record(uint64_t off, const std::string& old) { return le64(off) + le32(uint32_t(old.size())) + old; }

struct Indexed {
  TableTempDir dir;
  std::string dbf = dir.file("firma.dbf"), cdx = dir.file("firma.cdx");
  Indexed() {
    EXPECT_TRUE(Table::create(dbf, {{"NAZWA", 'C', 12, 0}}));
    OpenOptions o;
    o.path = dbf;
    auto t = Table::open(o);
    for (int i = 0; i < 5; ++i) {
      EXPECT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, Value::of_text("firma" + std::to_string(i))));
    }
    EXPECT_TRUE(ORDCREATE(*t, cdx, "naz", "upper(NAZWA)"));
    t->close();
  }
};

TEST(UndoJournal, AJournalThatCannotBelongToTheIndexLeavesItAsItWas) {
  Indexed firm;
  const std::string before = table_read_bytes(firm.cdx);
  const uint64_t size = before.size();
  const std::string page(512, 'x');
  const std::string bad[] = {
      journal(size, record(uint64_t(1) << 40, page)),  // a range far past the old end
      journal(size, record(size - 256, page)),         // a range reaching past it
      journal(uint64_t(1) << 40, ""),                  // an old size past the file
  };
  for (const std::string& j : bad) {
    table_write_bytes(firm.cdx + ".zuvundo", j);
    try {
      cdx::CdxFile::open(firm.cdx, true, os::Share::Exclusive);
      ADD_FAILURE() << "a damaged journal was put back";
    } catch (const IndexError& e) {
      EXPECT_NE(std::string(e.what()).find("Uszkodzony dziennik zmian indeksu"), std::string::npos) << e.what();
    }
    EXPECT_EQ(table_read_bytes(firm.cdx), before);
  }
}

TEST(UndoJournal, ASoundJournalPutsItsPagesBackAndCutsTheGrowth) {
  Indexed firm;
  const std::string before = table_read_bytes(firm.cdx);
  // As a cut leaves it: the file grew by a page and its second page was overwritten.
  std::string grown = before;
  grown.replace(512, 512, std::string(512, 'y'));
  grown += std::string(512, 'z');
  table_write_bytes(firm.cdx, grown);
  table_write_bytes(firm.cdx + ".zuvundo", journal(before.size(), record(512, before.substr(512, 512))));
  cdx::CdxFile::open(firm.cdx, true, os::Share::Exclusive).reset();
  EXPECT_EQ(table_read_bytes(firm.cdx), before);
}

// A writer killed midway left its journal; the index is then built anew in its place.
// The journal spoke of the file that is gone: the new one never takes its old pages.
TEST(UndoJournal, AnIndexBuiltAnewDropsTheJournalOfTheFileItReplaces) {
  Indexed firm;
  const std::string ntx = firm.dir.file("nazwa.ntx"), cdx2 = firm.dir.file("druga.cdx");
  OpenOptions o;
  o.path = firm.dbf;
  auto t = Table::open(o);
  ASSERT_TRUE(ORDCREATE(*t, ntx, "naz", "upper(NAZWA)"));
  const std::string built = table_read_bytes(ntx);
  table_write_bytes(ntx + ".zuvundo", journal(built.size(), record(0, std::string(512, 'j'))));
  // Windows replaces no file a handle holds: the table lets the first one go.
  t->close();
  t = Table::open(o);
  ASSERT_TRUE(ORDCREATE(*t, ntx, "naz", "upper(NAZWA)"));
  ntx::NtxFile::open(ntx, true).reset();
  EXPECT_EQ(table_read_bytes(ntx), built);

  table_write_bytes(cdx2 + ".zuvundo", journal(1024, record(0, std::string(512, 'j'))));
  ASSERT_TRUE(ORDCREATE(*t, cdx2, "naz", "upper(NAZWA)"));
  t->close();
  const std::string made = table_read_bytes(cdx2);
  cdx::CdxFile::open(cdx2, true, os::Share::Exclusive).reset();
  EXPECT_EQ(table_read_bytes(cdx2), made);
}

TEST(UndoJournal, ReaderAnswersNothingForAnEmptyOrBlankedJournalAndStopsAtATornRecord) {
  EXPECT_FALSE(read_undo_journal("", 4096, "j"));
  EXPECT_FALSE(read_undo_journal(std::string(16, '\0') + record(0, "abc"), 4096, "j"));
  // The second record's old bytes were cut short: its range was never overwritten.
  const std::string torn = "ZUVUNDO1" + le64(4096) + record(0, "abc") + le64(512) + le32(512) + "short";
  auto j = read_undo_journal(torn, 4096, "j");
  ASSERT_TRUE(j);
  EXPECT_EQ(j->old_size, 4096u);
  ASSERT_EQ(j->ranges.size(), 1u);
  EXPECT_EQ(j->ranges[0].bytes, "abc");
}

}  // namespace
}  // namespace zuv::table
