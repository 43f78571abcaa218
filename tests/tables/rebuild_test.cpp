// Field addition: every record, deletion mark and memo text survives, with and without
// initial values; a table that has every field is not touched; and a failure of any
// file operation of the rebuild leaves the table's own name holding the complete old
// or the complete new content.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "lib/files.h"
#include "platform/os/fault.h"
#include "platform/os/files.h"
#include "platform/os/write_tally.h"
#include "platform/table/copying.h"
#include "platform/error/error.h"
#include "tables/rebuild.h"
#include "tables_fixture.h"
#include "support/table_support.h"

namespace zuv::tables::testing {
namespace {

namespace fs = std::filesystem;
using table::Value;

struct Row {
  bool deleted = false;
  std::vector<std::string> cells;
  bool operator==(const Row&) const = default;
};

// Every record of a table, deleted ones included, as text cells.
std::vector<Row> read_all(const std::string& path, table::Structure* structure = nullptr) {
  std::vector<Row> rows;
  ScopedHandler quiet([](ErrorRecord&) { return HandlerAnswer::Default; });
  auto t = zuv::testing::open_for_reading(path);
  if (!t) return rows;
  if (structure) *structure = t->structure();
  for (std::uint32_t r = 1; r <= t->record_count(); ++r) {
    t->go_to(r);
    Row row;
    row.deleted = t->deleted();
    for (int i = 0; i < t->field_count(); ++i) {
      Value v = t->get(i);
      row.cells.push_back(v.type == table::ValueType::Number ? std::to_string(v.number)
                          : v.type == table::ValueType::Logical ? (v.logical ? "T" : "F")
                                                                 : v.text);
    }
    rows.push_back(row);
  }
  return rows;
}

// The rows expected after adding fields to rows: the old cells, then the new ones.
std::vector<Row> widened(std::vector<Row> rows, const std::vector<std::string>& tail) {
  for (Row& r : rows) r.cells.insert(r.cells.end(), tail.begin(), tail.end());
  return rows;
}

class Rebuild : public TablesTest {
 protected:
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(fs::u8path(scratch.path()))) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  const table::Structure two = {{"KWOTA", 'N', 12, 2}, {"KOD", 'C', 3, 0}};
};

TEST_F(Rebuild, AddedFieldsKeepRecordsMarksAndMemosWithAndWithoutInitialValues) {
  make_table("faktury.dbf", 50);
  {
    // The table carries the mark of a structural compound index; the rebuild keeps it.
    table::OpenOptions o;
    o.path = file("faktury.dbf");
    ASSERT_TRUE(table::Table::open(o)->set_table_flags(0x01));
  }
  auto before = read_all(file("faktury.dbf"));
  ASSERT_EQ(before.size(), 50u);
  ASSERT_TRUE(DODAJ_POLE(areas, two, {}, dir, "FAKTURY.DBF"));
  EXPECT_TRUE(areas.aliases().empty());
  table::Structure s;
  EXPECT_EQ(read_all(file("faktury.dbf"), &s), widened(before, {"0.000000", std::string(3, ' ')}));
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[3], (table::FieldInfo{"KWOTA", 'N', 12, 2}));
  // Only the table and its memo file remain: the working files are gone.
  EXPECT_EQ(names(), (std::vector<std::string>{"faktury.dbf", "faktury.fpt"}));
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("faktury.dbf"))[28], '\x01');

  // Initial values, a memo field among the new ones, and a field already there.
  table::Structure more = {{"NAZWA", 'C', 20, 0}, {"OK", 'L', 1, 0}, {"OPIS", 'M', 10, 0}, {"DATA", 'D', 8, 0}};
  auto mid = read_all(file("faktury.dbf"));
  ASSERT_TRUE(DODAJ_POLE(areas, more,
                         {Value::of_text("x"), Value::of_logical(true), Value::of_memo("opis \xA5"), std::nullopt},
                         dir, "faktury.dbf"));
  auto after = read_all(file("faktury.dbf"), &s);
  EXPECT_EQ(after, widened(mid, {"T", "opis \xA5", std::string(8, ' ')}));
  EXPECT_EQ(s.size(), 8u);
  areas.settings().deleted_hidden = true;
  EXPECT_TRUE(areas.settings().deleted_hidden);
}

