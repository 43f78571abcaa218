// Our tables read by the packaged Python readers, and a FoxPro table with memos
// written by one of them read by us. Host only: the interpreter is Debian's.
#include <gtest/gtest.h>

#include "platform/os/codepage.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

using zuv::testing::TableTempDir;

std::string u8(const char* s) { return s; }
std::string cp(const char* s) { return os::cp852_from_utf8(s); }

// A table with Polish letters in texts and memos, a deleted record and blank values
// (a fresh record is blank, which the readers show as null).
void write_sample(const std::string& path) {
  ASSERT_TRUE(Table::create(path, {{"NAZWA", 'C', 20, 0}, {"KWOTA", 'N', 12, 2}, {"DATA", 'D', 8, 0},
                                   {"OK", 'L', 1, 0}, {"UWAGI", 'M', 10, 0}}));
  OpenOptions o;
  o.path = path;
  auto t = Table::open(o);
  EXPECT_TRUE(t->append());
  EXPECT_TRUE(t->put("NAZWA", Value::of_text(cp("Zażółć gęślą jaźń"))));
  EXPECT_TRUE(t->put("KWOTA", Value::of_number(-1234.5)));
  EXPECT_TRUE(t->put("DATA", Value::of_date("20260315")));
  EXPECT_TRUE(t->put("OK", Value::of_logical(true)));
  EXPECT_TRUE(t->put("UWAGI", Value::of_memo(cp("Łódź;\r\nŹdźbło") + std::string(300, 'z'))));
  EXPECT_TRUE(t->append());
  EXPECT_TRUE(t->put("NAZWA", Value::of_text("usuniety")));
  EXPECT_TRUE(t->remove());
  EXPECT_TRUE(t->append());
  EXPECT_TRUE(t->put("NAZWA", Value::of_text("")));
}

TEST(OutsideReaders, DbfreadReadsValuesMarksAndMemos) {
  std::string python = zuv::testing::table_python_with({"dbfread"});
  if (python.empty()) GTEST_SKIP() << "/usr/bin/python3 with dbfread not available";
  TableTempDir dir;
  std::string path = dir.file("probka.dbf");
  write_sample(path);
  std::string out;
  std::string script =
      "import dbfread,sys\n"
      "t=dbfread.DBF(sys.argv[1],encoding='cp852',ignore_missing_memofile=False)\n"
      "for r in t: print(repr(list(r.values())))\n"
      "for r in t.deleted: print('deleted', r['NAZWA'])\n";
  ASSERT_EQ(zuv::testing::table_run({python, "-c", script, path}, &out), 0);
  EXPECT_EQ(out,
            u8("['Zażółć gęślą jaźń', -1234.5, datetime.date(2026, 3, 15), True, 'Łódź;\\r\\nŹdźbło") +
                std::string(300, 'z') +
                "']\n"
                "['', None, None, None, None]\n"
                "deleted usuniety\n");
}

TEST(OutsideReaders, PythonDbfReadsOurFoxProTable) {
  std::string python = zuv::testing::table_python_with({"dbf"});
  if (python.empty()) GTEST_SKIP() << "/usr/bin/python3 with dbf not available";
  TableTempDir dir;
  std::string path = dir.file("probka.dbf");
  write_sample(path);
  std::string out;
  std::string script =
      "import dbf,sys\n"
      "t=dbf.Table(sys.argv[1],codepage='cp852'); t.open()\n"
      "for r in t: print(repr(r.nazwa.rstrip()), r.kwota, r.data, r.ok, len(r.uwagi), dbf.is_deleted(r))\n";
  ASSERT_EQ(zuv::testing::table_run({python, "-c", script, path}, &out), 0);
  EXPECT_EQ(out, u8("'Zażółć gęślą jaźń' -1234.5 2026-03-15 True 313 False\n"
                    "'usuniety' None None None 0 True\n"
                    "'' None None None 0 False\n"));
}

TEST(OutsideReaders, WeReadAFoxProTableWithMemosWrittenByPythonDbf) {
  std::string python = zuv::testing::table_python_with({"dbf"});
  if (python.empty()) GTEST_SKIP() << "/usr/bin/python3 with dbf not available";
  TableTempDir dir;
  std::string path = dir.file("obca.dbf");
  std::string script =
      "import dbf,sys,datetime\n"
      "t=dbf.Table(sys.argv[1],'NAZWA C(15); KWOTA N(10,3); DATA D; OK L; UWAGI M',"
      "dbf_type='fp',codepage='cp852'); t.open(dbf.READ_WRITE)\n"
      "t.append(('Śląsk',12.345,datetime.date(2025,12,31),True,'pierwszy ąę '*50))\n"
      "t.append(('Ęx',-0.5,None,False,''))\n"
      "t.append(('trzeci',1,None,None,'krótki'))\n"
      "dbf.delete(t[1]); t.close()\n";
  ASSERT_EQ(zuv::testing::table_run({python, "-c", script, path}), 0);
  Settings shown;
  shown.deleted_hidden = false;
  OpenOptions o;
  o.path = path;
  o.read_only = true;
  auto t = Table::open(o);
  ASSERT_TRUE(t);
  t->set_settings(&shown);
  t->go_top();
  EXPECT_EQ(t->version(), 0xF5);
  ASSERT_EQ(t->record_count(), 3u);
  EXPECT_EQ(t->get("NAZWA").text, cp("Śląsk          "));
  EXPECT_DOUBLE_EQ(t->get("KWOTA").number, 12.345);
  EXPECT_EQ(t->get("DATA").text, "20251231");
  EXPECT_TRUE(t->get("OK").logical);
  std::string expected;
  for (int i = 0; i < 50; ++i) expected += cp("pierwszy ąę ");
  EXPECT_EQ(t->get("UWAGI").text, expected);
  t->skip(1);
  EXPECT_TRUE(t->deleted());
  EXPECT_DOUBLE_EQ(t->get("KWOTA").number, -0.5);
  EXPECT_TRUE(t->get("DATA").is_empty_date());
  EXPECT_EQ(t->get("UWAGI").text, "");
  t->skip(1);
  EXPECT_EQ(t->get("UWAGI").text, cp("krótki"));
}

}  // namespace
}  // namespace zuv::table
