// Shared set-up of the tests of the table helpers: a work-area set with the engines
// and settings of a real run, a scratch directory in the Windows form the helpers take,
// and small table builders.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/table/engine_setup.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "support/table_support.h"
#include "tables/table_access.h"

namespace zuv::tables::testing {

class TablesTest : public ::testing::Test {
 protected:
  TablesTest() : pauses_([this](int cs) { paused_cs += cs; }) {
    table::DBESYS(areas, [](const std::string&) {});
    table::STARTINIT(areas);
    dir = scratch.path();
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += "\\";
  }
  // The helpers' form (Windows text) and the OS's form of a file in the scratch dir.
  std::string file(const std::string& name) const { return dir + name; }
  std::string os_file(const std::string& name) const { return scratch.file(name); }

  // A table of n records: NR N(8), NAZWA C(20), and UWAGI M when memo; every third
  // record marked deleted; memo texts with Polish letters in CP852.
  void make_table(const std::string& name, int n, bool memo = true) {
    table::Structure s = {{"NR", 'N', 8, 0}, {"NAZWA", 'C', 20, 0}};
    if (memo) s.push_back({"UWAGI", 'M', 10, 0});
    ASSERT_TRUE(table::Table::create(file(name), s));
    table::OpenOptions o;
    o.path = file(name);
    auto t = table::Table::open(o);
    ASSERT_TRUE(t);
    for (int i = 1; i <= n; ++i) {
      ASSERT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, table::Value::of_number(i)));
      EXPECT_TRUE(t->put(1, table::Value::of_text("firma " + std::to_string(i))));
      if (memo && i % 2) {
        EXPECT_TRUE(t->put(2, table::Value::of_memo(memo_text(i))));
      }
      if (i % 3 == 0) {
        EXPECT_TRUE(t->remove());
      }
    }
    ASSERT_TRUE(t->commit());
  }
  static std::string memo_text(int i) {
    // "zażółć" in CP852, and a text longer than one memo block now and then.
    std::string s = "notatka \xBE\xA5\xA2\x88\x86 " + std::to_string(i);
    if (i % 7 == 1) s += std::string(700, 'x');
    return s;
  }

  table::WorkAreas areas;
  zuv::testing::TableTempDir scratch;
  std::string dir;
  int paused_cs = 0;

 private:
  ScopedPauses pauses_;
};

}  // namespace zuv::tables::testing
