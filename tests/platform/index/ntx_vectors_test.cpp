// Single-key index files written by another implementation of the formats.
#include <gtest/gtest.h>

#include "platform/table/index_dbf.h"
#include "platform/table/keyexpr.h"
#include "platform/table/ntx.h"
#include "platform/table/index_check.h"

#include <random>
#include <set>
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

namespace zuv::table {
namespace {

// Random inserts and removals against a model: splits, borrowing from neighbours,
// merges and a shrinking root all happen; the checker reads every state back.
TEST(NtxMaintenance, MatchesAModelThroughSplitsAndMerges) {
  std::string dir = testing::scratch_dir("ntx_random");
  std::string path = dir + "/r.ntx";
  VectorKeyStream none({});
  auto f = ntx::NtxFile::create(path, "X", KeyType::Character, 20, 0, false, none);
  std::mt19937 rng{11};
  auto less = [](const std::pair<std::string, uint32_t>& a, const std::pair<std::string, uint32_t>& b) {
    int c = compare_keys(KeyType::Character, a.first, b.first);
    return c != 0 ? c < 0 : a.second < b.second;
  };
  std::set<std::pair<std::string, uint32_t>, decltype(less)> model(less);
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 1500; ++i) {
      std::string k(20, ' ');
      for (size_t j = 0; j < 1 + rng() % 20; ++j) k[j] = "ABz\xA5 09"[rng() % 7];
      uint32_t r = 1 + rng() % 50000;
      if (model.insert({k, r}).second) f->insert(k, r);
    }
    std::vector<std::pair<std::string, uint32_t>> all(model.begin(), model.end());
    std::shuffle(all.begin(), all.end(), rng);
    for (size_t i = 0; i < all.size() * (round == 4 ? 1 : 2) / 3 && i < all.size(); ++i) {
      ASSERT_TRUE(f->remove(all[i].first, all[i].second));
      model.erase(all[i]);
    }
    std::vector<std::pair<std::string, uint32_t>> got;
    ntx::NtxFile::Cursor c;
    for (bool ok = f->first(c); ok; ok = f->next(c)) got.push_back({c.key, c.recno});
    std::vector<std::pair<std::string, uint32_t>> want(model.begin(), model.end());
    ASSERT_EQ(got, want) << "round " << round;
    f->flush();
    CheckReport report;
    check_ntx(path, "", report);
    ASSERT_TRUE(report.clean()) << report.text();
  }
}

}  // namespace
}  // namespace zuv::table
