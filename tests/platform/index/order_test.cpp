// Orders on open tables: navigation, seek, maintenance through the table, new tags,
// single-key files and relations; what they write is read back by the checker.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/table/index_check.h"
#include "platform/table/index_dbf.h"
#include "platform/table/order.h"
#include "platform/table/engine_setup.h"
#include "platform/table/work_areas.h"
#include "platform/index/index_test_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using testing::copy_vector;
using testing::read_order;
using testing::scratch_dir;

struct Fixture {
  std::string dir, dbf, cdx;
  std::unique_ptr<Table> table;
  std::vector<bool> deleted;  // by record number

  explicit Fixture(const std::string& name, const std::string& vec = "faktury") {
    dir = scratch_dir(name);
    dbf = copy_vector(vec + ".dbf", dir);
    copy_vector(vec + ".fpt", dir);
    cdx = copy_vector(vec + ".cdx", dir);
    {
      // Closed again before the table opens: an exclusive open allows no other handle.
      DbfRecords raw;
      raw.open(dbf);
      deleted.assign(raw.record_count() + 1, false);
      for (uint32_t r = 1; r <= raw.record_count(); ++r) {
        raw.read(r);
        deleted[r] = raw.deleted();
      }
    }
    OpenOptions o;
    o.path = dbf;
    table = Table::open(o);
  }
  std::vector<uint32_t> visible(const std::vector<uint32_t>& order) const {
    std::vector<uint32_t> r;
    for (uint32_t n : order) {
      if (!deleted[n]) r.push_back(n);
    }
    return r;
  }
  std::vector<uint32_t> walk() {
    std::vector<uint32_t> r;
    for (table->go_top(); !table->eof(); table->skip()) r.push_back(table->recno());
    return r;
  }
  std::vector<uint32_t> walk_back() {
    std::vector<uint32_t> r;
    table->go_bottom();
    while (!table->bof() && !table->eof()) {
      r.push_back(table->recno());
      table->skip(-1);
    }
    std::reverse(r.begin(), r.end());
    return r;
  }
};

void expect_clean(const std::string& cdx, const std::string& dbf) {
  CheckReport report;
  check_cdx(cdx, dbf, report);
  EXPECT_TRUE(report.clean()) << report.text();
}

TEST(Orders, NavigateEveryTagInKeyOrderHidingDeletedRecords) {
  Fixture f("orders_walk");
  ASSERT_TRUE(f.table);
  ASSERT_TRUE(ORDLISTADD(*f.table, f.cdx));
  EXPECT_EQ(f.table->order_count(), 7);
  EXPECT_EQ(f.table->order_focus(), 1);
  for (std::string tag : {"lpp", "naz", "kw", "dat", "up"}) {
    ASSERT_TRUE(f.table->set_order_focus(tag));
    auto want = f.visible(read_order("faktury." + tag + ".order"));
    EXPECT_EQ(f.walk(), want) << tag;
    EXPECT_EQ(f.walk_back(), want) << tag;
  }
}

TEST(Orders, SeekFindsExactKeysAndLandsOnTheNextGreaterOne) {
  Fixture f("orders_seek", "small");
  ASSERT_TRUE(ORDLISTADD(*f.table, f.cdx));
  ASSERT_TRUE(f.table->set_order_focus("lpp"));
  EXPECT_TRUE(f.table->seek(Value::of_text("00000005"), false));
  EXPECT_EQ(f.table->get("LPP").text, "00000005");
  // Soft: a key between two lands on the greater one; exact text equality.
  EXPECT_FALSE(f.table->seek(Value::of_text("00000005X"), true));
  EXPECT_FALSE(f.table->eof());
  EXPECT_EQ(f.table->get("LPP").text, "00000006");
  // A shorter text finds the first key it begins, whatever the exact setting (the
  // catalogues seek "lpp" in tags keyed "lpp_w+dtos(data_z)").
  EXPECT_TRUE(f.table->seek(Value::of_text("0000000"), false));
  EXPECT_EQ(f.table->get("LPP").text, "00000001");
  ASSERT_TRUE(f.table->set_order_focus("lpd"));
  EXPECT_TRUE(f.table->seek(Value::of_text("00000006"), false));
  EXPECT_EQ(f.table->get("LPP").text, "00000006");
  EXPECT_TRUE(f.table->seek(Value::of_text("00000006"), false, true));
  EXPECT_EQ(f.table->recno(), 11u) << "the last of the equal keys";
  ASSERT_TRUE(f.table->set_order_focus("lpp"));
  EXPECT_FALSE(f.table->seek(Value::of_text("99"), true));
  EXPECT_TRUE(f.table->eof());
  EXPECT_FALSE(f.table->seek(Value::of_text("00000005X"), false));
  EXPECT_TRUE(f.table->eof());
  // Record 7 is deleted: its key finds the next visible record with that key.
  ASSERT_TRUE(f.deleted[7]);
  EXPECT_TRUE(f.table->seek(Value::of_text("00000003"), false));
  EXPECT_EQ(f.table->recno(), 8u);
  // Numeric and date keys.
  ASSERT_TRUE(f.table->set_order_focus("kw"));
  EXPECT_TRUE(f.table->seek(Value::of_number(-329.15), false));
  EXPECT_EQ(f.table->recno(), 2u);
  ASSERT_TRUE(f.table->set_order_focus("dat"));
  EXPECT_TRUE(f.table->seek(Value::of_date("20260223"), false));
  EXPECT_EQ(f.table->recno(), 1u);
  EXPECT_FALSE(f.table->seek(Value::of_date("20991231"), true));
  EXPECT_TRUE(f.table->eof());
}

