// Compound index files written by another implementation of the formats: every tag walks in
// exactly its stored order and every key is found again by seek.
#include <gtest/gtest.h>

#include "platform/table/cdx.h"
#include "platform/table/index_dbf.h"
#include "platform/table/keyexpr.h"
#include "platform/index/index_test_support.h"

namespace zuv::table {
namespace {

using testing::read_order;
using testing::vector_path;

struct VectorCase {
  const char* table;
  const char* tag;
};

class CdxVectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(CdxVectors, WalksInStoredOrderAndSeeksEveryKey) {
  const auto& p = GetParam();
  DbfRecords dbf;
  dbf.open(vector_path(std::string(p.table) + ".dbf"));
  auto cdx = cdx::CdxFile::open(vector_path(std::string(p.table) + ".cdx"), false);
  cdx::Tag* tag = cdx->find_tag(p.tag);
  ASSERT_NE(tag, nullptr);
  KeyExpression expr = KeyExpression::compile(tag->header().expression, dbf);
  ASSERT_EQ(expr.key_length(), tag->key_length());
  tag->set_key_type(expr.key_type());

  std::vector<uint32_t> expected = read_order(std::string(p.table) + "." + p.tag + ".order");
  ASSERT_EQ(expected.size(), dbf.record_count());

  std::vector<uint32_t> forward;
  cdx::Cursor c;
  for (bool ok = tag->first(c); ok; ok = tag->next(c)) {
    dbf.read(c.recno);
    ASSERT_EQ(c.key, expr.key(dbf.view())) << "record " << c.recno;
    forward.push_back(c.recno);
  }
  EXPECT_EQ(forward, expected);

  std::vector<uint32_t> backward;
  for (bool ok = tag->last(c); ok; ok = tag->prev(c)) backward.push_back(c.recno);
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, expected);

  for (uint32_t r = 1; r <= dbf.record_count(); ++r) {
    dbf.read(r);
    std::string key = expr.key(dbf.view());
    ASSERT_TRUE(tag->seek(key, r, c));
    EXPECT_EQ(c.recno, r);
    ASSERT_TRUE(tag->seek(key, 0, c));
    EXPECT_EQ(c.key, key);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Small, CdxVectors,
    ::testing::Values(VectorCase{"small", "lpp"}, VectorCase{"small", "naz"}, VectorCase{"small", "lpd"},
                      VectorCase{"small", "il"}, VectorCase{"small", "dat"}, VectorCase{"small", "kw"},
                      VectorCase{"small", "up"}, VectorCase{"faktury", "lpp"}, VectorCase{"faktury", "naz"},
                      VectorCase{"faktury", "lpd"}, VectorCase{"faktury", "il"}, VectorCase{"faktury", "dat"},
                      VectorCase{"faktury", "kw"}, VectorCase{"faktury", "up"}),
    [](const auto& info) { return std::string(info.param.table) + "_" + info.param.tag; });

TEST(CdxVectorsDirectory, ListsTagsInCreationOrder) {
  auto cdx = cdx::CdxFile::open(vector_path("small.cdx"), false);
  std::vector<std::string> names;
  for (size_t i = 0; i < cdx->tag_count(); ++i) names.push_back(cdx->tag(i).name());
  EXPECT_EQ(names, (std::vector<std::string>{"LPP", "NAZ", "LPD", "IL", "DAT", "KW", "UP"}));
}

}  // namespace
}  // namespace zuv::table
