#include "platform/os/codepage.h"

#include <gtest/gtest.h>

namespace zuv::os {
namespace {

TEST(CodePages, PolishLettersRoundTripThrough852And1250) {
  const std::string pl = "Zażółć gęślą jaźń ĄĆĘŁŃÓŚŹŻ";
  std::string c852 = cp852_from_utf8(pl);
  EXPECT_EQ(c852.size(), std::string("Zazolc gesla jazn ACELNOSZZ").size());
  EXPECT_EQ(static_cast<unsigned char>(cp852_from_utf8("ą")[0]), 0xA5);
  EXPECT_EQ(static_cast<unsigned char>(cp852_from_utf8("Ł")[0]), 0x9D);
  EXPECT_EQ(static_cast<unsigned char>(cp1250_from_utf8("ą")[0]), 0xB9);
  EXPECT_EQ(utf8_from_852(c852), pl);
  EXPECT_EQ(utf8_from_1250(cp1250_from_utf8(pl)), pl);
  EXPECT_EQ(convert(c852, CodePage::Cp852, CodePage::Cp1250), cp1250_from_utf8(pl));
}

TEST(CodePages, UnrepresentableCharacterBecomesOneQuestionMark) {
  EXPECT_EQ(cp852_from_utf8("a€b"), "a?b");
}

}  // namespace
}  // namespace zuv::os
