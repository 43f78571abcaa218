#include "platform/os/names.h"

#include <gtest/gtest.h>

namespace zuv::os {
namespace {

TEST(Masks, FollowWindowsRules) {
  // "*.*" is every name, with or without a dot.
  EXPECT_TRUE(mask_matches("*.*", "abc"));
  EXPECT_TRUE(mask_matches("*.*", "abc.dbf"));
  EXPECT_TRUE(mask_matches("*.*", "a.b.c"));
  EXPECT_TRUE(mask_matches("*", "abc.dbf"));
  // Extensions compare without regard to case, and exactly.
  EXPECT_TRUE(mask_matches("*.dbf", "KLIENCI.DBF"));
  EXPECT_TRUE(mask_matches("*.DBF", "klienci.dbf"));
  EXPECT_FALSE(mask_matches("*.dbf", "klienci.dbfx"));
  EXPECT_FALSE(mask_matches("*.dbf", "klienci"));
  EXPECT_FALSE(mask_matches("*.dbf", "dbf"));
  // Prefix masks of the release.
  EXPECT_TRUE(mask_matches("zuv_*.dll", "ZUV_KSEF.DLL"));
  EXPECT_FALSE(mask_matches("zuv_*.dll", "zuvksef.dll"));
  EXPECT_TRUE(mask_matches("rob*.*", "robot"));
  EXPECT_TRUE(mask_matches("rob*.*", "ROBOCZY.DBF"));
  EXPECT_FALSE(mask_matches("rob*.*", "xrob.dbf"));
  // '?' is exactly one character.
  EXPECT_TRUE(mask_matches("a?c.txt", "abc.txt"));
  EXPECT_FALSE(mask_matches("a?c.txt", "ac.txt"));
  EXPECT_FALSE(mask_matches("a?c.txt", "abbc.txt"));
  EXPECT_TRUE(mask_matches("??.dbf", "ab.dbf"));
  // "*." is the names without an extension.
  EXPECT_TRUE(mask_matches("*.", "readme"));
  EXPECT_FALSE(mask_matches("*.", "readme.txt"));
  // A star backtracks over repeated text.
  EXPECT_TRUE(mask_matches("*ab*ab", "xabyabab"));
  EXPECT_FALSE(mask_matches("*ab*ab", "xabyaba"));
  // Polish letters compare without regard to case, one '?' per letter.
  EXPECT_TRUE(mask_matches("żółw*.dbf", "ŻÓŁWIE.DBF"));
  EXPECT_TRUE(mask_matches("?ÓŁW.DBF", "żółw.dbf"));
  EXPECT_FALSE(mask_matches("żółw.dbf", "zolw.dbf"));
}

TEST(NameCase, CoversPolishAndCentralEuropeanLettersAndKeepsOtherBytes) {
  EXPECT_EQ(upper_name("zażółć gęślą jaźń"), "ZAŻÓŁĆ GĘŚLĄ JAŹŃ");
  EXPECT_EQ(lower_name("ZAŻÓŁĆ GĘŚLĄ JAŹŃ"), "zażółć gęślą jaźń");
  EXPECT_EQ(upper_name("čřšťůžňďľĺŕőű äöüé"), "ČŘŠŤŮŽŇĎĽĹŔŐŰ ÄÖÜÉ");
  EXPECT_EQ(lower_name("ČŘŠŤŮŽŇĎĽĹŔŐŰ ÄÖÜÉ"), "čřšťůžňďľĺŕőű äöüé");
  // Bytes that are not UTF-8 (a name written by an ANSI program) stay as they were.
  std::string raw = "a\xB9\xEA" "b";
  EXPECT_EQ(upper_name(raw), "A\xB9\xEA" "B");
  EXPECT_TRUE(same_name("Firma1", "FIRMA1"));
  EXPECT_FALSE(same_name("firma1", "firma10"));
  EXPECT_EQ(upper_name("×÷ß"), "×÷ß");
}

}  // namespace
}  // namespace zuv::os
