// Field bytes to values and back, through the paths a scan and a bulk load take.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/table/table.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::TableTempDir;

struct Quiet {
  int raised = 0;
  ScopedHandler handler{[this](ErrorRecord&) {
    ++raised;
    return HandlerAnswer::Default;
  }};
};

// Every width and scale a number field may have: what put() stores is what the
// number formatter writes, and a number that does not fit leaves the field as it was.
TEST(FieldCodec, PutStoresWhatTheNumberFormatterWrites) {
  TableTempDir dir;
  std::string path = dir.file("liczby.dbf");
  Structure s;
  struct Shape {
    int width, dec;
  };
  std::vector<Shape> shapes;
  for (int w = 1; w <= 20; ++w)
    for (int d : {0, 1, 2, 4, 9, 18})
      if (d == 0 || d <= w - 2) shapes.push_back({w, d});
  // A table holds at most 255 fields; the shapes fit in one.
  for (std::size_t i = 0; i < shapes.size(); ++i)
    s.push_back({"N" + std::to_string(i), 'N', shapes[i].width, shapes[i].dec});
  ASSERT_TRUE(Table::create(path, s));
  OpenOptions o;
  o.path = path;
  auto t = Table::open(o);
  ASSERT_TRUE(t);
  ASSERT_TRUE(t->append());
  Quiet quiet;
  std::uint64_t seed = 99;
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    for (std::size_t f = 0; f < shapes.size(); ++f) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      double v;
      switch (round % 5) {
        case 0: v = static_cast<double>(static_cast<std::int64_t>(seed >> 24) % 10000000) / 100.0; break;
        case 1: v = -static_cast<double>((seed >> 30) % 100000) / 1000.0; break;
        case 2: v = std::ldexp(static_cast<double>(seed >> 40), -static_cast<int>(seed % 40)); break;
        case 3: v = static_cast<double>(seed >> 11) / std::pow(10.0, static_cast<double>(seed % 22)); break;
        default: v = (seed & 1 ? -1.0 : 1.0) * (static_cast<double>(seed % 2000) * 0.005); break;
      }
      const FieldDescriptor& fd = t->fields()[f];
      std::string before(reinterpret_cast<const char*>(t->record_buffer()) + fd.offset, fd.length);
      char expected[80];
      int n = Table::format_number(v, fd.length, fd.decimals, expected);
      bool fits = n >= 0 && n <= fd.length;
      int raised_before = quiet.raised;
      ASSERT_EQ(t->put(static_cast<int>(f), Value::of_number(v)), fits) << v << " in N" << fd.length << "." << int(fd.decimals);
      std::string stored(reinterpret_cast<const char*>(t->record_buffer()) + fd.offset, fd.length);
      if (fits) {
        ASSERT_EQ(stored, std::string(expected, fd.length)) << v;
        ASSERT_EQ(quiet.raised, raised_before);
      } else {
        ++refused;
        ASSERT_EQ(stored, before) << v;
        ASSERT_EQ(quiet.raised, raised_before + 1);
      }
    }
  }
  EXPECT_GT(refused, 100);  // the overflow side was exercised too
}