// The rebuilt file laid out by hand: the old header with the new lengths, the old
// field descriptors followed by the new ones, each old record's bytes (deletion mark
// and memo block number included) followed by the new fields' bytes; the memo file
// is the old one byte for byte. A field already present keeps its old width.
TEST_F(Rebuild, RebuiltFileIsTheOldRecordBytesFollowedByTheNewFields) {
  ASSERT_TRUE(table::Table::create(
      file("ks.dbf"), {{"NR", 'N', 8, 2}, {"NAZWA", 'C', 20, 0}, {"DATA", 'D', 8, 0}, {"OK", 'L', 1, 0},
                       {"UWAGI", 'M', 10, 0}}));
  {
    table::OpenOptions o;
    o.path = file("ks.dbf");
    auto t = table::Table::open(o);
    for (int i = 1; i <= 300; ++i) {
      ASSERT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, Value::of_number(i * 1.25)));
      EXPECT_TRUE(t->put(1, Value::of_text("kontrahent \xA5 " + std::to_string(i))));
      if (i % 4) {
        EXPECT_TRUE(t->put(2, Value::of_date("20260" + std::to_string(1 + i % 9) + "15")));
      }
      if (i % 5) {
        EXPECT_TRUE(t->put(3, Value::of_logical(i % 2)));
      }
      if (i % 3 == 1) {
        EXPECT_TRUE(t->put(4, Value::of_memo(memo_text(i))));
      }
      if (i % 7 == 0) {
        EXPECT_TRUE(t->remove());
      }
    }
    ASSERT_TRUE(t->commit());
  }
  const std::string old = zuv::testing::table_read_bytes(os_file("ks.dbf"));
  const std::string old_memo = zuv::testing::table_read_bytes(os_file("ks.fpt"));
  const std::size_t old_header = 32 + 5 * 32 + 1, old_length = 1 + 8 + 20 + 8 + 1 + 10;
  ASSERT_EQ(old.size(), old_header + 300 * old_length + 1);

  ASSERT_TRUE(DODAJ_POLE(areas,
                         {{"NAZWA", 'C', 60, 0}, {"KSEF", 'C', 6, 0}, {"KURS", 'N', 10, 4}, {"DATA_K", 'D', 8, 0},
                          {"ZAM", 'L', 1, 0}},
                         {Value::of_text("zmienione"), Value::of_text("brak"), Value::of_number(1), std::nullopt,
                          Value::of_logical(true)},
                         dir, "ks.dbf"));

  const std::size_t header = 32 + 9 * 32 + 1, length = old_length + 6 + 10 + 8 + 1;
  std::string want = old.substr(0, 32);
  want[8] = static_cast<char>(header & 0xFF), want[9] = static_cast<char>(header >> 8);
  want[10] = static_cast<char>(length), want[11] = 0;
  want += old.substr(32, 5 * 32);
  auto descriptor = [](const std::string& name, char type, int len, int dec) {
    std::string d(32, '\0');
    d.replace(0, name.size(), name);
    d[11] = type, d[16] = static_cast<char>(len), d[17] = static_cast<char>(dec);
    return d;
  };
  want += descriptor("KSEF", 'C', 6, 0) + descriptor("KURS", 'N', 10, 4) + descriptor("DATA_K", 'D', 8, 0) +
          descriptor("ZAM", 'L', 1, 0) + "\x0D";
  for (std::size_t r = 0; r < 300; ++r)
    want += old.substr(old_header + r * old_length, old_length) + "brak  " + "    1.0000" + std::string(8, ' ') + "T";
  want += "\x1A";
  const std::string got = zuv::testing::table_read_bytes(os_file("ks.dbf"));
  ASSERT_EQ(got.size(), want.size());
  EXPECT_EQ(got.substr(0, header), want.substr(0, header));
  for (std::size_t r = 0; r < 300; ++r)
    ASSERT_EQ(got.substr(header + r * length, length), want.substr(header + r * length, length)) << "record " << r + 1;
  EXPECT_EQ(got, want);
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("ks.fpt")), old_memo);
  EXPECT_EQ(names(), (std::vector<std::string>{"ks.dbf", "ks.fpt"}));
}

