// Key expressions and the order of key bytes.
#include <gtest/gtest.h>

#include <map>

#include "platform/table/index_key.h"
#include "platform/table/keyexpr.h"

namespace zuv::table {
namespace {

// Fields of a made-up record: name -> (type, length, decimals, raw bytes).
struct FakeRecord : FieldResolver, RecordView {
  struct F {
    char type;
    int len, dec;
    std::string raw;
  };
  std::vector<std::pair<std::string, F>> fields;
  void add(std::string name, char type, int len, int dec, std::string raw) {
    fields.push_back({std::move(name), F{type, len, dec, std::move(raw)}});
  }
  std::optional<FieldRef> resolve(std::string_view alias, std::string_view name) const override {
    if (!alias.empty() && alias != "ALIAS" && alias != "alias") return std::nullopt;
    for (size_t i = 0; i < fields.size(); ++i) {
      std::string a = fields[i].first, b(name);
      for (char& c : a) c = char(std::toupper(static_cast<unsigned char>(c)));
      for (char& c : b) c = char(std::toupper(static_cast<unsigned char>(c)));
      if (a == b) return FieldRef{int(i), fields[i].second.type, fields[i].second.len, fields[i].second.dec};
    }
    return std::nullopt;
  }
  std::string_view field_bytes(int slot) const override { return fields[size_t(slot)].second.raw; }
};

FakeRecord sample() {
  FakeRecord r;
  r.add("LPP", 'C', 8, 0, "00000042");
  r.add("NAZWA", 'C', 10, 0, "\xA5rodek  x ");  // ąrodek
  r.add("DATA", 'D', 8, 0, "20260223");
  r.add("PUSTA", 'D', 8, 0, "        ");
  r.add("KWOTA", 'N', 12, 2, "     -329.15");
  r.add("ILOSC", 'N', 4, 0, "  52");
  r.add("RMC", 'C', 6, 0, "202604");
  r.add("OK", 'L', 1, 0, "T");
  r.add("UWAGI", 'M', 10, 0, "         1");
  return r;
}

std::string key(const std::string& text) {
  FakeRecord r = sample();
  return KeyExpression::compile(text, r).key(r);
}

TEST(KeyExpressions, CatalogueFormsGiveTheirKeysTypesAndLengths) {
  FakeRecord r = sample();
  EXPECT_EQ(key("lpp"), "00000042");
  EXPECT_EQ(key("Lpp+DTOS(data)"), "0000004220260223");
  EXPECT_EQ(key("lpp+dtos(pusta)"), "00000042        ");
  EXPECT_EQ(key("str(ilosc,4,0)+lpp"), "  5200000042");
  EXPECT_EQ(key("str(kwota,10,1)"), "    -329.2");
  EXPECT_EQ(key("str(ilosc)"), "  52");  // a field's own width
  EXPECT_EQ(key("str(ilosc,1)"), "*");
  EXPECT_EQ(key("strzero(ilosc,6,0)"), "000052");
  EXPECT_EQ(key("strzero(kwota,9,2)"), "-00329.15");
  EXPECT_EQ(key("left(nazwa,3)"), "\xA5ro");
  EXPECT_EQ(key("upper(nazwa)"), "\xA4RODEK  X ");
  EXPECT_EQ(key("alias->lpp+rmc"), "00000042202604");
  EXPECT_EQ(key("'A'+lpp"), "A00000042");
  auto e = KeyExpression::compile("lpp+dtos(data)", r);
  EXPECT_EQ(e.key_type(), KeyType::Character);
  EXPECT_EQ(e.key_length(), 16);
  EXPECT_EQ(KeyExpression::compile("kwota", r).key_type(), KeyType::Numeric);
  EXPECT_EQ(KeyExpression::compile("data", r).key_type(), KeyType::Date);
  EXPECT_EQ(KeyExpression::compile("data", r).key_length(), 8);
  EXPECT_EQ(key("kwota"), numeric_key(-329.15));
  EXPECT_EQ(key("data"), numeric_key(2461095.0));  // the julian day of 2026-02-23
  EXPECT_EQ(key("pusta"), numeric_key(0.0));
  EXPECT_EQ(key("ok"), "T");
}

// A field alone is keyed straight from its bytes; the key must be the one its value
// gives, damaged bytes included (an impossible date, text in a number, a short field).
TEST(KeyExpressions, AFieldAloneKeysAsItsValueDoesWhateverItsBytes) {
  const std::vector<std::pair<char, std::vector<std::string>>> cases = {
      {'C', {"00000042", "        ", "\xA5rodek  ", "ab"}},
      {'N', {"     -329.15", "            ", "  12abc     ", "***", "-0"}},
      {'D', {"20260223", "        ", "20261315", "2026-2-3", "00000000", "2026"}},
      {'L', {"T", "f", "y", " ", "?", ""}}};
  for (const auto& [type, raws] : cases) {
    for (const std::string& raw : raws) {
      FakeRecord r;
      r.add("POLE", type, type == 'N' ? 12 : type == 'L' ? 1 : 8, type == 'N' ? 2 : 0, raw);
      KeyExpression e = KeyExpression::compile("pole", r);
      EXPECT_EQ(e.key(r), e.key_of(e.value(r))) << type << " '" << raw << "'";
    }
  }
}

// Keys made of fields as they stand (texts, their capitals or first bytes, dates as
// DTOS) are copied from the record; each must be the key the evaluated value gives,
// whatever the bytes, and the same when a buffer that held a longer key serves again.
TEST(KeyExpressions, KeysCopiedFromTheRecordAreTheKeysOfTheirValues) {
  const std::vector<std::vector<std::string>> records = {
      {"00000042", "\xA5rodek \x88\xE4x", "20260223"},
      {"        ", "          ", "        "},
      {"ab", "z", "20261315"},  // short fields, an impossible date
      {"abcdefghij", "\xBE\xAB\x98\xA2\x86\xA9\x88\xE4\xA5q", "2026-2-3"},
      {"", "", "00000000"},
  };
  const char* exprs[] = {"lpp", "lpp+dtos(data)", "dtos(data)+nazwa", "upper(nazwa)+lpp", "left(nazwa,3)+left(lpp,20)",
                         "rmc+upper(lpp)+dtos(data)+nazwa", "alias->lpp+rmc"};
  for (const auto& raw : records) {
    FakeRecord r;
    r.add("LPP", 'C', 8, 0, raw[0]);
    r.add("NAZWA", 'C', 10, 0, raw[1]);
    r.add("DATA", 'D', 8, 0, raw[2]);
    r.add("RMC", 'C', 6, 0, "2026ab");
    for (const char* text : exprs) {
      KeyExpression e = KeyExpression::compile(text, r);
      const std::string want = e.key_of(e.value(r));
      EXPECT_EQ(e.key(r), want) << text << " '" << raw[0] << "'";
      std::string reused(300, 'x');
      e.key(r, reused);
      EXPECT_EQ(reused, want) << text;
    }
  }
  EXPECT_EQ(key("upper(nazwa)+dtos(pusta)+left(rmc,4)"), "\xA4RODEK  X         2026");
}

TEST(KeyExpressions, WrongExpressionsFailAtCompileTimeWithTheirCause) {
  FakeRecord r = sample();
  for (const char* bad : {"niema", "lpp+", "lpp+kwota", "dtos(lpp)", "str(lpp)", "left(lpp)", "uwagi",
                          "foo(lpp)", "upper(lpp", "'abc", "lpp lpp", "inny->lpp", "str(kwota,0)", ""}) {
    EXPECT_THROW(KeyExpression::compile(bad, r), IndexError) << bad;
  }
  try {
    KeyExpression::compile("lpp+niema", r);
  } catch (const IndexError& e) {
    EXPECT_NE(std::string(e.what()).find("niema"), std::string::npos);
  }
}

TEST(KeyExpressions, DescendTurnsTheOrderOfItsArgumentAround) {
  FakeRecord a = sample(), b = sample();
  b.fields[6].second.raw = "202605";
  auto ea = KeyExpression::compile("lpp+descend(rmc)", a);
  EXPECT_GT(compare_keys(KeyType::Character, ea.key(a), ea.key(b)), 0);
  auto en = KeyExpression::compile("descend(kwota)", a);
  b.fields[4].second.raw = "      100.00";
  EXPECT_GT(compare_keys(KeyType::Numeric, en.key(a), en.key(b)), 0);
}

TEST(KeyBytes, NumbersAndDatesCompareAsTheirValues) {
  std::vector<double> values = {-1e9, -329.15, -1, -0.5, 0, 0.25, 1, 784.17, 1e12};
  for (size_t i = 1; i < values.size(); ++i) {
    EXPECT_LT(compare_keys(KeyType::Numeric, numeric_key(values[i - 1]), numeric_key(values[i])), 0) << values[i];
    EXPECT_DOUBLE_EQ(numeric_from_key(numeric_key(values[i])), values[i]);
  }
  EXPECT_EQ(numeric_key(-0.0), numeric_key(0.0));
  EXPECT_EQ(julian_day("20000101"), 2451545);
  EXPECT_EQ(date_from_julian(julian_day("20240229")), "20240229");
  EXPECT_EQ(julian_day("20241301"), 0);
  EXPECT_LT(compare_keys(KeyType::Date, date_key("        "), date_key("19000101")), 0);
}

TEST(KeyBytes, TextsFollowThePolishCollation) {
  auto lt = [](std::string a, std::string b) { return compare_keys(KeyType::Character, a, b) < 0; };
  EXPECT_TRUE(lt("Ala", "\xA4" "b"));       // Ala < Ąb
  EXPECT_TRUE(lt("\xA4" "b", "Bo"));        // Ąb < Bo
  EXPECT_TRUE(lt("Zz", "\x8D" "a"));        // Zz < Źa
  EXPECT_TRUE(lt("\x8D" "a", "\xBD" "a"));  // Źa < Ża
  EXPECT_TRUE(lt("\xBD" "aba", "aba"));     // Żaba < aba
  EXPECT_TRUE(lt(" ", "0"));
  EXPECT_TRUE(lt("9", "A"));
  EXPECT_TRUE(lt("\xBE", "["));  // ż < [
  EXPECT_TRUE(lt("\xBE", "_"));
  EXPECT_TRUE(lt("Z", "\xA5"));  // every capital before every small letter
  EXPECT_EQ(upper_852("\xA5\x86\xA9\x88\xE4\xA2\x98\xAB\xBE"), "\xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD");
}

}  // namespace
}  // namespace zuv::table
