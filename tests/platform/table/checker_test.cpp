// The checker against damage the engine refuses and against files too large to read
// whole: each damaged copy of a sound table must give the fault named, and a huge
// memo file must be checked without reading it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/table/index_check.h"
#include "platform/table/order.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

using zuv::testing::table_read_bytes;
using zuv::testing::table_write_bytes;
using zuv::testing::TableTempDir;

// NAZWA C(10), KWOTA N(10,2), DATA D, UWAGI M: the header is 32 + 4 * 32 + 1 = 161
// bytes; KWOTA's descriptor starts at 64, DATA's at 96; a record is 1 + 10 + 10 + 8
// + 10 = 39 bytes, so DATA of record 1 lies at 161 + 1 + 20 = 182.
constexpr std::size_t kHeader = 161, kKwota = 64, kData = 96, kRecord = 39, kDataOfFirst = 182;

struct Sample {
  TableTempDir dir;
  std::string dbf = dir.file("probka.dbf"), fpt = dir.file("probka.fpt"), cdx = dir.file("probka.cdx");
  explicit Sample(bool with_index = false) {
    EXPECT_TRUE(Table::create(dbf, {{"NAZWA", 'C', 10, 0}, {"KWOTA", 'N', 10, 2}, {"DATA", 'D', 8, 0}, {"UWAGI", 'M', 10, 0}}));
    OpenOptions o;
    o.path = dbf;
    auto t = Table::open(o);
    EXPECT_TRUE(t);
    for (int r = 1; r <= 3; ++r) {
      EXPECT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, Value::of_text("firma" + std::to_string(r))));
      EXPECT_TRUE(t->put(1, Value::of_number(r * 10.5)));
      EXPECT_TRUE(t->put(2, Value::of_date(r == 3 ? "20240301" : "2024022" + std::to_string(7 + r))));  // real days
      EXPECT_TRUE(t->put(3, Value::of_memo(std::string(100 * r, 'm'))));
    }
    if (with_index) {
      EXPECT_TRUE(ORDCREATE(*t, cdx, "naz", "NAZWA"));
    }
    t->close();
  }
  std::string faults() const {
    CheckReport report;
    check_table(dbf, report);
    return report.text();
  }
  void patch(const std::string& path, std::size_t offset, const std::string& bytes) const {
    std::string data = table_read_bytes(path);
    data.replace(offset, bytes.size(), bytes);
    table_write_bytes(path, data);
  }
};

TEST(Checker, ASoundTableWithItsMemoAndIndexIsClean) {
  Sample s(true);
  EXPECT_EQ(s.faults(), "");
  ASSERT_EQ(table_read_bytes(s.dbf).size(), kHeader + 3 * kRecord + 1);  // the layout the other cases patch
  EXPECT_EQ(table_read_bytes(s.dbf).substr(kDataOfFirst, 8), "20240228");
}

// What the engine refuses to open, the checker reports.
TEST(Checker, HeaderFaultsTheEngineRefusesAreReported) {
  struct Case {
    const char* what;
    std::size_t offset;
    std::string bytes;
    const char* expect;
  };
  const Case cases[] = {
      {"decimals equal to the length", kKwota + 17, std::string(1, '\x0A'), "miejsc dziesiętnych pola KWOTA"},
      {"decimals on a date", kData + 17, std::string(1, '\x00'), ""},
      {"decimals on a text field", 32 + 17, std::string(1, '\x01'), "miejsc dziesiętnych pola NAZWA"},
      {"terminator overwritten", kHeader - 1, std::string(1, '\x00'), "0x0D"},
      // The header length one short of the terminator: four descriptors but no end.
      {"header length without the terminator", 8, std::string("\xA0\x00", 2), "0x0D"},
      {"a date field seven bytes long", kData + 16, std::string(1, '\x07'), "długość pola DATA"},
  };
  for (const auto& c : cases) {
    Sample s;
    s.patch(s.dbf, c.offset, c.bytes);
    std::string faults = s.faults();
    if (*c.expect == 0) {
      EXPECT_EQ(faults, "") << c.what;
    } else {
      EXPECT_NE(faults.find(c.expect), std::string::npos) << c.what << ":\n" << faults;
    }
  }
}