// A conversion given to the field addition sees every record, deleted ones with their
// mark, holding its old bytes (a blank number stays blank) and the new fields' initial
// values; what it puts is in the new table, which is written once: the backup is a
// second name for the old file, and no record goes to the disk twice.
TEST_F(Rebuild, AConversionRunsOnEachRecordAsTheWidenedTableIsWritten) {
  make_table("oss.dbf", 3000, false);
  {
    table::OpenOptions o;
    o.path = file("oss.dbf");
    auto t = table::Table::open(o);
    ASSERT_TRUE(t->go_to(5));
    ASSERT_TRUE(t->put(0, Value()));  // blank number
    ASSERT_TRUE(t->commit());
  }
  const std::string old = zuv::testing::table_read_bytes(os_file("oss.dbf"));
  const std::size_t header = 32 + 2 * 32 + 1, length = 1 + 8 + 20;
  auto before = read_all(file("oss.dbf"));
  int seen = 0, seen_deleted = 0;
#ifndef _WIN32
  os::write_tally::start();
#endif
  ASSERT_TRUE(DODAJ_POLE(
      areas, {{"KURS", 'N', 10, 4}, {"PLN", 'N', 12, 2}}, {Value::of_number(1), std::nullopt}, dir, "oss.dbf",
      [&](table::Table& t) {
        ++seen;
        seen_deleted += t.deleted();
        EXPECT_DOUBLE_EQ(t.get("KURS").number, 1);
        EXPECT_TRUE(t.put("PLN", Value::of_number(t.get("NR").number * 2)));
      }));
#ifndef _WIN32
  const std::uint64_t written = os::write_tally::totals().bytes;
  os::write_tally::stop();
#endif
  EXPECT_EQ(seen, 3000);
  EXPECT_EQ(seen_deleted, 1000);
  auto after = read_all(file("oss.dbf"));
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].deleted, before[i].deleted);
    EXPECT_EQ(after[i].cells[2], "1.000000");
    EXPECT_EQ(after[i].cells[3], std::to_string(std::stod(before[i].cells[0]) * 2)) << i;
  }
  const std::string now = zuv::testing::table_read_bytes(os_file("oss.dbf"));
#ifndef _WIN32
  EXPECT_LT(written, now.size() * 5 / 4) << "the table was written more than once";
#endif
  const std::size_t wide = length + 10 + 12;
  for (std::size_t r : {0u, 4u, 2999u})
    EXPECT_EQ(now.substr(header + 32 * 2 + r * wide, length), old.substr(header + r * length, length)) << r;
  EXPECT_EQ(names(), (std::vector<std::string>{"oss.dbf"}));
}

TEST_F(Rebuild, TableWithoutMemoGainsAMemoFile) {
  make_table("plain.dbf", 30, false);
  auto before = read_all(file("plain.dbf"));
  ASSERT_TRUE(DODAJ_POLE(areas, {{"UWAGI", 'M', 10, 0}}, {Value::of_memo("nowa")}, dir, "plain.dbf"));
  EXPECT_EQ(read_all(file("plain.dbf")), widened(before, {"nowa"}));
  EXPECT_EQ(names(), (std::vector<std::string>{"plain.dbf", "plain.fpt"}));
}

// Tables of other writers: a dBase table with a DBT memo and a FoxPro table written
// elsewhere keep every record and memo text.
TEST_F(Rebuild, TablesOfOtherWritersKeepTheirRecords) {
  std::string vectors = zuv::testing::table_vectors_dir();
  if (vectors.empty()) GTEST_SKIP() << "no reference tables";
  for (const char* base : {"ntx1", "faktury"}) {
    for (const char* ext : {".dbf", ".dbt", ".fpt"}) {
      fs::path from = fs::u8path(vectors) / (std::string(base) + ext);
      if (fs::exists(from)) fs::copy_file(from, fs::u8path(os_file(std::string(base) + ext)));
    }
    auto before = read_all(file(std::string(base) + ".dbf"));
    ASSERT_FALSE(before.empty()) << base;
    ASSERT_TRUE(DODAJ_POLE(areas, {{"ZNAK", 'C', 4, 0}}, {Value::of_text("abcd")}, dir, std::string(base) + ".dbf"));
    EXPECT_EQ(read_all(file(std::string(base) + ".dbf")), widened(before, {"abcd"})) << base;
  }
}

