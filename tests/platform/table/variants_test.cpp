// Tables of the later variant (0x30) with binary field types, the hidden null-flags
// field and a 4-byte memo pointer; and the administrators' tool end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/table/copying.h"
#include "platform/table/index_check.h"
#include "platform/table/table.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::TableTempDir;

void put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// NAZWA C10, ILE I, CENA B(2), KWOTA Y, CZAS T, UWAGI M(4), _NullFlags 0(1).
void write_variant_table(const std::string& dbf, const std::string& fpt) {
  struct F {
    const char* name;
    char type;
    int len, dec, flags;
  } fields[] = {{"NAZWA", 'C', 10, 0, 0}, {"ILE", 'I', 4, 0, 0},   {"CENA", 'B', 8, 2, 0},       {"KWOTA", 'Y', 8, 4, 0},
                {"CZAS", 'T', 8, 0, 0},   {"UWAGI", 'M', 4, 0, 0}, {"_NullFlags", '0', 1, 0, 5}};
  const int n = 7;
  std::size_t header_len = 32 + 32 * n + 1 + 263, record_len = 1 + 10 + 4 + 8 + 8 + 8 + 4 + 1;
  std::string d(header_len, '\0');
  d[0] = '\x30';
  put32(d, 4, 1);
  d[8] = static_cast<char>(header_len & 0xFF);
  d[9] = static_cast<char>(header_len >> 8);
  d[10] = static_cast<char>(record_len);
  for (int i = 0; i < n; ++i) {
    std::size_t at = 32 + 32 * i;
    std::memcpy(&d[at], fields[i].name, std::strlen(fields[i].name));
    d[at + 11] = fields[i].type;
    d[at + 16] = static_cast<char>(fields[i].len);
    d[at + 17] = static_cast<char>(fields[i].dec);
    d[at + 18] = static_cast<char>(fields[i].flags);
  }
  d[32 + 32 * n] = '\x0D';
  std::string r(record_len, '\0');
  r[0] = ' ';
  std::memcpy(&r[1], "Kasa      ", 10);
  put32(r, 11, static_cast<std::uint32_t>(-7));
  double price = 12.5;
  std::memcpy(&r[15], &price, 8);
  put32(r, 23, 12345678);  // 1234.5678
  put32(r, 31, 2461115);   // 2026-03-15
  put32(r, 39, 8);         // memo block 8
  d += r;
  d += '\x1A';
  zuv::testing::table_write_bytes(dbf, d);
  std::string m(512, '\0');
  m[3] = 9;
  m[7] = 64;
  std::string block = std::string("\0\0\0\1\0\0\0\5hello", 13);
  block.resize(64, '\0');
  zuv::testing::table_write_bytes(fpt, m + block);
}

TEST(LaterVariant, BinaryTypesReadWriteAndExportToFoxPro2) {
  TableTempDir dir;
  std::string path = dir.file("vfp.dbf");
  write_variant_table(path, dir.file("vfp.fpt"));
  OpenOptions o;
  o.path = path;
  auto t = Table::open(o);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->structure(), (Structure{{"NAZWA", 'C', 10, 0}, {"ILE", 'I', 4, 0}, {"CENA", 'B', 8, 2},
                                       {"KWOTA", 'Y', 8, 4}, {"CZAS", 'T', 8, 0}, {"UWAGI", 'M', 4, 0}}));
  EXPECT_EQ(t->get("ILE").number, -7);
  EXPECT_EQ(t->get("CENA").number, 12.5);
  EXPECT_DOUBLE_EQ(t->get("KWOTA").number, 1234.5678);
  EXPECT_EQ(t->get("CZAS").text, "20260315");
  EXPECT_EQ(t->get("UWAGI").text, "hello");

  ASSERT_TRUE(t->put("ILE", Value::of_number(123456)));
  ASSERT_TRUE(t->put("KWOTA", Value::of_number(-0.25)));
  ASSERT_TRUE(t->put("UWAGI", Value::of_memo("dłuższy tekst niż jeden blok " + std::string(80, '.'))));
  {
    std::vector<ErrorRecord> errors;
    ScopedHandler h([&](ErrorRecord& r) {
      errors.push_back(r);
      return HandlerAnswer::Default;
    });
    EXPECT_FALSE(t->put("ILE", Value::of_number(3e9)));
    EXPECT_EQ(errors.size(), 1u);
  }
  EXPECT_TRUE(t->commit());
  t->go_top();
  EXPECT_EQ(t->get("ILE").number, 123456);
  EXPECT_EQ(t->get("KWOTA").number, -0.25);
  EXPECT_EQ(t->get("UWAGI").text.size(), 32u + 80u);

  ASSERT_TRUE(export_records(*t, dir.file("fox.dbf")));
  t.reset();
  o.path = dir.file("fox.dbf");
  auto fox = Table::open(o);
  ASSERT_TRUE(fox);
  EXPECT_EQ(fox->version(), 0xF5);
  EXPECT_EQ(fox->structure(), (Structure{{"NAZWA", 'C', 10, 0}, {"ILE", 'N', 11, 0}, {"CENA", 'N', 20, 2},
                                         {"KWOTA", 'N', 20, 4}, {"CZAS", 'D', 8, 0}, {"UWAGI", 'M', 10, 0}}));
  EXPECT_EQ(fox->get("CENA").number, 12.5);
  EXPECT_EQ(fox->get("CZAS").text, "20260315");
  EXPECT_EQ(fox->get("UWAGI").text.size(), 112u);
}

