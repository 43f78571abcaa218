#include "lib/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace zuv::lib {
namespace {

TEST(TextHelpers, OnlyNumAndUsunSpacje) {
  EXPECT_EQ(ONLY_NUM("+48 601-234-567 x 890"), "48601234567890");
  EXPECT_EQ(ONLY_NUM("brak"), "");
  EXPECT_EQ(USUN_SPACJE("  A   B  "), "A B");
  EXPECT_EQ(USUN_SPACJE(""), "");
}

TEST(TextHelpers, TokenSplitsBarSeparatedLists) {
  EXPECT_EQ(TOKEN("a | b |c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(TOKEN("a | b |c", 2), " b ");
  EXPECT_EQ(TOKEN("a | b |c", 4), "");
  EXPECT_TRUE(TOKEN("").empty());
  EXPECT_EQ(TOKEN("", 1), "");
  EXPECT_EQ(TOKEN("a||b"), (std::vector<std::string>{"a", "", "b"}));
}

TEST(NumberHelpers, Round2RoundsHalfAwayFromZeroDespiteBinaryError) {
  EXPECT_DOUBLE_EQ(ROUND2(2.675), 2.68);
  EXPECT_DOUBLE_EQ(ROUND2(-2.675), -2.68);
  EXPECT_DOUBLE_EQ(ROUND2(1.005, 2), 1.01);
  EXPECT_DOUBLE_EQ(ROUND2(0), 0);
  EXPECT_DOUBLE_EQ(ROUND2(12.5, 0), 13);
}

// Half-grosz amounts round up on their decimal value at every magnitude, where the
// binary value of 16384.045 and many above it lies just below the half.
TEST(NumberHelpers, Round2RoundsHalvesOnTheDecimalValueAtEveryMagnitude) {
  EXPECT_EQ(ROUND2(16384.045), 16384.05);
  EXPECT_EQ(ROUND2(100000.005), 100000.01);
  EXPECT_EQ(ROUND2(1234567.125), 1234567.13);
  EXPECT_EQ(ROUND2(-16384.045), -16384.05);
  EXPECT_EQ(ROUND2(16384.044), 16384.04);
  EXPECT_EQ(ROUND2(0.004), 0);
  EXPECT_EQ(ROUND2(0.005), 0.01);
  EXPECT_EQ(ROUND2(99.995), 100);
  EXPECT_EQ(ROUND2(1234.5, 0), 1235);
  EXPECT_EQ(ROUND2(1250, -2), 1300);

  // Amounts in thousandths, from 0.001 to about 90 million zloty: the expected value is
  // integer arithmetic on the decimal digits (half away from zero), read as a double.
  std::uint64_t seed = 7;
  int checked = 0;
  for (int i = 0; i < 300000; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    long long thousandths = static_cast<long long>((seed >> 17) % 90000000000ull) + 1;
    if (i % 2 == 0) thousandths = thousandths / 10 * 10 + 5;  // a half grosz
    const bool negative = (seed >> 3) & 1;
    const long long hundredths = (thousandths + 5) / 10;
    char text[40], expected_text[40];
    std::snprintf(text, sizeof text, "%s%lld.%03lld", negative ? "-" : "", thousandths / 1000, thousandths % 1000);
    std::snprintf(expected_text, sizeof expected_text, "%s%lld.%02lld", negative ? "-" : "", hundredths / 100,
                  hundredths % 100);
    const double value = std::strtod(text, nullptr), expected = std::strtod(expected_text, nullptr);
    ASSERT_EQ(ROUND2(value), expected) << text;
    ++checked;
  }
  EXPECT_EQ(checked, 300000);
}

TEST(NumberHelpers, CIntToleratesValuesJustBelowAnInteger) {
  EXPECT_EQ(C_INT(2.9999999999), 3);
  EXPECT_EQ(C_INT(2.6), 2);
  EXPECT_EQ(C_INT(2.4), 2);
  EXPECT_EQ(C_INT(-2.9999999999), -3);
  EXPECT_EQ(C_INT(-2.5), -2);
}

}  // namespace
}  // namespace zuv::lib
