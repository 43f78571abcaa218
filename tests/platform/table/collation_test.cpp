#include "platform/table/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/os/codepage.h"

namespace zuv::table {
namespace {

std::string cp(const char* utf8) { return os::cp852_from_utf8(utf8); }

TEST(PolishCollation, TableIsAPermutationWithLettersInTheirBand) {
  const CollationTable& w = polish_collation();
  std::set<int> seen(w.begin(), w.end());
  EXPECT_EQ(seen.size(), 256u);
  for (int code = 0; code <= 64; ++code) {
    EXPECT_EQ(w[code], code) << code;
  }
  EXPECT_EQ(w['A'], 65);
  EXPECT_EQ(w[static_cast<unsigned char>(cp("Ą")[0])], 66);
  EXPECT_EQ(w[static_cast<unsigned char>(cp("ż")[0])], 134);
  EXPECT_EQ(w['['], 135);  // the first non-letter after the letters
  EXPECT_EQ(w[255], 255);
  // The alphabet matches the letters the code page conversion knows.
  EXPECT_EQ(polish_alphabet_cp852(),
            cp("AĄBCĆDEĘFGHIJKLŁMNŃOÓPQRSŚTUVWXYZŹŻaąbcćdeęfghijklłmnńoópqrsśtuvwxyzźż"));
}

TEST(PolishCollation, OrdersPolishWordsAsTheAlphabetSays) {
  auto less = [](const char* a, const char* b) { return collate_compare(cp(a), cp(b)) < 0; };
  EXPECT_TRUE(less("Ala", "Ąb"));
  EXPECT_TRUE(less("Ąb", "Bo"));
  EXPECT_TRUE(less("Zz", "Źa"));
  EXPECT_TRUE(less("Źa", "Ża"));
  EXPECT_TRUE(less("Żaba", "aba"));
  EXPECT_TRUE(less("Łoś", "Mak"));
  EXPECT_TRUE(less("ł", "m"));
  EXPECT_TRUE(less("1", "A"));
  EXPECT_TRUE(less(" ", "0"));
  EXPECT_TRUE(less("ż", "["));
  EXPECT_TRUE(less("ż", "_"));
  EXPECT_TRUE(less("AB", "ABC"));
  EXPECT_EQ(collate_compare(cp("Łódź"), cp("Łódź")), 0);
}

TEST(PolishCollation, WeightsCompareLikeTheCollation) {
  std::vector<std::string> words = {cp("żaba"), cp("Żaba"), cp("zebra"), cp("Ćma"), cp("ćma"), "12", "[x", cp("Ąb")};
  auto by_weights = words;
  std::sort(by_weights.begin(), by_weights.end(), [](const std::string& a, const std::string& b) {
    std::string wa(a.size(), 0), wb(b.size(), 0);
    collate_weights(a, reinterpret_cast<std::uint8_t*>(wa.data()));
    collate_weights(b, reinterpret_cast<std::uint8_t*>(wb.data()));
    return wa < wb;
  });
  auto by_compare = words;
  std::sort(by_compare.begin(), by_compare.end(),
            [](const std::string& a, const std::string& b) { return collate_compare(a, b) < 0; });
  EXPECT_EQ(by_weights, by_compare);
}

TEST(TextEquality, ExactIsNotAPrefixTest) {
  EXPECT_FALSE(texts_equal("ABC", "AB", true));
  EXPECT_TRUE(texts_equal("ABC", "AB", false));
  EXPECT_TRUE(texts_equal("AB  ", "AB", true));
  EXPECT_FALSE(texts_equal("AB", "ABC", false));
}

TEST(TextEquality, BuildFromAnotherAlphabetFollowsTheSameRule) {
  CollationTable t = build_collation("BA");
  EXPECT_EQ(t['B'], 65);
  EXPECT_EQ(t['A'], 66);
  EXPECT_EQ(t['C'], 67);  // first code after the letters' band
  EXPECT_EQ(t[64], 64);
}

}  // namespace
}  // namespace zuv::table
