// Compound files we write and maintain, read back through the checker (which parses
// the pages on its own) and compared with the stored orders of the reference files.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "platform/table/cdx.h"
#include "platform/table/index_build.h"
#include "platform/table/index_check.h"
#include "platform/table/index_dbf.h"
#include "platform/index/index_test_support.h"

namespace zuv::table {
namespace {

using testing::copy_vector;
using testing::read_order;
using testing::scratch_dir;

const std::vector<std::pair<std::string, std::string>> kTags = {
    {"lpp", "LPP"}, {"naz", "NAZWA"}, {"lpd", "LPP+DTOS(DATA)"}, {"il", "STR(ILOSC,4,0)+LPP"},
    {"dat", "DATA"}, {"kw", "KWOTA"}, {"up", "UPPER(NAZWA)"}};

std::vector<uint32_t> walk(cdx::Tag& t) {
  std::vector<uint32_t> r;
  cdx::Cursor c;
  for (bool ok = t.first(c); ok; ok = t.next(c)) r.push_back(c.recno);
  return r;
}

void expect_clean(const std::string& cdx, const std::string& dbf) {
  CheckReport report;
  check_cdx(cdx, dbf, report);
  EXPECT_TRUE(report.clean()) << report.text();
}

TEST(CdxWriter, BuildsEveryTagOfTheReferenceTableInItsStoredOrder) {
  std::string dir = scratch_dir("writer_build");
  std::string dbf_path = copy_vector("faktury.dbf", dir);
  DbfRecords dbf;
  dbf.open(dbf_path);
  std::string cdx_path = dir + "/faktury.cdx";
  {
    auto cdx = cdx::CdxFile::create(cdx_path);
    BuildOptions small_budget;
    small_budget.memory_budget = 64 * 1024;  // several sort runs
    for (const auto& [name, expr] : kTags) build_cdx_tag(*cdx, dbf, name, expr, small_budget);
    for (const auto& [name, expr] : kTags) {
      cdx::Tag* t = cdx->find_tag(name);
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(walk(*t), read_order("faktury." + name + ".order")) << name;
    }
  }
  expect_clean(cdx_path, dbf_path);
}

// A build reads the records a block at a time; every record must come through its
// view as a plain read gives it, across block ends, after a jump elsewhere and after
// a write to a record of the block held.
TEST(CdxWriter, ReadsTheRecordsOfABuildInBlocksAsTheyStand) {
  std::string dir = scratch_dir("writer_blocks");
  std::string dbf_path = copy_vector("small.dbf", dir);
  DbfRecords table;
  table.open(dbf_path, true);
  while (uint64_t(table.record_count()) * table.record_length() < 700 * 1024) {
    char lpp[16];
    std::snprintf(lpp, sizeof lpp, "%08u", table.record_count() + 1);
    table.append(lpp);
  }
  const uint32_t n = table.record_count();
  DbfRecords plain;
  plain.open(dbf_path);
  auto lpp_of = [](const DbfRecords& t) { return std::string(t.source_view().field_bytes(0)); };
  auto plain_lpp = [&](uint32_t r) {
    plain.read(r);
    return std::string(plain.view().field_bytes(0));
  };
  for (uint32_t r = 1; r <= n; ++r) {
    table.source_load(r);
    ASSERT_EQ(lpp_of(table), plain_lpp(r)) << r;
    if (r % 3001 == 0) {
      table.read(1 + r / 2);
      ASSERT_EQ(lpp_of(table), plain_lpp(1 + r / 2)) << r;
    }
  }
  table.source_load(20);
  table.read(20);
  std::string rec = table.record();
  rec.replace(1, 8, "zmienio!");
  table.write(20, rec);
  table.source_load(21);
  table.source_load(20);
  EXPECT_EQ(lpp_of(table), "zmienio!");
  EXPECT_THROW(table.source_load(n + 1), IndexError);
}

TEST(CdxWriter, ReplacesATagOfTheSameNameAndReusesItsPages) {
  std::string dir = scratch_dir("writer_replace");
  std::string dbf_path = copy_vector("small.dbf", dir);
  std::string cdx_path = copy_vector("small.cdx", dir);
  DbfRecords dbf;
  dbf.open(dbf_path);
  auto cdx = cdx::CdxFile::open(cdx_path, true);
  build_cdx_tag(*cdx, dbf, "lpp", "NAZWA");
  build_cdx_tag(*cdx, dbf, "LPP", "LPP");
  EXPECT_EQ(cdx->tag_count(), 7u);
  EXPECT_EQ(walk(*cdx->find_tag("lpp")), read_order("small.lpp.order"));
  uint64_t size = cdx->size();
  build_cdx_tag(*cdx, dbf, "lpp", "LPP");
  EXPECT_EQ(cdx->size(), size) << "the pages of a replaced tag are used again";
  cdx->delete_tag("naz");
  EXPECT_EQ(cdx->find_tag("naz"), nullptr);
  cdx.reset();
  expect_clean(cdx_path, dbf_path);
}

TEST(CdxWriter, RejectsAWrongExpressionBeforeWriting) {
  std::string dir = scratch_dir("writer_bad_expr");
  std::string dbf_path = copy_vector("small.dbf", dir);
  std::string cdx_path = copy_vector("small.cdx", dir);
  DbfRecords dbf;
  dbf.open(dbf_path);
  auto cdx = cdx::CdxFile::open(cdx_path, true);
  uint64_t size = cdx->size();
  EXPECT_THROW(build_cdx_tag(*cdx, dbf, "x", "NIEMA+LPP"), IndexError);
  EXPECT_THROW(build_cdx_tag(*cdx, dbf, "x", "LPP+KWOTA"), IndexError);
  EXPECT_THROW(build_cdx_tag(*cdx, dbf, "x", "UWAGI"), IndexError);
  EXPECT_EQ(cdx->size(), size);
}

// Appends records to a copy of the reference files, keeping every tag up to date,
// then changes and deletes keys; the checker must find every tag complete and ordered.
TEST(CdxMaintenance, AppendsChangesAndRemovalsKeepEveryTagConsistent) {
  std::string dir = scratch_dir("maint_append");
  std::string dbf_path = copy_vector("faktury.dbf", dir);
  std::string cdx_path = copy_vector("faktury.cdx", dir);
  copy_vector("faktury.fpt", dir);
  DbfRecords dbf;
  dbf.open(dbf_path, true);
  auto cdx = cdx::CdxFile::open(cdx_path, true);
  std::vector<KeyExpression> exprs;
  for (size_t i = 0; i < cdx->tag_count(); ++i) {
    exprs.push_back(KeyExpression::compile(cdx->tag(i).header().expression, dbf));
    cdx->tag(i).set_key_type(exprs.back().key_type());
  }
  std::mt19937 rng(7);
  auto keys_of = [&]() {
    std::vector<std::string> k;
    for (auto& e : exprs) k.push_back(e.key(dbf.view()));
    return k;
  };
  // Appends copy random records with a new number and a random amount.
  for (int i = 0; i < 1500; ++i) {
    dbf.read(1 + rng() % dbf.record_count());
    std::string rec = dbf.record().substr(1);
    char lpp[16];
    std::snprintf(lpp, sizeof lpp, "%08u", 90000u + unsigned(rng() % 20000));
    rec.replace(0, 8, lpp);
    uint32_t r = dbf.append(rec);
    dbf.read(r);
    auto k = keys_of();
    for (size_t t = 0; t < exprs.size(); ++t) cdx->tag(t).insert(k[t], r);
  }
  // Changes of key fields: old keys leave, new ones come.
  for (int i = 0; i < 800; ++i) {
    uint32_t r = 1 + rng() % dbf.record_count();
    dbf.read(r);
    auto old = keys_of();
    std::string rec = dbf.record();
    rec.replace(1 + 38 + 8, 12, "   -1234.56 ");  // KWOTA
    rec.replace(1 + 8, 3, i % 2 ? "\xA5\xA5\xA5" : "   ");  // the start of NAZWA
    dbf.write(r, rec);
    auto now = keys_of();
    for (size_t t = 0; t < exprs.size(); ++t) {
      if (old[t] == now[t]) continue;
      ASSERT_TRUE(cdx->tag(t).remove(old[t], r)) << cdx->tag(t).name() << " record " << r;
      cdx->tag(t).insert(now[t], r);
    }
  }
  cdx->flush();
  cdx.reset();
  dbf.flush();
  expect_clean(cdx_path, dbf_path);
}

// Random inserts and removals against a model, with long keys (few per page) and
// short ones (many per page), so that splits and emptied pages happen often.
class CdxRandomMaintenance : public ::testing::TestWithParam<int> {};

TEST_P(CdxRandomMaintenance, MatchesAModelAfterEveryBatch) {
  const int key_length = GetParam();
  std::string dir = scratch_dir("maint_random_" + std::to_string(key_length));
  std::string path = dir + "/r.cdx";
  auto cdx = cdx::CdxFile::create(path);
  VectorKeyStream none({});
  cdx::Tag* tag = &cdx->create_tag("t", "X", KeyType::Character, key_length, false, false, none, 1);
  std::mt19937 rng{unsigned(key_length)};
  auto less = [](const std::pair<std::string, uint32_t>& a, const std::pair<std::string, uint32_t>& b) {
    int c = compare_keys(KeyType::Character, a.first, b.first);
    return c != 0 ? c < 0 : a.second < b.second;
  };
  std::set<std::pair<std::string, uint32_t>, decltype(less)> model(less);
  const char alphabet[] = "AB \xA5\xA4zZ0";
  for (int batch = 0; batch < 6; ++batch) {
    for (int i = 0; i < 700; ++i) {
      std::string k(size_t(key_length), ' ');
      size_t len = 1 + rng() % size_t(key_length);
      for (size_t j = 0; j < len; ++j) k[j] = alphabet[rng() % 8];
      uint32_t r = 1 + rng() % 100000;
      if (model.insert({k, r}).second) tag->insert(k, r);
    }
    // Remove about half, in random order.
    std::vector<std::pair<std::string, uint32_t>> all(model.begin(), model.end());
    std::shuffle(all.begin(), all.end(), rng);
    for (size_t i = 0; i < all.size() / (batch == 5 ? 1 : 2); ++i) {
      ASSERT_TRUE(tag->remove(all[i].first, all[i].second));
      model.erase(all[i]);
    }
    std::vector<std::pair<std::string, uint32_t>> got;
    cdx::Cursor c;
    for (bool ok = tag->first(c); ok; ok = tag->next(c)) got.push_back({c.key, c.recno});
    std::vector<std::pair<std::string, uint32_t>> want(model.begin(), model.end());
    ASSERT_EQ(got, want) << "batch " << batch;
    cdx->flush();
    CheckReport report;
    check_cdx(path, "", report);
    ASSERT_TRUE(report.clean()) << report.text();
  }
  cdx::Cursor end;
  EXPECT_FALSE(tag->first(end));
}

INSTANTIATE_TEST_SUITE_P(KeyLengths, CdxRandomMaintenance, ::testing::Values(4, 30, 120));

}  // namespace
}  // namespace zuv::table
