// Records appended from another table: fields of the same form move as their bytes,
// and whatever would read back differently (odd numbers, dates, logicals another
// writer left) still comes out exactly as reading and writing the value gives.
#include "platform/table/copying.h"

#include <gtest/gtest.h>

#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

using zuv::testing::TableTempDir;

std::unique_ptr<Table> open_table(const std::string& path) {
  OpenOptions o;
  o.path = path;
  return Table::open(o);
}

// The bytes of one field of record recno as the file holds them.
std::string field_bytes(const std::string& path, std::uint32_t recno, const std::string& name) {
  auto t = open_table(path);
  EXPECT_TRUE(t && t->go_to(recno));
  const FieldDescriptor& f = t->fields()[t->field_index(name)];
  return std::string(reinterpret_cast<const char*>(t->record_buffer()) + f.offset, f.length);
}

class Import : public ::testing::Test {
 protected:
  void SetUp() override {
    source = dir.file("zrodlo.dbf");
    target = dir.file("cel.dbf");
    // KOD is wider in the target: it never moves as bytes.
    ASSERT_TRUE(Table::create(source, {{"NAZWA", 'C', 6, 0}, {"KWOTA", 'N', 8, 2}, {"ILE", 'N', 4, 0},
                                       {"DATA", 'D', 8, 0}, {"OK", 'L', 1, 0}, {"KOD", 'C', 3, 0}}));
    ASSERT_TRUE(Table::create(target, {{"NAZWA", 'C', 6, 0}, {"KWOTA", 'N', 8, 2}, {"ILE", 'N', 4, 0},
                                       {"DATA", 'D', 8, 0}, {"OK", 'L', 1, 0}, {"KOD", 'C', 5, 0}}));
  }

  // Record images as another program may have written them, one field at a time.
  void write_source(const std::vector<std::vector<std::string>>& rows) {
    {
      auto t = open_table(source);
      ASSERT_TRUE(t);
      for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_TRUE(t->append());
      }
      header = t->header_length();
      length = t->record_length();
      for (const auto& f : t->fields()) offsets.push_back(f.offset);
      t->close();
    }
    std::string bytes = zuv::testing::table_read_bytes(source);
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t f = 0; f < rows[r].size(); ++f) bytes.replace(header + r * length + offsets[f], rows[r][f].size(), rows[r][f]);
    zuv::testing::table_write_bytes(source, bytes);
  }

  bool import() {
    auto t = open_table(target);
    return t && import_records(*t, source) && (t->close(), true);
  }

  TableTempDir dir;
  std::string source, target;
  std::uint32_t header = 0, length = 0;
  std::vector<std::uint32_t> offsets;
};

TEST_F(Import, FieldsInTheEnginesOwnFormKeepTheirBytes) {
  write_source({{"ab\xb9\xe6  ", "   12.50", "  -7", "20260115", "T", "xy "},
                {"      ", "   -0.01", "   0", "        ", "F", "   "}});
  ASSERT_TRUE(import());
  EXPECT_EQ(field_bytes(target, 1, "NAZWA"), "ab\xb9\xe6  ");  // code page 1250 bytes untouched
  EXPECT_EQ(field_bytes(target, 1, "KWOTA"), "   12.50");
  EXPECT_EQ(field_bytes(target, 1, "ILE"), "  -7");
  EXPECT_EQ(field_bytes(target, 1, "DATA"), "20260115");
  EXPECT_EQ(field_bytes(target, 1, "OK"), "T");
  EXPECT_EQ(field_bytes(target, 1, "KOD"), "xy   ");  // padded to the wider field
  EXPECT_EQ(field_bytes(target, 2, "KWOTA"), "   -0.01");
  EXPECT_EQ(field_bytes(target, 2, "ILE"), "   0");
  EXPECT_EQ(field_bytes(target, 2, "DATA"), "        ");
  EXPECT_EQ(field_bytes(target, 2, "OK"), "F");
}

