// The administrators' tool refuses what would damage or silently change a table: a
// CSV with any bad row adds nothing, create does not overwrite, seek keys that are no
// keys are errors; and it speaks Polish with the documented exit codes. Host only
// (output capture of a child).
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "support/table_support.h"

namespace zuv::table {
namespace {

using zuv::testing::table_read_bytes;
using zuv::testing::table_run;
using zuv::testing::table_write_bytes;
using zuv::testing::TableTempDir;

class DbToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool = zuv::testing::table_tool_path("zuv-dbtool");
    if (tool.empty()) GTEST_SKIP() << "zuv-dbtool not built";
    ASSERT_EQ(table_run({tool, "create", dbf, "--struct", "NAZWA:C:8:0,KWOTA:N:6:2,DATA:D,OK:L,UWAGI:M"}), 0);
    table_write_bytes(csv, "NAZWA,KWOTA,DATA,OK,UWAGI\nalfa,1.5,2024-02-29,T,pierwsza\n");
    ASSERT_EQ(table_run({tool, "append", dbf, "--csv", csv}), 0);
  }
  // Runs the tool with its messages; answers the exit code.
  int run(const std::string& args, std::string& out) {
    return table_run({"/bin/sh", "-c", "\"" + tool + "\" " + args + " 2>&1"}, &out);
  }
  std::string files() { return table_read_bytes(dbf) + table_read_bytes(dir.file("t.fpt")); }
  TableTempDir dir;
  std::string tool, dbf = dir.file("t.dbf"), csv = dir.file("t.csv");
};