// The tool over the engine: create, append from CSV with deleted marks and Polish
// letters, dump with and without deleted records, struct. Host only (output capture).
// A new record holds zeros where the bytes are a binary number, not spaces that read
// as 538976288 (and as a memo block far past the file), whether appended alone or
// shared, kept or rolled back.
TEST(LaterVariant, ANewRecordIsBlankInItsBinaryFieldsToo) {
  for (bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "shared" : "exclusive");
    TableTempDir dir;
    std::string path = dir.file("vfp.dbf");
    write_variant_table(path, dir.file("vfp.fpt"));
    {
      OpenOptions o;
      o.path = path;
      o.shared = shared;
      auto t = Table::open(o);
      ASSERT_TRUE(t);
      ASSERT_TRUE(t->append());
      ASSERT_TRUE(t->put("NAZWA", Value::of_text("Nowy")));
      ASSERT_TRUE(t->commit());
      ASSERT_TRUE(t->append());
      t->rollback();
      ASSERT_TRUE(t->commit());
      t->go_bottom();
      EXPECT_EQ(t->get("ILE").number, 0);
      t->go_to(t->record_count() + 1);  // the record past the end reads blank as well
      EXPECT_EQ(t->get("ILE").number, 0);
    }
    CheckReport report;
    check_table(path, report);
    EXPECT_TRUE(report.clean()) << report.text();
    OpenOptions o;
    o.path = path;
    o.read_only = true;
    auto t = Table::open(o);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->record_count(), 3u);
    for (std::uint32_t r : {2u, 3u}) {
      ASSERT_TRUE(t->go_to(r));
      EXPECT_EQ(t->get("ILE").number, 0);
      EXPECT_EQ(t->get("CENA").number, 0);
      EXPECT_EQ(t->get("KWOTA").number, 0);
      EXPECT_EQ(t->get("UWAGI").text, "");
      EXPECT_FALSE(t->get("CZAS").text.find_first_not_of(' ') != std::string::npos) << t->get("CZAS").text;
    }
    ASSERT_TRUE(t->go_to(2));
    EXPECT_EQ(t->get("NAZWA").text.substr(0, 4), "Nowy");
  }
}

