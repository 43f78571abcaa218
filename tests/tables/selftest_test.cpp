// The disk self-test: a good directory passes and is left clean; a failing file
// operation is reported with the step it broke; the operator sees the wait window and
// the error through the message dialog.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "platform/gui/script.h"
#include "platform/os/fault.h"
#include "platform/error/error.h"
#include "tables/index_ops.h"
#include "tables/selftest.h"
#include "tables_fixture.h"
#include "ui/dialogs.h"

namespace zuv::tables::testing {
namespace {

namespace fs = std::filesystem;
using os::fault::Op;

class SelfTest : public TablesTest {
 protected:
  bool scratch_exists() const { return fs::exists(fs::u8path(os_file("Test"))); }
  // How many operations of kind op a passing run performs before step `step` begins.
  int ops_before(Op op, int step) {
    int n = -1;
    os::fault::Scope scope;
    os::fault::start_counting();
    EXPECT_EQ(TEST_ZUV(areas, dir, "Test", [&](int s) {
                if (s == step) n = os::fault::counted(op);
              }),
              0);
    return n;
  }
  int ops_in_run(Op op) {
    os::fault::Scope scope;
    os::fault::start_counting();
    EXPECT_EQ(TEST_ZUV(areas, dir, "Test"), 0);
    return os::fault::counted(op);
  }
  int run_with(Op op, int nth, bool from_then_on) {
    os::fault::Scope scope;
    if (from_then_on)
      os::fault::arm_from(op, nth, 5);
    else
      os::fault::arm(op, nth, 5);
    return TEST_ZUV(areas, dir, "Test");
  }
};

TEST_F(SelfTest, GoodDirectoryPassesAndIsLeftClean) {
  std::vector<int> steps;
  EXPECT_EQ(TEST_ZUV(areas, dir, "Test", [&](int s) { steps.push_back(s); }), 0);
  EXPECT_EQ(steps.size(), 19u);
  EXPECT_EQ(steps.back(), 19);
  EXPECT_FALSE(scratch_exists());
  EXPECT_TRUE(areas.aliases().empty());
  // What an earlier failed run left behind is cleared at step 1.
  fs::create_directories(fs::u8path(os_file("Test")));
  zuv::testing::table_write_bytes(os_file("Test") + "/test.ntx", "stary");
  zuv::testing::table_write_bytes(os_file("Test") + "/stary.dbf", "stary");
  EXPECT_EQ(TEST_ZUV(areas, dir, "Test"), 0);
  EXPECT_FALSE(scratch_exists());
}

TEST_F(SelfTest, RefusedOperationsAreReportedWithTheirStep) {
  // Deletion refused everywhere: the scratch directory cannot go at the end.
  EXPECT_EQ(run_with(Op::Delete, 1, true), 19);
  // ... nor, on the next run, at the start.
  EXPECT_EQ(run_with(Op::Delete, 1, true), 1);
  EXPECT_TRUE(scratch_exists());
  EXPECT_EQ(TEST_ZUV(areas, dir, "Test"), 0);  // a healthy disk clears it again

  // The index file of step 7 cannot be created.
  int creates = ops_before(Op::Create, 7);
  ASSERT_GT(creates, 0);
  EXPECT_EQ(run_with(Op::Create, creates + 1, false), 7);
  EXPECT_TRUE(areas.aliases().empty());
  EXPECT_EQ(TEST_ZUV(areas, dir, "Test"), 0);

  // The directory itself cannot be made: the table of step 3 has nowhere to go.
  EXPECT_EQ(run_with(Op::Create, 1, false), 3);
  // Writes refused from the start: the first table is never written.
  EXPECT_EQ(run_with(Op::Write, 1, true), 3);
  EXPECT_EQ(TEST_ZUV(areas, dir, "Test"), 0);
}

// Every single failing operation of any kind yields a step number between 1 and 19,
// never an escaped error, and leaves no work area open.
TEST_F(SelfTest, EverySingleFailureIsTrappedAndNumbered) {
  std::map<Op, int> counts;
  for (Op op : {Op::Create, Op::Write, Op::Rename, Op::Delete, Op::Copy}) counts[op] = ops_in_run(op);
  ScopedHandler escaped([](ErrorRecord& r) {
    ADD_FAILURE() << "escaped: " << r.description;
    return HandlerAnswer::Default;
  });
  ASSERT_GT(counts[Op::Create], 3);
  ASSERT_GT(counts[Op::Write], 3);
  std::set<int> steps;
  for (auto [op, n] : counts) {
    for (int nth = 1; nth <= n; ++nth) {
      int step = run_with(op, nth, false);
      steps.insert(step);
      EXPECT_GE(step, 0);
      EXPECT_LE(step, 19);
      EXPECT_TRUE(areas.aliases().empty());
      os::fault::disarm();
      ASSERT_EQ(TEST_ZUV(areas, dir, "Test"), 0) << "after op " << int(op) << " nth " << nth;
    }
  }
  EXPECT_GT(steps.size(), 4u);  // failures land in many different steps
}

// A relation whose tables were closed is dropped, not followed: reopening the same
// aliases and relating them again works on the new tables only.
TEST_F(SelfTest, RelationsOfClosedTablesAreNotFollowed) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(table::Table::create(file("p.dbf"), {{"K", 'C', 4, 0}, {"X", 'C', 1, 0}}));
    ASSERT_TRUE(table::Table::create(file("c.dbf"), {{"K", 'C', 4, 0}, {"X", 'C', 1, 0}}));
    ASSERT_TRUE(OTWORZ(areas, dir, "c", "dziecko"));
    ASSERT_TRUE(areas.current()->append());
    EXPECT_TRUE(areas.current()->put(0, table::Value::of_text("ab")));
    ASSERT_TRUE(order_create(*areas.current(), file("c.ntx"), "k", "k"));
    ASSERT_TRUE(OTWORZ(areas, dir, "p", "rodzic"));
    ASSERT_TRUE(areas.current()->append());
    EXPECT_TRUE(areas.current()->put(0, table::Value::of_text("ab")));
    ASSERT_TRUE(set_relation(areas, "rodzic", "dziecko", "rodzic->k"));
    sync_relations(areas, "rodzic");
    EXPECT_EQ(areas.find("dziecko")->recno(), 1u);
    EXPECT_FALSE(areas.find("dziecko")->eof());
    CLOSEALL(areas);  // the relation is left set, as a careless caller would
  }
}

TEST_F(SelfTest, OperatorSeesTheWaitWindowAndTheStepInTheTitle) {
  gui::ManualClock clock;
  gui::ScriptFrontend fe(clock, {"1"});
  ui::Dialogs dialogs(fe);
  EXPECT_FALSE(SA_BLEDY(dialogs, areas, dir, "P"));
  EXPECT_NE(fe.transcript_text().find("Test dysków lokalnych"), std::string::npos);
  EXPECT_EQ(fe.transcript_text().find("Błąd nr"), std::string::npos);
  {
    os::fault::Scope scope;
    os::fault::arm_from(Op::Delete, 1, 5);
    EXPECT_TRUE(SA_BLEDY(dialogs, areas, dir, "B"));
  }
  std::string t = fe.transcript_text();
  EXPECT_NE(t.find("Test dysków sieciowych"), std::string::npos);
  EXPECT_NE(t.find("Błąd nr (19)"), std::string::npos);
  EXPECT_NE(t.find("Na dysku sieciowym nie można przeprowadzić wszystkich operacji"), std::string::npos);
  EXPECT_EQ(fe.answers_left(), 0u);
}

}  // namespace
}  // namespace zuv::tables::testing
