// Tables written by an independent implementation: our reader gives exactly the
// records of each reference CSV, rendered as the tool's dump renders them.
#include <gtest/gtest.h>

#include "platform/table/csv_text.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

void expect_dump_matches(const std::string& name) {
  std::string dir = zuv::testing::table_vectors_dir();
  if (dir.empty()) GTEST_SKIP() << "reference tables not found (set ZUV_VECTORS)";
  OpenOptions o;
  o.path = dir + "/" + name + ".dbf";
  o.shared = true;
  o.read_only = true;
  auto t = Table::open(o);
  ASSERT_TRUE(t);
  std::string out = csv_header(*t);
  for (std::uint32_t r = 1; r <= t->record_count(); ++r) {
    ASSERT_TRUE(t->go_to(r));
    out += csv_record(*t);
  }
  std::string expected = zuv::testing::table_read_bytes(dir + "/" + name + ".csv");
  ASSERT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
}

TEST(ReferenceTables, SmallWithFptMemo) { expect_dump_matches("small"); }
TEST(ReferenceTables, FakturyWithFptMemo) { expect_dump_matches("faktury"); }
TEST(ReferenceTables, Ntx1WithDbtMemo) { expect_dump_matches("ntx1"); }

// In-process on both targets: header facts and a few records straight from the engine.
TEST(ReferenceTables, EngineReadsHeadersAndMemosDirectly) {
  std::string dir = zuv::testing::table_vectors_dir();
  if (dir.empty()) GTEST_SKIP() << "reference tables not found (set ZUV_VECTORS)";
  struct Case {
    const char* name;
    std::uint8_t version;
    std::uint32_t count;
  };
  for (Case c : {Case{"small", 0xF5, 12}, Case{"faktury", 0xF5, 20000}, Case{"ntx1", 0x83, 3000}}) {
    OpenOptions o;
    o.path = dir + "/" + c.name + ".dbf";
    o.shared = true;
    o.read_only = true;
    auto t = Table::open(o);
    ASSERT_TRUE(t) << c.name;
    EXPECT_EQ(t->version(), c.version);
    EXPECT_EQ(t->record_count(), c.count);
    EXPECT_EQ(t->structure(), (Structure{{"LPP", 'C', 8, 0}, {"NAZWA", 'C', 30, 0}, {"DATA", 'D', 8, 0},
                                         {"KWOTA", 'N', 12, 2}, {"ILOSC", 'N', 4, 0}, {"OK", 'L', 1, 0},
                                         {"UWAGI", 'M', 10, 0}}));
    // Every 7th record deleted; every 3rd has a memo; hidden ones are skipped.
    std::uint32_t visible = 0, memos = 0;
    t->eval([&](Table& x) {
      ++visible;
      if (!x.get("UWAGI").text.empty()) ++memos;
      return true;
    });
    EXPECT_EQ(visible, c.count - c.count / 7) << c.name;
    EXPECT_GT(memos, 0u);
  }
}

}  // namespace
}  // namespace zuv::table