TEST_F(Rebuild, TableWithEveryFieldIsNotTouched) {
  make_table("pelna.dbf", 10);
  std::string bytes = zuv::testing::table_read_bytes(os_file("pelna.dbf"));
  std::string memo = zuv::testing::table_read_bytes(os_file("pelna.fpt"));
  auto stamp = fs::last_write_time(fs::u8path(os_file("pelna.dbf")));
  fs::last_write_time(fs::u8path(os_file("pelna.dbf")), stamp - std::chrono::hours(48));
  stamp = fs::last_write_time(fs::u8path(os_file("pelna.dbf")));
  ASSERT_TRUE(DODAJ_POLE(areas, {{"NR", 'N', 8, 0}, {"UWAGI", 'M', 10, 0}}, {}, dir, "pelna.dbf"));
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("pelna.dbf")), bytes);
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("pelna.fpt")), memo);
  EXPECT_EQ(fs::last_write_time(fs::u8path(os_file("pelna.dbf"))), stamp);
  EXPECT_EQ(names(), (std::vector<std::string>{"pelna.dbf", "pelna.fpt"}));
  // Names are compared exactly: "nr" is not "NR" and would be added.
  EXPECT_TRUE(DODAJ_POLA(areas, dir, "pelna.dbf", {{"nr", 'N', 8, 0}}));
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("pelna.dbf")), bytes);
}

TEST_F(Rebuild, HeldOrMissingTableAnswersFalseAndChangesNothing) {
  make_table("zajeta.dbf", 4);
  std::string bytes = zuv::testing::table_read_bytes(os_file("zajeta.dbf"));
  table::OpenOptions o;
  o.path = file("zajeta.dbf");
  o.shared = true;
  auto other = table::Table::open(o);
  EXPECT_FALSE(DODAJ_POLE(areas, two, {}, dir, "zajeta.dbf"));
  other.reset();
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("zajeta.dbf")), bytes);
  EXPECT_FALSE(DODAJ_POLE(areas, two, {}, dir, "brak.dbf"));
  EXPECT_TRUE(DODAJ_POLA(areas, dir, "brak.dbf", two));
  EXPECT_EQ(names(), (std::vector<std::string>{"zajeta.dbf", "zajeta.fpt"}));
}

TEST_F(Rebuild, HundredThousandRecordsKeepEveryRecordAndMark) {
  make_table("duza.dbf", 100000);
  auto before = read_all(file("duza.dbf"));
  ASSERT_TRUE(DODAJ_POLE(areas, two, {Value::of_number(1.5), Value::of_text("PLN")}, dir, "duza.dbf"));
  auto after = read_all(file("duza.dbf"));
  ASSERT_EQ(after.size(), 100000u);
  EXPECT_EQ(after, widened(before, {"1.500000", "PLN"}));
}

TEST_F(Rebuild, SelfTestVariantKeepsItsBackupAndFindsFieldsInAnyCase) {
  make_table("test.dbf", 12);
  auto before = read_all(file("test.dbf"));
  ASSERT_TRUE(DODAJ_POLA(areas, dir, "test.dbf", {{"nazwa", 'C', 20, 0}, {"ptu1", 'C', 2, 0}}));
  table::Structure s;
  EXPECT_EQ(read_all(file("test.dbf"), &s), widened(before, {"  "}));
  EXPECT_EQ(s.back().name, "PTU1");
  EXPECT_EQ(read_all(file("stary.dbf")), before);
  EXPECT_TRUE(areas.aliases().empty());
  EXPECT_TRUE(areas.settings().deleted_hidden);
}