TEST_F(DbToolTest, ACsvWithAnyBadRowAddsNothingAndNamesTheRowAndColumn) {
  const std::string before = files();
  struct Case {
    const char* row;
    const char* words;
  };
  const Case cases[] = {
      {"beta,2,2024-01-01,T", "komórek"},
      {"beta,abc,2024-01-01,T,x", "KWOTA"},
      {"beta,12345,2024-01-01,T,x", "nie mieści"},
      {"beta,nan,2024-01-01,T,x", "liczba"},
      {"beta,inf,2024-01-01,T,x", "liczba"},
      {"beta,1e3,2024-01-01,T,x", "liczba"},
      {"beta,1,2024-02-30,T,x", "data"},
      {"beta,1,2024-13-01,T,x", "data"},
      {"beta,1,2024-01-01,X,x", "logiczna"},
      {"beta,1,2024-01-01,TRUE,x", "logiczna"},
      {"beta\xC3,1,2024-01-01,T,x", "UTF-8"},
      {"\xE6\x97\xA5,1,2024-01-01,T,x", "852"},
      {"bardzo długa,1,2024-01-01,T,x", "dłuższy"},
      {"\"beta,1,2024-01-01,T,x", "cudzysłów"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    // The bad row comes after a good one: the good one must not be added either.
    table_write_bytes(csv, std::string("NAZWA,KWOTA,DATA,OK,UWAGI\ngamma,2,2024-03-01,F,dobra\n") + c.row + "\n");
    std::string out;
    EXPECT_EQ(run("append \"" + dbf + "\" --csv \"" + csv + "\"", out), 1);
    EXPECT_NE(out.find("wiersz 3"), std::string::npos) << out;
    EXPECT_NE(out.find(c.words), std::string::npos) << out;
    EXPECT_EQ(files(), before);
  }
  // With --truncate a long text is cut to its field; a decimal comma is a point.
  table_write_bytes(csv, "NAZWA,KWOTA,DATA,OK,UWAGI\n\"bardzo długa\",\"2,25\",,N,\n");
  ASSERT_EQ(table_run({tool, "append", dbf, "--csv", csv, "--truncate"}), 0);
  std::string out;
  ASSERT_EQ(table_run({tool, "dump", dbf}, &out), 0);
  EXPECT_NE(out.find("\"2\",\"F\",\"bardzo d\",\"2.25\",\"\",\"F\""), std::string::npos) << out;
}

TEST_F(DbToolTest, CreateRefusesAnExistingTableUnlessReplacing) {
  const std::string before = files();
  ASSERT_EQ(table_run({tool, "index", dbf, "naz", "NAZWA"}), 0);
  std::string out;
  EXPECT_EQ(run("create \"" + dbf + "\" --struct A:C:5", out), 1);
  EXPECT_NE(out.find("już istnieje"), std::string::npos) << out;
  EXPECT_EQ(table_read_bytes(dir.file("t.fpt")), before.substr(table_read_bytes(dbf).size()));
  // Replacing takes the old memo file and index away with the old table.
  EXPECT_EQ(table_run({tool, "create", dbf, "--struct", "A:C:5", "--replace"}), 0);
  EXPECT_FALSE(zuv::testing::table_run({"/bin/test", "-e", dir.file("t.fpt")}) == 0);
  EXPECT_FALSE(zuv::testing::table_run({"/bin/test", "-e", dir.file("t.cdx")}) == 0);
  ASSERT_EQ(table_run({tool, "dump", dbf}, &out), 0);
  EXPECT_EQ(out, "\"_recno\",\"_deleted\",\"A\"\n");
}

TEST_F(DbToolTest, IndexMarksTheTableAndSeekRefusesKeysOfTheWrongType) {
  ASSERT_EQ(table_run({tool, "index", dbf, "kw", "KWOTA"}), 0);
  ASSERT_EQ(table_run({tool, "index", dbf, "dt", "DATA"}), 0);
  EXPECT_EQ(table_read_bytes(dbf)[28], '\x01');  // the structural-index mark
  std::string out;
  for (const char* key : {"abc", "", "1e999", "12.5.1"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(run("seek \"" + dbf + "\" --order kw \"" + key + "\"", out), 1);
    EXPECT_NE(out.find("nie jest liczbą"), std::string::npos) << out;
  }
  for (const char* key : {"2024-13-45", "abc", ""}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(run("seek \"" + dbf + "\" --order dt \"" + key + "\"", out), 1);
    EXPECT_NE(out.find("nie jest datą"), std::string::npos) << out;
  }
  // A decimal comma reads as a point; a key not there answers 3.
  EXPECT_EQ(run("seek \"" + dbf + "\" --order kw 1,50", out), 0) << out;
  EXPECT_NE(out.find("alfa"), std::string::npos);
  EXPECT_EQ(run("seek \"" + dbf + "\" --order dt 2024-02-29", out), 0) << out;
  EXPECT_EQ(run("seek \"" + dbf + "\" --order kw 7", out), 3) << out;
}

TEST_F(DbToolTest, DumpInTagOrderShowsDeletedRecordsWhenAsked) {
  table_write_bytes(csv, "NAZWA,_deleted\nbeta,T\naaa,F\n");
  ASSERT_EQ(table_run({tool, "append", dbf, "--csv", csv}), 0);
  ASSERT_EQ(table_run({tool, "index", dbf, "naz", "NAZWA"}), 0);
  std::string out;
  ASSERT_EQ(table_run({tool, "dump", dbf, "--order", "naz"}, &out), 0);
  EXPECT_EQ(out.find("beta"), std::string::npos) << out;
  ASSERT_EQ(table_run({tool, "dump", dbf, "--order", "naz", "--deleted"}, &out), 0);
  EXPECT_NE(out.find("\"3\",\"F\",\"aaa"), std::string::npos) << out;
  EXPECT_LT(out.find("alfa"), out.find("\"2\",\"T\",\"beta"));
}

TEST_F(DbToolTest, CommandLineMistakesArePolishWithTheUsageAndCodeTwo) {
  std::string out;
  EXPECT_EQ(run("nieznane", out), 2);
  EXPECT_NE(out.find("nieznane polecenie"), std::string::npos) << out;
  EXPECT_NE(out.find("Użycie"), std::string::npos) << out;
  EXPECT_EQ(run("create \"" + dbf + "\"", out), 2);
  EXPECT_NE(out.find("brak wymaganego"), std::string::npos) << out;
  EXPECT_EQ(run("", out), 2);
  EXPECT_NE(out.find("nie podano polecenia"), std::string::npos) << out;
  EXPECT_EQ(run("--help", out), 0);
  for (const char* english : {"Usage", "Options", "Print this help", "REQUIRED", "TEXT", "Subcommands"})
    EXPECT_EQ(out.find(english), std::string::npos) << english << "\n" << out;
  EXPECT_EQ(run("append --help", out), 0);
  EXPECT_NE(out.find("--truncate"), std::string::npos) << out;
  EXPECT_EQ(out.find("Options"), std::string::npos) << out;
}

TEST_F(DbToolTest, ReindexOfADirectoryWithoutFirmTablesSaysSo) {
  TableTempDir empty;
  std::string out;
  EXPECT_EQ(run("reindex-firm \"" + empty.path() + "\"", out), 1);
  EXPECT_NE(out.find("nie ma żadnej tabeli firmy"), std::string::npos) << out;
}

}  // namespace
}  // namespace zuv::table
#endif
