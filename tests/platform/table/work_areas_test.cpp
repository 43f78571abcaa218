#include "platform/table/work_areas.h"

#include <gtest/gtest.h>

#include "platform/table/copying.h"
#include "platform/table/engine_setup.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::TableTempDir;

class Areas : public ::testing::Test {
 protected:
  void SetUp() override {
    DBESYS(areas, [&](const std::string& m) { alerts.push_back(m); });
    STARTINIT(areas);
    for (const char* name : {"firmy", "wersja"}) {
      ASSERT_TRUE(Table::create(dir.file(std::string(name) + ".dbf"),
                                {{"NR", 'N', 4, 0}, {"NAZWA", 'C', 10, 0}, {"UWAGI", 'M', 10, 0}}));
    }
  }
  UseRequest request(const std::string& file, const std::string& alias = "") {
    UseRequest r;
    r.path = dir.file(file);
    r.alias = alias;
    return r;
  }
  TableTempDir dir;
  WorkAreas areas;
  std::vector<std::string> alerts;
};

TEST_F(Areas, SetUpBuildsBothEnginesAndTheSettings) {
  EXPECT_TRUE(alerts.empty());
  EXPECT_EQ(areas.engines().default_engine(), "FOXCDX");
  EXPECT_TRUE(areas.engines().usable("dbfntx"));
  EXPECT_EQ(areas.engines().order_component("FOXCDX"), "CDXDBE");
  EXPECT_EQ(areas.engines().option("CDXDBE", 1007), 2);
  const Settings& s = areas.settings();
  EXPECT_TRUE(s.deleted_hidden && s.exact && s.soft_seek && s.exclusive_default);
  EXPECT_EQ(format_date("20260307", s.date_format), "2026.03.07");
  EXPECT_EQ(format_date("        ", s.date_format), "    .  .  ");
  // A component that cannot be loaded is reported and the set-up goes on.
  EngineSet e;
  EXPECT_FALSE(e.load("XYZDBE"));
  EXPECT_FALSE(e.build("FOXCDX", "FOXDBE", "CDXDBE"));  // components not loaded
}

TEST_F(Areas, AliasesAreCaseInsensitiveAndAreasReused) {
  ASSERT_TRUE(areas.use_area(request("firmy.dbf", "fir")));
  ASSERT_TRUE(areas.use_area(request("wersja.dbf")));
  EXPECT_EQ(areas.aliases(), (std::vector<std::string>{"FIR", "WERSJA"}));
  EXPECT_EQ(areas.selected_area(), 2);
  EXPECT_TRUE(areas.select("Fir"));
  EXPECT_EQ(areas.selected_area(), 1);
  EXPECT_TRUE(areas.used());
  EXPECT_FALSE(areas.select("nie_ma"));
  EXPECT_TRUE(areas.find("wersja"));
  {
    std::vector<ErrorRecord> errors;
    ScopedHandler h([&](ErrorRecord& r) {
      errors.push_back(r);
      return HandlerAnswer::Default;
    });
    EXPECT_FALSE(areas.use_area(request("wersja.dbf", "FIR")));  // alias in use
    UseRequest bad = request("firmy.dbf", "x");
    bad.engine = "NIEZNANY";
    EXPECT_FALSE(areas.use_area(bad));
    EXPECT_FALSE(areas.use_area(request("brak.dbf", "b")));
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2].genCode, 71);
    EXPECT_EQ(errors[2].osCode, 2);
  }
  areas.close_area();  // FIR
  EXPECT_FALSE(areas.used());
  EXPECT_EQ(areas.aliases(), (std::vector<std::string>{"WERSJA"}));
  ASSERT_TRUE(areas.use_area(request("firmy.dbf", "fir")));
  EXPECT_EQ(areas.selected_area(), 1);  // the free area is taken again
  areas.close_all();
  EXPECT_TRUE(areas.aliases().empty());
}

TEST_F(Areas, EngineHookSeesEveryOpenAndMayRefuseIt) {
  std::vector<std::string> seen;
  bool allow = true;
  areas.engines().on_table_opened("foxcdx", [&](Table& t) {
    seen.push_back(alias_from_path(t.path()));
    return allow;
  });
  ASSERT_TRUE(areas.use_area(request("firmy.dbf", "a")));
  UseRequest ntx = request("wersja.dbf", "b");
  ntx.engine = "DBFNTX";
  ASSERT_TRUE(areas.use_area(ntx));
  EXPECT_EQ(seen, (std::vector<std::string>{"FIRMY"}));
  areas.close_all();
  allow = false;
  ScopedHandler quiet([](ErrorRecord&) { return HandlerAnswer::Default; });
  EXPECT_FALSE(areas.use_area(request("firmy.dbf", "a")));
  EXPECT_TRUE(areas.aliases().empty());
}

TEST_F(Areas, OpeningWithoutAModeIsExclusive) {
  ASSERT_TRUE(areas.use_area(request("firmy.dbf", "a")));
  EXPECT_FALSE(areas.current()->is_shared());
  UseRequest shared = request("wersja.dbf", "b");
  shared.shared = true;
  ASSERT_TRUE(areas.use_area(shared));
  EXPECT_TRUE(areas.current()->is_shared());
}

TEST_F(Areas, ExportAndImportHonourTheDeletedSetting) {
  ASSERT_TRUE(areas.use_area(request("firmy.dbf", "fir")));
  Table& t = *areas.current();
  for (int i = 1; i <= 6; ++i) {
    EXPECT_TRUE(t.append());
    EXPECT_TRUE(t.put("NR", Value::of_number(i)));
    EXPECT_TRUE(t.put("NAZWA", Value::of_text("f" + std::to_string(i))));
    EXPECT_TRUE(t.put("UWAGI", Value::of_memo("m" + std::to_string(i))));
    if (i % 3 == 0) {
      EXPECT_TRUE(t.remove());
    }
  }
  t.go_to(2);
  ASSERT_TRUE(export_records(t, dir.file("kopia1.dbf")));
  EXPECT_EQ(t.recno(), 2u);  // the source keeps its place
  areas.settings().deleted_hidden = false;
  ASSERT_TRUE(export_records(t, dir.file("kopia2.dbf"), {"nazwa", "NR"},
                             [](Table& x) { return x.get("NR").number > 1; }));
  areas.settings().deleted_hidden = true;

  ASSERT_TRUE(areas.use_area(request("kopia1.dbf")));
  EXPECT_EQ(areas.current()->record_count(), 4u);
  EXPECT_EQ(areas.current()->get("UWAGI").text, "m1");
  ASSERT_TRUE(areas.use_area(request("kopia2.dbf")));
  Table& k2 = *areas.current();
  EXPECT_EQ(k2.structure(), (Structure{{"NAZWA", 'C', 10, 0}, {"NR", 'N', 4, 0}}));
  EXPECT_EQ(k2.record_count(), 5u);
  k2.go_to(2);
  EXPECT_TRUE(k2.deleted());  // record 3 copied with its mark
  areas.close_area();

  // Import matches by name; the deleted ones of the source stay out while hidden.
  ASSERT_TRUE(areas.use_area(request("wersja.dbf")));
  ASSERT_TRUE(import_records(*areas.current(), dir.file("kopia2.dbf")));
  EXPECT_EQ(areas.current()->record_count(), 3u);  // 2, 4, 5
  areas.current()->go_top();
  EXPECT_EQ(areas.current()->get("NAZWA").text, "f2        ");
  EXPECT_EQ(areas.current()->get("UWAGI").text, "");
}

}  // namespace
}  // namespace zuv::table
