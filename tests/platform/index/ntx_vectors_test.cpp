// Single-key index files written by another xBase implementation.
#include <gtest/gtest.h>

#include "platform/table/index_dbf.h"
#include "platform/table/keyexpr.h"
#include "platform/table/ntx.h"
#include "platform/index/index_test_support.h"

namespace zuv::table {
namespace {

using testing::read_order;
using testing::vector_path;

class NtxVectors : public ::testing::TestWithParam<const char*> {};

TEST_P(NtxVectors, WalksInStoredOrderAndSeeksEveryKey) {
  std::string tag = GetParam();
  DbfRecords dbf;
  dbf.open(vector_path("ntx1.dbf"));
  auto ntx = ntx::NtxFile::open(vector_path("ntx1_" + tag + ".ntx"), false);
  KeyExpression expr = KeyExpression::compile(ntx->header().expression, dbf);
  ASSERT_EQ(expr.key_length(), ntx->header().key_size);
  std::vector<uint32_t> expected = read_order("ntx1." + tag + ".order");
  ASSERT_EQ(expected.size(), dbf.record_count());

  std::vector<uint32_t> forward;
  ntx::NtxFile::Cursor c;
  for (bool ok = ntx->first(c); ok; ok = ntx->next(c)) {
    dbf.read(c.recno);
    ASSERT_EQ(c.key, expr.key(dbf.view()));
    forward.push_back(c.recno);
    ASSERT_LE(forward.size(), expected.size());
  }
  EXPECT_EQ(forward, expected);

  std::vector<uint32_t> backward;
  for (bool ok = ntx->last(c); ok; ok = ntx->prev(c)) {
    backward.push_back(c.recno);
    ASSERT_LE(backward.size(), expected.size());
  }
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, expected);

  for (uint32_t r = 1; r <= dbf.record_count(); ++r) {
    dbf.read(r);
    std::string key = expr.key(dbf.view());
    ASSERT_TRUE(ntx->seek(key, r, c));
    EXPECT_EQ(c.recno, r);
    ASSERT_TRUE(ntx->seek(key, 0, c));
    EXPECT_EQ(c.key, key);
  }
}

INSTANTIATE_TEST_SUITE_P(Ntx1, NtxVectors, ::testing::Values("lpp", "naz"));

}  // namespace
}  // namespace zuv::table