TEST_F(Import, OddFormsComeOutAsTheValueWrittenAgain) {
  write_source({{"a     ", "0012.50", "    ", "2026ab15", "t", "k  "},
                {"b     ", "  12.5 ", "  +3", "20260230", " ", "k  "},
                {"c     ", "      .5", " 007", "2026011 ", "Y", "k  "}});
  ASSERT_TRUE(import());
  // Leading zeros, a missing decimal, blanks and a plus sign: the number as written anew.
  EXPECT_EQ(field_bytes(target, 1, "KWOTA"), "   12.50");
  EXPECT_EQ(field_bytes(target, 1, "ILE"), "   0");
  EXPECT_EQ(field_bytes(target, 2, "KWOTA"), "   12.50");
  EXPECT_EQ(field_bytes(target, 2, "ILE"), "   3");
  EXPECT_EQ(field_bytes(target, 3, "KWOTA"), "    0.50");
  EXPECT_EQ(field_bytes(target, 3, "ILE"), "   7");
  // A date that is not eight digits reads as blank; eight digits stay as they are.
  EXPECT_EQ(field_bytes(target, 1, "DATA"), "        ");
  EXPECT_EQ(field_bytes(target, 2, "DATA"), "20260230");
  EXPECT_EQ(field_bytes(target, 3, "DATA"), "        ");
  // Logicals come out as T or F.
  EXPECT_EQ(field_bytes(target, 1, "OK"), "T");
  EXPECT_EQ(field_bytes(target, 2, "OK"), "F");
  EXPECT_EQ(field_bytes(target, 3, "OK"), "T");
}

TEST_F(Import, EveryBlankNumberComesOutAsTheFieldsZero) {
  // The first blank goes the slow way, the rest reuse its bytes: both must agree, in
  // every record and field, also around a number that is not blank.
  write_source({{"a     ", "        ", "    "}, {"b     ", "   12.50", "    "}, {"c     ", "        ", "   4"},
                {"d     ", "        ", "    "}});
  ASSERT_TRUE(import());
  for (std::uint32_t r : {1u, 3u, 4u}) {
    EXPECT_EQ(field_bytes(target, r, "KWOTA"), "    0.00") << r;
  }
  for (std::uint32_t r : {1u, 2u, 4u}) {
    EXPECT_EQ(field_bytes(target, r, "ILE"), "   0") << r;
  }
  EXPECT_EQ(field_bytes(target, 2, "KWOTA"), "   12.50");
  EXPECT_EQ(field_bytes(target, 3, "ILE"), "   4");
}

TEST_F(Import, FieldsInAnotherOrderOrWithOthersBetweenLandInTheirOwnPlaces) {
  // Side by side in the source, apart or swapped in the target: no block may span them.
  ASSERT_TRUE(Table::create(target, {{"ILE", 'N', 4, 0}, {"NAZWA", 'C', 6, 0}, {"NOWE", 'C', 2, 0},
                                     {"KWOTA", 'N', 8, 2}, {"DATA", 'D', 8, 0}, {"OK", 'L', 1, 0}}));
  write_source({{"abcdef", "   12.50", "  -7", "20260115", "T", "xy "}});
  ASSERT_TRUE(import());
  EXPECT_EQ(field_bytes(target, 1, "ILE"), "  -7");
  EXPECT_EQ(field_bytes(target, 1, "NAZWA"), "abcdef");
  EXPECT_EQ(field_bytes(target, 1, "NOWE"), "  ");
  EXPECT_EQ(field_bytes(target, 1, "KWOTA"), "   12.50");
  EXPECT_EQ(field_bytes(target, 1, "DATA"), "20260115");
  EXPECT_EQ(field_bytes(target, 1, "OK"), "T");
}

TEST_F(Import, ANumberTooLongForADoubleIsNotCarriedAsBytes) {
  ASSERT_TRUE(Table::create(source, {{"DUZA", 'N', 20, 0}}));
  ASSERT_TRUE(Table::create(target, {{"DUZA", 'N', 20, 0}}));
  write_source({{"  123456789012345678"}, {"     123456789012345"}});
  ASSERT_TRUE(import());
  // Fifteen digits come back exactly; eighteen are read and written again like any
  // value, which keeps fifteen significant digits.
  EXPECT_EQ(field_bytes(target, 1, "DUZA"), "  123456789012346000");
  EXPECT_EQ(field_bytes(target, 2, "DUZA"), "     123456789012345");
}

}  // namespace
}  // namespace zuv::table
