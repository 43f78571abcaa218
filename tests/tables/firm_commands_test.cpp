// The administrators' commands: reindex-firm and disk-test through zuv-dbtool.
#include <gtest/gtest.h>

#include "tables_fixture.h"

namespace zuv::tables::testing {
namespace {

class FirmCommands : public TablesTest {
 protected:
  void SetUp() override {
    tool = zuv::testing::table_tool_path("zuv-dbtool");
    if (tool.empty()) GTEST_SKIP() << "zuv-dbtool not built";
  }
  std::string tool;
};

TEST_F(FirmCommands, DiskTestPrintsTheStepAndExitsZeroOnlyWhenAllPassed) {
  std::string out;
  EXPECT_EQ(zuv::testing::table_run({tool, "disk-test", scratch.path()}, &out), 0);
#ifndef _WIN32
  EXPECT_EQ(out, "0\n");
#endif
  EXPECT_EQ(zuv::testing::table_run({tool, "disk-test", scratch.file("brak")}, &out), 2);
  zuv::testing::table_write_bytes(scratch.file("plik"), "x");
  EXPECT_EQ(zuv::testing::table_run({tool, "disk-test", scratch.file("plik")}, &out), 2);
}

TEST_F(FirmCommands, ReindexFirmBuildsWhatIsThereAndSaysWhatItSkipped) {
  ASSERT_TRUE(table::Table::create(file("st_fn.dbf"), {{"LPP", 'C', 6, 0}, {"DATA", 'D', 8, 0}}));
  ASSERT_TRUE(table::Table::create(file("ntx.dbf"), {{"OK", 'L', 1, 0}}));
  zuv::testing::table_write_bytes(os_file("wh.dbf"), "x");
  std::string out;
  EXPECT_EQ(zuv::testing::table_run({tool, "reindex-firm", scratch.path()}, &out), 0);
#ifndef _WIN32
  EXPECT_NE(out.find("zbudowano   st_fn\n"), std::string::npos) << out;
  EXPECT_NE(out.find("usunięto    wh.dbf\n"), std::string::npos) << out;
  EXPECT_NE(out.find("pominięto   workus (brak tabeli)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ntx.dbf     oznaczono\n"), std::string::npos) << out;
#endif
  EXPECT_EQ(zuv::testing::table_run({tool, "reindex-firm", scratch.file("brak")}, &out), 2);
  // A table that cannot be opened for ourselves is an error of the run.
  table::OpenOptions o;
  o.path = file("st_fn.dbf");
  auto holder = table::Table::open(o);
  EXPECT_EQ(zuv::testing::table_run({tool, "reindex-firm", scratch.path()}, &out), 1);
}

}  // namespace
}  // namespace zuv::tables::testing
