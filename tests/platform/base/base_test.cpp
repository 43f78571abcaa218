// The ground layer's helpers: file name extensions, ASCII case, Julian dates (ROUND2 is
// tested with the routines of lib/).
#include <gtest/gtest.h>

#include "platform/base/dates.h"
#include "platform/base/text.h"

namespace zuv::base {
namespace {

TEST(FileNameExtension, OnlyTheLastComponentsDotCounts) {
  EXPECT_EQ(extension_of("C:\\dane\\Faktury.DBF"), "DBF");
  EXPECT_EQ(extension_of("C:\\dane.old\\faktury"), "");
  EXPECT_EQ(extension_of("/tmp/x.y/z"), "");
  EXPECT_EQ(extension_of("a.b.cdx"), "cdx");
  EXPECT_EQ(extension_of("plik."), "");

  EXPECT_EQ(without_extension("C:\\dane\\faktury.dbf"), "C:\\dane\\faktury");
  EXPECT_EQ(without_extension("C:\\dane.old\\faktury"), "C:\\dane.old\\faktury");
  EXPECT_EQ(with_extension("C:\\dane\\faktury.dbf", "fpt"), "C:\\dane\\faktury.fpt");
  EXPECT_EQ(with_extension("C:\\dane.old\\faktury", "cdx"), "C:\\dane.old\\faktury.cdx");
}

TEST(AsciiText, CaseAndBlanksLeaveOtherBytesAlone) {
  // 0xA5 is "ą" in code page 852: not an ASCII letter, so it stays.
  EXPECT_EQ(upper_ascii("lpp_\xA5z"), "LPP_\xA5Z");
  EXPECT_EQ(lower_ascii("NAZWA1"), "nazwa1");
  EXPECT_TRUE(iequals_ascii("Faktury", "FAKTURY"));
  EXPECT_FALSE(iequals_ascii("faktury", "faktur"));
  EXPECT_FALSE(iequals_ascii("\xA5", "\xA4"));
  EXPECT_EQ(trim("  a b  "), "a b");
  EXPECT_EQ(rtrim("  a  "), "  a");
  EXPECT_EQ(trim("   "), "");
}

TEST(JulianDates, KnownDaysBothWaysAndInvalidTexts) {
  EXPECT_EQ(julian_day("20000101"), 2451545);  // the astronomers' J2000 day
  EXPECT_EQ(julian_day("19700101"), 2440588);
  EXPECT_EQ(date_from_julian(2451545 + 59), "20000229");
  EXPECT_EQ(date_from_julian(julian_day("20240301") - 1), "20240229");
  EXPECT_EQ(julian_day("        "), 0);
  EXPECT_EQ(julian_day("20241301"), 0);
  EXPECT_EQ(julian_day("2024011"), 0);
  EXPECT_EQ(date_from_julian(0), "        ");
  EXPECT_EQ(date_from_julian(5373485), "        ");  // the year 10000
}

}  // namespace
}  // namespace zuv::base