TEST_F(Rebuild, ExportRefusesATargetItCannotReplaceBeforeExporting) {
  make_table("zrodlo.dbf", 6);
  make_table("cel.dbf", 2);
  std::string old = zuv::testing::table_read_bytes(os_file("cel.dbf"));
  ASSERT_TRUE(OTWORZ(areas, dir, "zrodlo", "z"));
  {
    table::OpenOptions o;
    o.path = file("cel.dbf");
    auto holder = table::Table::open(o);
    EXPECT_FALSE(EXPORTUJ(areas, file("cel.dbf")));
  }
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("cel.dbf")), old);
  EXPECT_FALSE(fs::exists(fs::u8path(os_file("cel~.dbf"))));
  // A read-only target is made writable and replaced; deleted records stay hidden.
  ASSERT_TRUE(os::change_attributes(file("cel.dbf"), "+R"));
  ASSERT_TRUE(EXPORTUJ(areas, file("cel.dbf")));
  EXPECT_EQ(read_all(file("cel.dbf")).size(), 4u);
  ASSERT_TRUE(LBCREATE(file("cel.dbf"), {{"A", 'C', 5, 0}}));
  EXPECT_TRUE(read_all(file("cel.dbf")).empty());
  EXPECT_FALSE(fs::exists(fs::u8path(os_file("cel.fpt"))));  // the old memo went with it
}

// Each file operation of a rebuild fails in turn: the table's name then holds the old
// or the new content, complete; a later run finishes the job.
TEST_F(Rebuild, FailureAtEveryFileOperationLosesNothing) {
  make_table("rob.dbf", 40);
  const auto old_rows = read_all(file("rob.dbf"));
  const auto new_rows = widened(old_rows, {"0.000000", "   ", "pierwsza"});
  table::Structure add = {{"KWOTA", 'N', 12, 2}, {"KOD", 'C', 3, 0}, {"NOTA", 'M', 10, 0}};
  std::vector<std::optional<Value>> init = {std::nullopt, std::nullopt, Value::of_memo("pierwsza")};
  std::string pristine_dbf = zuv::testing::table_read_bytes(os_file("rob.dbf"));
  std::string pristine_fpt = zuv::testing::table_read_bytes(os_file("rob.fpt"));
  auto restore = [&] {
    for (const auto& n : names()) fs::remove(fs::u8path(os_file(n)));
    zuv::testing::table_write_bytes(os_file("rob.dbf"), pristine_dbf);
    zuv::testing::table_write_bytes(os_file("rob.fpt"), pristine_fpt);
  };
  std::map<os::fault::Op, int> counts;
  {
    os::fault::Scope scope;
    os::fault::start_counting();
    ASSERT_TRUE(DODAJ_POLE(areas, add, init, dir, "rob.dbf"));
    for (auto op : {os::fault::Op::Create, os::fault::Op::Write, os::fault::Op::Rename, os::fault::Op::Delete,
                    os::fault::Op::Copy})
      counts[op] = os::fault::counted(op);
  }
  ASSERT_GT(counts[os::fault::Op::Rename], 1);
  int runs = 0;
  for (auto [op, n] : counts) {
    for (int nth = 1; nth <= n; ++nth) {
      restore();
      bool ok;
      {
        os::fault::Scope scope;
        os::fault::arm(op, nth, 5);
        ok = DODAJ_POLE(areas, add, init, dir, "rob.dbf");
      }
      ++runs;
      SCOPED_TRACE("op " + std::to_string(int(op)) + " nth " + std::to_string(nth));
      EXPECT_TRUE(areas.aliases().empty());
      auto rows = read_all(file("rob.dbf"));
      if (ok) {
        EXPECT_EQ(rows, new_rows);
      } else {
        EXPECT_TRUE(rows == old_rows || rows == new_rows) << "rows " << rows.size();
      }
      // Run again with the disk healthy: the table ends with the new content.
      ASSERT_TRUE(DODAJ_POLE(areas, add, init, dir, "rob.dbf"));
      EXPECT_EQ(read_all(file("rob.dbf")), new_rows);
    }
  }
  EXPECT_GT(runs, 10);
}