TEST(Orders, AppendReplaceDeleteAndRecallKeepEveryTagCurrent) {
  Fixture f("orders_maint");
  ASSERT_TRUE(ORDLISTADD(*f.table, f.cdx));
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(f.table->append());
    char lpp[16];
    std::snprintf(lpp, sizeof lpp, "%08d", 50000 + (i * 7919) % 1000);
    EXPECT_TRUE(f.table->put("LPP", Value::of_text(lpp)));
    EXPECT_TRUE(f.table->put("NAZWA", Value::of_text(i % 2 ? "\xA5rodek" : "Zakup")));
    EXPECT_TRUE(f.table->put("DATA", Value::of_date(i % 5 ? "20250101" : "")));
    EXPECT_TRUE(f.table->put("KWOTA", Value::of_number(i * 1.5 - 100, 12, 2)));
    EXPECT_TRUE(f.table->put("ILOSC", Value::of_number(i % 50, 4, 0)));
  }
  for (uint32_t r = 3; r <= 20000; r += 97) {
    f.table->go_to(r);
    EXPECT_TRUE(f.table->put("NAZWA", Value::of_text("Zmieniona")));
    EXPECT_TRUE(f.table->put("KWOTA", Value::of_number(1.0, 12, 2)));
    if (r % 2) {
      EXPECT_TRUE(f.table->remove());
    }
    else {
      EXPECT_TRUE(f.table->recall());
    }
  }
  ASSERT_TRUE(f.table->commit());
  // The walk in an order follows the new keys at once.
  ASSERT_TRUE(f.table->set_order_focus("naz"));
  ASSERT_TRUE(f.table->seek(Value::of_text("Zmieniona"), false));
  f.table->close();
  expect_clean(f.cdx, f.dbf);
}

TEST(Orders, CreateTagsInANewCompoundFileAndInOneThatExists) {
  Fixture f("orders_create", "small");
  std::string other = f.dir + "/inne.cdx";
  ASSERT_TRUE(ORDCREATE(*f.table, other, "nazup", "upper(nazwa)"));
  BuildOptions desc;
  desc.descending = true;
  ASSERT_TRUE(ORDCREATE(*f.table, other, "lpd", "lpp+dtos(data)", desc));
  EXPECT_EQ(f.table->order_count(), 2);
  auto asc = f.visible(read_order("small.lpd.order"));
  auto got = f.walk();
  std::reverse(got.begin(), got.end());
  EXPECT_EQ(got, asc) << "a descending tag walks from the greatest key";
  ASSERT_TRUE(f.table->set_order_focus("nazup"));
  EXPECT_EQ(f.walk(), f.visible(read_order("small.up.order")));
  // A wrong expression is refused before anything is written.
  std::vector<ErrorRecord> errors;
  ScopedHandler h([&](ErrorRecord& r) {
    errors.push_back(r);
    return HandlerAnswer::Default;
  });
  EXPECT_FALSE(ORDCREATE(*f.table, other, "zle", "dtos(nazwa)"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].description.find("dtos"), std::string::npos);
  f.table->close();
  expect_clean(other, f.dbf);
}

