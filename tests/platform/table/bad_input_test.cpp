// Damaged and hostile files: every one is refused with an error record naming the
// file and the fault, and no byte of any file changes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/table/table.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::table_read_bytes;
using zuv::testing::table_write_bytes;
using zuv::testing::TableTempDir;

struct Outcome {
  bool opened = false;
  std::vector<ErrorRecord> errors;
};

Outcome try_open(const std::string& path, bool read_only = false) {
  Outcome out;
  ScopedHandler h([&](ErrorRecord& r) {
    out.errors.push_back(r);
    return HandlerAnswer::Default;
  });
  OpenOptions o;
  o.path = path;
  o.read_only = read_only;
  auto t = Table::open(o);
  if (t) {
    out.opened = true;
    // Reading every field of every record must not crash either.
    t->eval([](Table& x) {
      for (int i = 0; i < x.field_count(); ++i) x.get(i);
      return true;
    });
  }
  return out;
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("t.dbf");
    ASSERT_TRUE(Table::create(path, {{"A", 'C', 5, 0}, {"N", 'N', 6, 2}, {"M", 'M', 10, 0}}));
    OpenOptions o;
    o.path = path;
    auto t = Table::open(o);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, Value::of_text("abc")));
      EXPECT_TRUE(t->put(2, Value::of_memo("memo " + std::to_string(i))));
    }
    t->close();
    good = table_read_bytes(path);
    memo = table_read_bytes(dir.file("t.fpt"));
  }
  // Writes a damaged copy, opens it, and checks the refusal and that nothing moved.
  // named: the file the error must name (the table when empty).
  void expect_refused(const std::string& dbf, const std::string& fpt, int gen_code, const std::string& words,
                      const std::string& named = {}) {
    table_write_bytes(path, dbf);
    table_write_bytes(dir.file("t.fpt"), fpt);
    Outcome o = try_open(path);
    EXPECT_FALSE(o.opened);
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0].genCode, gen_code);
    EXPECT_EQ(o.errors[0].fileName, named.empty() ? path : named);
    EXPECT_NE(o.errors[0].description.find(words), std::string::npos) << o.errors[0].description;
    EXPECT_EQ(table_read_bytes(path), dbf);
    EXPECT_EQ(table_read_bytes(dir.file("t.fpt")), fpt);
  }
  TableTempDir dir;
  std::string path, good, memo;
};

TEST_F(BadInput, DamagedHeadersAreRefused) {
  std::string d = good;
  d[4] = 50;  // record count beyond the file
  expect_refused(d, memo, 41, "liczba rekordów");
  d = good;
  d[8] = '\xFF';  // header length beyond the file
  d[9] = '\x7F';
  expect_refused(d, memo, 41, "długość nagłówka");
  d = good;
  d[32 + 11] = 'X';  // unknown field type
  expect_refused(d, memo, 41, "nieznanego typu");
  d = good;
  d[0] = '\x04';
  expect_refused(d, memo, 41, "wersja");
  d = good;
  d[10] = 3;  // record shorter than its fields
  d[11] = 0;
  expect_refused(d, memo, 41, "długość rekordu");
  d = good;
  d[32 + 16] = 0;  // zero-width field
  expect_refused(d, memo, 41, "długość pola");
  d = good;
  d[32 * 4] = 'Z';  // terminator overwritten
  expect_refused(d, memo, 41, "znacznika");
  expect_refused("", memo, 41, "krótszy");
  expect_refused(good.substr(0, 66), memo, 41, "");
  expect_refused(good.substr(0, good.size() - 12), memo, 41, "liczba rekordów");  // truncated records
}

TEST_F(BadInput, MissingOrDamagedMemoFileIsRefused) {
  // Memo errors name the memo file, not the table.
  expect_refused(good, memo.substr(0, 100), 41, "memo", dir.file("t.fpt"));
  std::string m = memo;
  m[6] = m[7] = 0;  // block size 0
  expect_refused(good, m, 41, "bloku", dir.file("t.fpt"));
  std::remove(dir.file("t.fpt").c_str());
  Outcome o = try_open(path);
  EXPECT_FALSE(o.opened);
  ASSERT_EQ(o.errors.size(), 1u);
  EXPECT_EQ(o.errors[0].genCode, 71);
  EXPECT_EQ(o.errors[0].osCode, 2);
}

TEST_F(BadInput, MemoPointerPastTheEndIsAnErrorNotACrash) {
  std::string d = good;
  std::size_t header = 32 + 3 * 32 + 1;
  std::memcpy(&d[header + 1 + 5 + 6], "   9999999", 10);
  table_write_bytes(path, d);
  std::vector<ErrorRecord> errors;
  ScopedHandler h([&](ErrorRecord& r) {
    errors.push_back(r);
    return HandlerAnswer::Default;
  });
  OpenOptions o;
  o.path = path;
  auto t = Table::open(o);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->get(2).text, "");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].genCode, 41);
  EXPECT_NE(errors[0].description.find("poza plikiem"), std::string::npos);
  t->skip(1);
  EXPECT_EQ(t->get(2).text, "memo 1");
  t.reset();
  EXPECT_EQ(table_read_bytes(path), d);
  // A memo length running past the end of the memo file.
  std::string m = memo;
  m[512 + 4] = '\x7F';
  table_write_bytes(dir.file("t.fpt"), m);
  errors.clear();
  t = Table::open(o);
  EXPECT_EQ(t->get(2).text, "");
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(BadInput, ImageReaderRefusesTheSameFaults) {
  ScopedHandler h([](ErrorRecord&) { return HandlerAnswer::Default; });
  EXPECT_TRUE(Table::open_image(good, memo));
  EXPECT_FALSE(Table::open_image(good.substr(0, 40), memo));
  EXPECT_FALSE(Table::open_image(good, ""));
  auto t = Table::open_image(good, memo);
  EXPECT_EQ(t->get(2).text, "memo 0");
  ErrorRecord last;
  ScopedHandler capture([&](ErrorRecord& r) {
    last = r;
    return HandlerAnswer::Default;
  });
  EXPECT_FALSE(t->put(0, Value::of_text("x")));
  EXPECT_EQ(last.genCode, tablecode::kReadOnly);
}

}  // namespace
}  // namespace zuv::table
