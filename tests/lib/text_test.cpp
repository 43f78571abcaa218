#include "lib/text.h"

#include <gtest/gtest.h>

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

TEST(NumberHelpers, CIntToleratesValuesJustBelowAnInteger) {
  EXPECT_EQ(C_INT(2.9999999999), 3);
  EXPECT_EQ(C_INT(2.6), 2);
  EXPECT_EQ(C_INT(2.4), 2);
  EXPECT_EQ(C_INT(-2.9999999999), -3);
  EXPECT_EQ(C_INT(-2.5), -2);
}

}  // namespace
}  // namespace zuv::lib