// A table and its memo file replaced as a pair: a rename that keeps failing past its
// retries, at any point, leaves the old pair or the new pair, never the old data file
// reading the new memo file's blocks (another record's texts).
TEST_F(Rebuild, APairSwapFailingAtAnyRenameLeavesTheOldPairOrTheNew) {
  make_table("zrodlo.dbf", 9);
  make_table("cel.dbf", 5);
  {
    table::OpenOptions o;
    o.path = file("cel.dbf");
    auto t = table::Table::open(o);
    for (std::uint32_t r = 1; r <= 5; ++r) {
      t->go_to(r);
      EXPECT_TRUE(t->put(2, Value::of_memo("stary tekst " + std::to_string(r))));
    }
    ASSERT_TRUE(t->commit());
  }
  const auto old_rows = read_all(file("cel.dbf"));
  const std::string dbf = zuv::testing::table_read_bytes(os_file("cel.dbf"));
  const std::string fpt = zuv::testing::table_read_bytes(os_file("cel.fpt"));
  ASSERT_TRUE(OTWORZ(areas, dir, "zrodlo", "z"));
  int renames = 0;
  {
    os::fault::Scope scope;
    os::fault::start_counting();
    ASSERT_TRUE(EXPORTUJ(areas, file("cel.dbf")));
    renames = os::fault::counted(os::fault::Op::Rename);
  }
  const auto new_rows = read_all(file("cel.dbf"));
  ASSERT_NE(new_rows, old_rows);
  ASSERT_GE(renames, 2);
  for (int nth = 1; nth <= renames; ++nth) {
    SCOPED_TRACE("rename " + std::to_string(nth));
    zuv::testing::table_write_bytes(os_file("cel.dbf"), dbf);
    zuv::testing::table_write_bytes(os_file("cel.fpt"), fpt);
    bool ok;
    {
      os::fault::Scope scope;
      os::fault::arm_range(os::fault::Op::Rename, nth, 10, 5);  // more than the retries
      ok = EXPORTUJ(areas, file("cel.dbf"));
    }
    auto rows = read_all(file("cel.dbf"));
    EXPECT_TRUE(ok ? rows == new_rows : rows == old_rows) << "ok " << ok << ", rows " << rows.size();
  }
}

// Replacing a table with memo texts by a new empty one: at every failing operation the
// name holds the old table with its texts or the new empty one.
TEST_F(Rebuild, EmptyTableReplacesAnOldOneWithoutAMixedPair) {
  make_table("nowa.dbf", 15);
  const auto old_rows = read_all(file("nowa.dbf"));
  std::string dbf = zuv::testing::table_read_bytes(os_file("nowa.dbf"));
  std::string fpt = zuv::testing::table_read_bytes(os_file("nowa.fpt"));
  table::Structure s = {{"NR", 'N', 8, 0}, {"UWAGI", 'M', 10, 0}};
  int ops = 0;
  {
    os::fault::Scope scope;
    os::fault::start_counting();
    ASSERT_TRUE(LBCREATE(file("nowa.dbf"), s));
    for (auto op : {os::fault::Op::Create, os::fault::Op::Write, os::fault::Op::Rename, os::fault::Op::Delete})
      ops = std::max(ops, os::fault::counted(op));
  }
  for (auto op : {os::fault::Op::Create, os::fault::Op::Write, os::fault::Op::Rename, os::fault::Op::Delete}) {
    for (int nth = 1; nth <= ops; ++nth) {
      zuv::testing::table_write_bytes(os_file("nowa.dbf"), dbf);
      zuv::testing::table_write_bytes(os_file("nowa.fpt"), fpt);
      bool ok;
      {
        os::fault::Scope scope;
        os::fault::arm(op, nth, 5);
        ok = LBCREATE(file("nowa.dbf"), s);
      }
      auto rows = read_all(file("nowa.dbf"));
      EXPECT_TRUE(ok ? rows.empty() : (rows.empty() || rows == old_rows)) << int(op) << " " << nth;
    }
  }
}

}  // namespace
}  // namespace zuv::tables::testing
