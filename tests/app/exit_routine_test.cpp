// The tables' part of the exit routine: a commit that fails must not keep the other
// tables uncommitted or any table held.
#include <gtest/gtest.h>

#include "app/appexit.h"
#include "platform/os/fault.h"
#include "platform/table/engine_setup.h"
#include "platform/error/error.h"
#include "support/table_support.h"

using namespace zuv;

namespace {

struct Tables {
  zuv::testing::TableTempDir scratch;
  table::WorkAreas areas;
  Tables() {
    table::DBESYS(areas, [](const std::string&) {});
    table::STARTINIT(areas);
  }
  std::string make(const std::string& name) {
    std::string path = scratch.file(name);
    EXPECT_TRUE(table::Table::create(path, {{"NR", 'N', 8, 0}}));
    return path;
  }
  bool open(const std::string& path, const std::string& alias) {
    table::UseRequest r;
    r.path = path;
    r.alias = alias;
    r.shared = false;
    return areas.use_area(r);
  }
  void append(const std::string& alias, int nr) {
    table::Table* t = areas.find(alias);
    ASSERT_TRUE(t && t->append());
    EXPECT_TRUE(t->put(0, table::Value::of_number(nr)));
  }
};

// Records as another opener finds them; -1 when the table cannot be had exclusively.
int records_on_disk(const std::string& path) {
  table::OpenOptions o;
  o.path = path;
  try {
    GuardedBlock quiet;
    auto t = table::Table::open(o);
    return t ? static_cast<int>(t->record_count()) : -1;
  } catch (const Break&) {
    return -1;
  }
}

}  // namespace

TEST(ExitRoutine, EveryTableClosedAndTheOthersCommittedWhenOneCommitFails) {
  Tables t;
  std::string a = t.make("a.dbf"), b = t.make("b.dbf"), c = t.make("c.dbf");
  ASSERT_TRUE(t.open(a, "A"));
  ASSERT_TRUE(t.open(b, "B"));
  ASSERT_TRUE(t.open(c, "C"));
  t.append("A", 1);
  t.append("B", 2);
  t.append("B", 3);
  t.append("C", 4);
  {
    os::fault::Scope disarm;
    os::fault::arm(os::fault::Op::Write, 1, 112);  // the first table's commit fails
    app::close_work_areas(t.areas);
  }
  EXPECT_TRUE(t.areas.aliases().empty());
  EXPECT_EQ(records_on_disk(b), 2);  // committed after the failure before it
  EXPECT_EQ(records_on_disk(c), 1);
  EXPECT_GE(records_on_disk(a), 0);  // closed: another opener gets it exclusively
}