TEST(Checker, DatesThatAreNoDaysOfTheCalendarAreReported) {
  for (const char* bad : {"20240230", "20230229", "20241301", "20240431", "2024-1-1", "20240100"}) {
    Sample s;
    s.patch(s.dbf, kDataOfFirst, bad);
    EXPECT_NE(s.faults().find("rekord 1: pole DATA nie jest datą"), std::string::npos) << bad;
  }
  Sample leap;
  leap.patch(leap.dbf, kDataOfFirst, "20000229");  // 2000 is a leap year
  EXPECT_EQ(leap.faults(), "");
}

TEST(Checker, NumbersWithTwoPointsOrSignsInsideAreReported) {
  for (const char* bad : {"  1.2.3.4", "    12-3.5", "         -", "   1 2.50"}) {
    Sample s;
    s.patch(s.dbf, kHeader + 1 + 10, std::string(bad) + std::string(10 - std::strlen(bad), ' '));
    EXPECT_NE(s.faults().find("pole KWOTA nie jest liczbą"), std::string::npos) << bad;
  }
}

TEST(Checker, MemoHeaderFaultsAreReported) {
  {
    Sample s;
    s.patch(s.fpt, 6, std::string("\0\0", 2));  // block size 0
    EXPECT_NE(s.faults().find("rozmiar bloku 0"), std::string::npos);
  }
  {
    Sample s;
    s.patch(s.fpt, 0, std::string("\x00\x10\x00\x00", 4));  // next free block 1048576, far past the end
    EXPECT_NE(s.faults().find("następny wolny blok 1048576 poza końcem pliku"), std::string::npos) << s.faults();
  }
}

#ifndef _WIN32
// A memo file of 128 GiB (sparse: it takes no disk) is checked block header by block
// header, never read whole.
TEST(Checker, AHugeSparseMemoFileIsCheckedWithoutReadingIt) {
  Sample s;
  const std::uintmax_t huge = std::uintmax_t(128) << 30;
  std::error_code ec;
  std::filesystem::resize_file(s.fpt, huge, ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  // Record 1's memo moved to block 2^31 (of 64 bytes: at 128 GiB, just past the end)
  // and record 2's to the last block of the file.
  const std::uint64_t last_block = huge / 64 - 1;
  std::string at_end = std::to_string(std::uint64_t(1) << 31);
  std::string near_end = std::to_string(last_block);
  s.patch(s.dbf, kHeader + 29, std::string(10 - at_end.size(), ' ') + at_end);
  s.patch(s.dbf, kHeader + kRecord + 29, std::string(10 - near_end.size(), ' ') + near_end);
  std::string faults = s.faults();
  EXPECT_NE(faults.find("wskazuje blok memo " + at_end + " poza plikiem"), std::string::npos) << faults;
  // The last block holds zeros (a text block of length 0) but lies past the next free block.
  EXPECT_NE(faults.find("blok memo " + near_end + " sięga za następny wolny blok"), std::string::npos) << faults;
}
#endif

TEST(Checker, IndexPagesNeitherInATreeNorFreeAreReported) {
  Sample s(true);
  std::string cdx = table_read_bytes(s.cdx);
  const std::size_t pages = cdx.size() / 512;
  table_write_bytes(s.cdx, cdx + std::string(1024, '\0'));
  std::string faults = s.faults();
  EXPECT_NE(faults.find("strona " + std::to_string(pages * 512) + ": 2 stron poza drzewami znaczników"),
            std::string::npos)
      << faults;
}

TEST(Checker, KeysOfRecordsPastTheCountAreReported) {
  Sample s(true);
  s.patch(s.dbf, 4, std::string("\x02\x00\x00\x00", 4));  // count 2 of 3
  std::string faults = s.faults();
  EXPECT_NE(faults.find("znacznik NAZ: 1 kluczy rekordów spoza liczby rekordów tabeli (2)"), std::string::npos)
      << faults;
  EXPECT_EQ(faults.find("tabela wymaga"), std::string::npos) << faults;
}

}  // namespace
}  // namespace zuv::table