// A record image with numbers in every layout another writer might leave: reading
// them through one reused value gives what fresh reads give, and the expected values.
TEST(FieldCodec, ReusedValueReadsLikeFreshOnesOverOddNumberLayouts) {
  TableTempDir dir;
  std::string path = dir.file("uklady.dbf");
  const std::vector<std::pair<std::string, double>> numbers = {
      {"      12.50", 12.5},  {"     -12.50", -12.5},   {"        +7.", 7},     {"       1 2 ", 1},
      {"          -", -0.0},  {"        .5 ", 0.5},     {"     12.3.4", 12.3},  {"        abc", 0},
      {"           ", 0},     {"12345678901", 12345678901.0}, {"-0000000001", -1}, {"  1.2345678", 1.2345678},
      {"    12\xff.5  ", 12},    {"   9:      ", 9},       {"  ./       ", 0},     {"00000000.01", 0.01}};
  Structure s;
  s.push_back({"T", 'C', 5, 0});
  for (std::size_t i = 0; i < numbers.size(); ++i) s.push_back({"N" + std::to_string(i), 'N', 11, 2});
  s.push_back({"WIDE", 'N', 20, 4});
  s.push_back({"D", 'D', 8, 0});
  s.push_back({"L", 'L', 1, 0});
  ASSERT_TRUE(Table::create(path, s));
  std::uint32_t header = 0, offset_wide = 0;
  {
    OpenOptions o;
    o.path = path;
    auto t = Table::open(o);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append());
    header = t->header_length();
    offset_wide = t->fields()[t->field_index("WIDE")].offset;
  }
  std::string bytes = zuv::testing::table_read_bytes(path);
  std::string record = " abcde";
  for (const auto& n : numbers) record += n.first;
  record += "-1234567890123456.78";  // 19 characters after the sign: the long path
  record += "2019x301";  // not a date: reads as the empty date
  record += "y";
  ASSERT_EQ(record.size(), offset_wide + 20 + 8 + 1);
  bytes.replace(header, record.size(), record);
  auto t = Table::open_image(bytes, "");
  ASSERT_TRUE(t);
  ASSERT_FALSE(t->eof());
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    Value v = t->get(static_cast<int>(i + 1));
    EXPECT_EQ(v.type, ValueType::Number);
    EXPECT_DOUBLE_EQ(v.number, numbers[i].second) << "'" << numbers[i].first << "'";
    EXPECT_EQ(std::signbit(v.number), std::signbit(numbers[i].second)) << "'" << numbers[i].first << "'";
  }
  EXPECT_DOUBLE_EQ(t->get("WIDE").number, -1234567890123456.78);
  EXPECT_TRUE(t->get("D").is_empty_date());
  EXPECT_TRUE(t->get("L").logical);
  // One value carried over every field, forwards and back, as scans do.
  Value reused = Value::of_text(std::string(300, 'q'));
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < t->field_count(); ++k) {
      int f = pass == 0 ? k : t->field_count() - 1 - k;
      t->read(f, reused);
      Value fresh = t->get(f);
      EXPECT_EQ(reused.type, fresh.type) << f;
      EXPECT_EQ(reused.text, fresh.text) << f;
      EXPECT_EQ(std::memcmp(&reused.number, &fresh.number, sizeof(double)), 0) << f;
      EXPECT_EQ(reused.length, fresh.length) << f;
      EXPECT_EQ(reused.decimals, fresh.decimals) << f;
      EXPECT_EQ(reused.logical, fresh.logical) << f;
    }
  }
  EXPECT_EQ(t->get("T").text, "abcde");
}

}  // namespace
}  // namespace zuv::table

namespace zuv::table {
namespace {

// Rollback forgets changes not yet stored, and only those: on a record read but never
// changed it must leave the record as read, not bring back another record's image.
TEST(FieldCodec, RollbackRestoresOnlyTheChangedRecord) {
  TableTempDir dir;
  std::string path = dir.file("cofnij.dbf");
  ASSERT_TRUE(Table::create(path, {{"NAZWA", 'C', 8, 0}, {"KWOTA", 'N', 8, 2}}));
  OpenOptions o;
  o.path = path;
  auto t = Table::open(o);
  ASSERT_TRUE(t);
  for (const char* name : {"pierwszy", "drugi", "trzeci"}) {
    ASSERT_TRUE(t->append());
    ASSERT_TRUE(t->put(0, Value::of_text(name)));
    ASSERT_TRUE(t->put(1, Value::of_number(1.5)));
  }
  t->go_to(1);
  ASSERT_TRUE(t->put(1, Value::of_number(2.5)));
  t->rollback();
  EXPECT_DOUBLE_EQ(t->get(1).number, 1.5);
  ASSERT_TRUE(t->put(1, Value::of_number(7)));
  t->go_to(2);  // record 1 stored with its change
  t->rollback();
  EXPECT_EQ(t->get(0).text, "drugi   ");
  EXPECT_DOUBLE_EQ(t->get(1).number, 1.5);
  t->go_to(1);
  EXPECT_EQ(t->get(0).text, "pierwszy");
  EXPECT_DOUBLE_EQ(t->get(1).number, 7);
  // A new record rolled back stays, blank.
  ASSERT_TRUE(t->append());
  ASSERT_TRUE(t->put(0, Value::of_text("czwarty")));
  t->rollback();
  EXPECT_EQ(t->get(0).text, "        ");
  t->go_top();
  t->go_bottom();
  EXPECT_EQ(t->recno(), 4u);
  EXPECT_EQ(t->get(0).text, "        ");
}

}  // namespace
}  // namespace zuv::table