TEST(Orders, SingleKeyFilesAreCreatedOpenedAndMaintained) {
  std::string dir = scratch_dir("orders_ntx");
  std::string dbf = copy_vector("ntx1.dbf", dir);
  copy_vector("ntx1.dbt", dir);
  std::string ntx = copy_vector("ntx1_naz.ntx", dir);
  std::vector<uint32_t> want;
  {
    DbfRecords raw;
    raw.open(dbf);
    for (uint32_t r : read_order("ntx1.naz.order")) {
      raw.read(r);
      if (!raw.deleted()) want.push_back(r);
    }
  }
  OpenOptions o;
  o.path = dbf;
  auto t = Table::open(o);
  ASSERT_TRUE(t);
  ASSERT_TRUE(ORDLISTADD(*t, ntx));
  std::vector<uint32_t> walk;
  for (t->go_top(); !t->eof(); t->skip()) walk.push_back(t->recno());
  EXPECT_EQ(walk, want);
  for (int i = 0; i < 400; ++i) {
    ASSERT_TRUE(t->append());
    EXPECT_TRUE(t->put("NAZWA", Value::of_text(std::string(1, char('A' + i % 26)) + std::to_string(i))));
  }
  for (uint32_t r = 1; r <= 3000; r += 13) {
    t->go_to(r);
    EXPECT_TRUE(t->put("NAZWA", Value::of_text("\xA5" + std::to_string(r))));
  }
  ASSERT_TRUE(ORDCREATE(*t, dir + "/nowy.ntx", "", "lpp+nazwa"));
  t->close();
  CheckReport report;
  check_ntx(ntx, dbf, report);
  check_ntx(dir + "/nowy.ntx", dbf, report);
  EXPECT_TRUE(report.clean()) << report.text();
}

TEST(Orders, ARelationPositionsTheChildOnTheParentsKey) {
  std::string dir = scratch_dir("orders_relation");
  copy_vector("small.fpt", dir);
  copy_vector("faktury.fpt", dir);
  std::string parent = copy_vector("small.dbf", dir);
  std::string child = copy_vector("faktury.dbf", dir);
  std::string child_cdx = copy_vector("faktury.cdx", dir);
  WorkAreas areas;
  DBESYS(areas, [](const std::string&) {});
  STARTINIT(areas);
  UseRequest p;
  p.path = parent;
  p.alias = "par";
  ASSERT_TRUE(areas.use_area(p));
  UseRequest c;
  c.path = child;
  c.alias = "dz";
  ASSERT_TRUE(areas.use_area(c));
  Table* ct = areas.find("dz");
  ASSERT_TRUE(ORDLISTADD(*ct, child_cdx));
  ASSERT_TRUE(ct->set_order_focus("lpp"));
  Relations rel(areas);
  ASSERT_TRUE(rel.set("par", "dz", "lpp"));
  Table* pt = areas.find("par");
  int matched = 0;
  // The child follows every move of the parent by itself.
  for (pt->go_top(); !pt->eof(); pt->skip()) {
    if (!ct->eof()) {
      EXPECT_EQ(ct->get("LPP").text, pt->get("LPP").text);
      ++matched;
    }
  }
  EXPECT_GT(matched, 0);
  rel.clear("par");
  ct->go_bottom();
  std::uint32_t before = ct->recno();
  pt->go_top();
  pt->skip();
  EXPECT_EQ(ct->recno(), before) << "a cleared relation moves nothing";
  std::vector<ErrorRecord> errors;
  ScopedHandler h([&](ErrorRecord& r) {
    errors.push_back(r);
    return HandlerAnswer::Default;
  });
  EXPECT_FALSE(rel.set("par", "brak", "lpp"));
  EXPECT_FALSE(rel.set("par", "dz", "nieznane_pole"));
  EXPECT_EQ(errors.size(), 2u);
}

}  // namespace
}  // namespace zuv::table

namespace zuv::table {
namespace {

TEST(Orders, AFilterHidesRecordsInOrderWalksUntilCleared) {
  Fixture f("orders_filter", "small");
  ASSERT_TRUE(ORDLISTADD(*f.table, f.cdx));
  ASSERT_TRUE(f.table->set_order_focus("lpp"));
  size_t all = f.walk().size();
  int ok_field = f.table->field_index("OK");
  f.table->set_filter([ok_field](const Table& t) { return t.get(ok_field).logical; });
  std::vector<std::uint32_t> shown = f.walk();
  EXPECT_LT(shown.size(), all);
  for (std::uint32_t r : shown) {
    f.table->go_to(r);
    EXPECT_TRUE(f.table->get(ok_field).logical);
  }
  f.table->clear_filter();
  EXPECT_EQ(f.walk().size(), all);
}

TEST(Orders, PackAndZapRebuildEveryTag) {
  Fixture f("orders_pack", "small");
  ASSERT_TRUE(ORDLISTADD(*f.table, f.cdx));
  ASSERT_TRUE(f.table->pack());
  EXPECT_EQ(f.table->record_count(), 11u);  // record 7 was the deleted one
  ASSERT_TRUE(f.table->set_order_focus("naz"));
  EXPECT_EQ(f.walk().size(), 11u);
  f.table->close();
  expect_clean(f.cdx, f.dbf);
  Fixture z("orders_zap", "small");
  ASSERT_TRUE(ORDLISTADD(*z.table, z.cdx));
  ASSERT_TRUE(z.table->zap());
  EXPECT_TRUE(z.walk().empty());
  z.table->close();
  expect_clean(z.cdx, z.dbf);
}

}  // namespace
}  // namespace zuv::table