TEST(DbTool, CreateAppendDumpStruct) {
#ifdef _WIN32
  GTEST_SKIP() << "output capture of child processes is host only";
#endif
  std::string tool = zuv::testing::table_tool_path("zuv-dbtool");
  if (tool.empty()) GTEST_SKIP() << "zuv-dbtool not built";
  TableTempDir dir;
  std::string dbf = dir.file("t.dbf"), csv = dir.file("t.csv");
  ASSERT_EQ(zuv::testing::table_run({tool, "create", dbf, "--struct", "NAME:C:20:0,KWOTA:N:12:2,DATA:D,OK:L,UWAGI:M"}), 0);
  zuv::testing::table_write_bytes(csv,
                                  "NAME,_deleted,KWOTA,DATA,OK,UWAGI\r\n"
                                  "\"Żółw, \"\"duży\"\"\",F,12.5,2026-01-02,T,\"dwie\nlinie\"\r\n"
                                  "usunięty,T,-3,,F,\r\n");
  ASSERT_EQ(zuv::testing::table_run({tool, "append", dbf, "--csv", csv}), 0);
  std::string out;
  ASSERT_EQ(zuv::testing::table_run({tool, "dump", dbf, "--deleted"}, &out), 0);
  EXPECT_EQ(out,
            "\"_recno\",\"_deleted\",\"NAME\",\"KWOTA\",\"DATA\",\"OK\",\"UWAGI\"\n"
            "\"1\",\"F\",\"Żółw, \"\"duży\"\"\",\"12.50\",\"2026-01-02\",\"T\",\"dwie\nlinie\"\n"
            "\"2\",\"T\",\"usunięty\",\"-3.00\",\"\",\"F\",\"\"\n");
  ASSERT_EQ(zuv::testing::table_run({tool, "dump", dbf}, &out), 0);
  EXPECT_EQ(out.find("usunięty"), std::string::npos);
  ASSERT_EQ(zuv::testing::table_run({tool, "struct", dbf}, &out), 0);
  EXPECT_EQ(out, "NAME:C:20:0\nKWOTA:N:12:2\nDATA:D:8:0\nOK:L:1:0\nUWAGI:M:10:0\n");
  // A value that is not of its field's type stops the append with a message.
  zuv::testing::table_write_bytes(csv, "KWOTA\nabc\n");
  EXPECT_EQ(zuv::testing::table_run({tool, "append", dbf, "--csv", csv}), 1);
  zuv::testing::table_write_bytes(csv, "KWOTA\n12345678901234\n");
  EXPECT_EQ(zuv::testing::table_run({tool, "append", dbf, "--csv", csv}), 1);
  ASSERT_EQ(zuv::testing::table_run({tool, "dump", dbf}, &out), 0);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);  // header and record 1 (two lines): nothing added
  EXPECT_EQ(zuv::testing::table_run({tool, "dump", dir.file("brak.dbf")}), 1);
}

}  // namespace
}  // namespace zuv::table

namespace zuv::table {
namespace {

// dBase III table with a DBT memo: texts end at 0x1A; an update that grows moves to
// new blocks at the end and leaves the neighbour's memo whole.
TEST(DbtMemo, ReadAndUpdateWithoutTouchingNeighbours) {
  TableTempDir dir;
  std::string path = dir.file("d.dbf");
  std::string h(32, '\0');
  h[0] = '\x83';
  h[4] = 2;
  h[8] = 97;
  h[10] = 19;
  auto field = [](const char* name, char type, int len) {
    std::string f(32, '\0');
    std::memcpy(&f[0], name, std::strlen(name));
    f[11] = type;
    f[16] = static_cast<char>(len);
    return f;
  };
  h += field("NAZWA", 'C', 8) + field("UWAGI", 'M', 10) + "\r";
  h += std::string(" pierwszy         1") + " drugi            2" + "\x1A";
  zuv::testing::table_write_bytes(path, h);
  std::string dbt(512, '\0');
  dbt[0] = 3;
  std::string one = "tekst jeden\x1A\x1A", two = "tekst dwa\x1A\x1A";
  one.resize(512, '\0');
  dbt += one + two;
  zuv::testing::table_write_bytes(dir.file("d.dbt"), dbt);

  OpenOptions o;
  o.path = path;
  {
    auto t = Table::open(o);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->get("UWAGI").text, "tekst jeden");
    ASSERT_TRUE(t->put("UWAGI", Value::of_memo(std::string(700, 'j'))));
    t->skip(1);
    EXPECT_EQ(t->get("UWAGI").text, "tekst dwa");
    ASSERT_TRUE(t->put("UWAGI", Value::of_memo("krótszy")));
  }
  auto t = Table::open(o);
  EXPECT_EQ(t->get("UWAGI").text, std::string(700, 'j'));
  t->skip(1);
  EXPECT_EQ(t->get("UWAGI").text, "krótszy");
  t.reset();  // read once closed: an exclusive open keeps readers out on Windows
  std::string after = zuv::testing::table_read_bytes(dir.file("d.dbt"));
  EXPECT_EQ(after.size(), 3u * 512 + 1024u);  // block 2 kept in place, the long text in 3-4
}

}  // namespace
}  // namespace zuv::table
