// The open, close, lock and append helpers: what they open, what they refuse, how
// often they try, and that no error escapes them.
#include <gtest/gtest.h>

#include "platform/gui/script.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "support/table_support.h"
#include "platform/error/error.h"
#include "tables/catalogue.h"
#include "support/script_interrupt.h"
#include "tables/table_access.h"
#include "tables_fixture.h"

namespace zuv::tables::testing {
namespace {

using zuv::testing::TableChild;

// Any error reaching the program's handler fails the test: the helpers must trap all.
class NoEscape {
 public:
  NoEscape()
      : h_([](ErrorRecord& r) {
          ADD_FAILURE() << "error escaped: " << r.description;
          return HandlerAnswer::Default;
        }) {}

 private:
  ScopedHandler h_;
};

class Access : public TablesTest {
 protected:
  void SetUp() override { make_table("wersja.dbf", 5, false); }
  NoEscape guard;
};

TEST_F(Access, EveryFormOfTheNameOpensTheSameDataFile) {
  for (const char* name : {"wersja.dbf", "wersja", "wersja.xyz", "WERSJA.DBF"}) {
    ASSERT_TRUE(OTWORZ(areas, dir, name, "wer")) << name;
    EXPECT_EQ(areas.current()->record_count(), 5u);
    ZAMKNIJ(areas, "wer");
    ASSERT_TRUE(S_OTWORZ(areas, dir, name, "wer")) << name;
    EXPECT_TRUE(areas.current()->is_shared());
    ZAMKNIJ(areas, "wer");
  }
  EXPECT_EQ(table_files("C:\\b\\", "a.b.c", true).data, "C:\\b\\a.dbf");
  EXPECT_EQ(table_files("C:\\b\\", "a.b.c", true).index, "C:\\b\\a.cdx");
}

TEST_F(Access, ShortOrMissingFilesAreRefusedBeforeTheEngine) {
  std::string bytes = zuv::testing::table_read_bytes(os_file("wersja.dbf"));
  zuv::testing::table_write_bytes(os_file("k66.dbf"), bytes.substr(0, 66));
  zuv::testing::table_write_bytes(os_file("k67.dbf"), bytes.substr(0, 67));
  EXPECT_FALSE(OTWORZ(areas, dir, "k66", "a"));
  EXPECT_FALSE(S_OTWORZ(areas, dir, "k66", "a"));
  EXPECT_FALSE(OTWORZ(areas, dir, "brak", "a"));
  EXPECT_FALSE(S_OTWORZ(areas, dir, "brak", "a"));
  // 67 bytes reach the engine, which finds the header damaged: still false, trapped.
  int opens = 0;
  {
    ScopedHandler count([&](ErrorRecord&) {
      ++opens;
      return HandlerAnswer::Break;
    });
    EXPECT_FALSE(S_OTWORZ(areas, dir, "k67", "a"));
    EXPECT_FALSE(OTWORZ(areas, dir, "k67", "a"));
  }
  EXPECT_EQ(opens, 0);  // every attempt trapped inside the helpers
  EXPECT_FALSE(areas.find("a"));
  // An order asked for while the compound file is absent: false; without one, opened.
  EXPECT_FALSE(OTWORZ(areas, dir, "wersja", "wer", OrderArg{"lpp"}));
  EXPECT_FALSE(S_OTWORZ(areas, dir, "wersja", "wer", OrderArg{1}));
  EXPECT_FALSE(areas.find("wer"));
  EXPECT_TRUE(OTWORZ(areas, dir, "wersja", "wer"));
}

TEST_F(Access, OrderArgumentAddsTheCompoundIndexAndFocusesTheTag) {
  make_table("karta.dbf", 9, false);
  ASSERT_EQ(INDEXON(areas, file("karta"), {{"nr", "str(nr,8,0)"}, {"naz", "upper(nazwa)"}}), kIndexBuilt);
  ASSERT_TRUE(OTWORZ(areas, dir, "karta", "k", OrderArg{"NAZ"}));
  table::Table* t = areas.current();
  EXPECT_EQ(t->order_focus(), 2);
  // Under the collation "firma 1" < "firma 10"... the first visible key is "FIRMA 1".
  EXPECT_EQ(t->get("NR").number, 1);
  ZAMKNIJ(areas, "k");
  ASSERT_TRUE(S_OTWORZ(areas, dir, "karta", "k", OrderArg{1}));
  EXPECT_EQ(areas.current()->order_focus(), 1);
  ZAMKNIJ(areas, "k");
  // A damaged compound file: the open answers false and leaves no area behind.
  zuv::testing::table_write_bytes(os_file("karta.cdx"), std::string(1024, 'x'));
  {
    ScopedHandler quiet([](ErrorRecord&) { return HandlerAnswer::Break; });
    EXPECT_FALSE(S_OTWORZ(areas, dir, "karta", "k", OrderArg{1}));
    EXPECT_FALSE(OTWORZ(areas, dir, "karta", "k", OrderArg{1}));
  }
  EXPECT_TRUE(areas.aliases().empty());
}

TEST_F(Access, AnAliasInUseIsReusedNotReopened) {
  make_table("inna.dbf", 2, false);
  ASSERT_TRUE(OTWORZ(areas, dir, "wersja", "wer"));
  areas.current()->go_to(4);
  ASSERT_TRUE(S_OTWORZ(areas, dir, "inna", "WER"));
  EXPECT_EQ(areas.current()->recno(), 4u);  // left where it was
  EXPECT_EQ(areas.current()->record_count(), 5u);
  ASSERT_TRUE(OTWORZ(areas, dir, "inna", "wer"));
  EXPECT_EQ(areas.current()->recno(), 1u);  // positioned at its top
  EXPECT_EQ(areas.aliases().size(), 1u);
}

TEST_F(Access, CloseHelpersKeepTheBookkeepingTables) {
  make_table("a.dbf", 1, false);
  make_table("b.dbf", 1, false);
  ASSERT_TRUE(OTWORZ(areas, dir, "a", "ins"));
  ASSERT_TRUE(OTWORZ(areas, dir, "b", "Sem"));
  ASSERT_TRUE(OTWORZ(areas, dir, "wersja", "wer"));
  ZAMKNIJ(areas, "");
  ZAMKNIJ(areas, "nieznany");
  EXPECT_EQ(areas.aliases().size(), 3u);
  CLOSEALL(areas);
  ASSERT_EQ(areas.aliases().size(), 2u);
  EXPECT_TRUE(areas.find("INS"));
  EXPECT_TRUE(areas.find("sem"));
  EXPECT_FALSE(areas.find("wer"));
}

TEST_F(Access, HeldTableMakesTheOpenHelpersAnswerFalseAfterTheirAttempts) {
  table::OpenOptions o;
  o.path = file("wersja.dbf");
  auto holder = table::Table::open(o);  // another handle holding it exclusively
  ASSERT_TRUE(holder);
  EXPECT_FALSE(USEEX(areas, file("wersja.dbf"), "wer"));
  EXPECT_FALSE(OTWORZ(areas, dir, "wersja", "wer"));
  EXPECT_FALSE(S_OTWORZ(areas, dir, "wersja", "wer"));
  EXPECT_TRUE(areas.aliases().empty());
  EXPECT_EQ(paused_cs, 0);  // the six exclusive tries follow each other at once
  holder.reset();
  EXPECT_TRUE(USEEX(areas, file("wersja.dbf"), "wer"));
  EXPECT_FALSE(areas.current()->is_shared());
}

TEST_F(Access, RecordLockAttemptsAreCountedAndClamped) {
  ASSERT_TRUE(S_OTWORZ(areas, dir, "wersja", "wer"));
  table::OpenOptions o;
  o.path = file("wersja.dbf");
  o.shared = true;
  auto other = table::Table::open(o);
  ASSERT_TRUE(other && other->rlock(1));
  areas.current()->go_to(1);
  struct Case {
    std::optional<int> arg;
    int attempts;
  };
  for (Case c : {Case{std::nullopt, 10}, Case{0, 1}, Case{-4, 1}, Case{50, 20}, Case{7, 7}}) {
    paused_cs = 0;
    EXPECT_FALSE(REK_LOCK(areas, c.arg));
    EXPECT_EQ(paused_cs, 5 * c.attempts);
  }
  areas.current()->go_to(2);
  EXPECT_TRUE(REK_LOCK(areas));
}

// A shared table between two processes: the other one holds record 2.
TEST_F(Access, RecordLockGivesUpWhileAnotherProcessHoldsTheRecord) {
  std::string tool = zuv::testing::table_tool_path("zuv-dbtool");
  if (tool.empty()) GTEST_SKIP() << "zuv-dbtool not built";
  TableChild child;
  std::string ready = os_file("ready"), stop = os_file("stop");
  ASSERT_TRUE(child.start({tool, "hold", file("wersja.dbf"), "--shared", "--rlock", "2", "--ready", ready,
                           "--stop", stop}));
  ASSERT_TRUE(zuv::testing::table_wait_for_file(ready, 30000));
  EXPECT_FALSE(OTWORZ(areas, dir, "wersja", "wer"));  // exclusive is refused
  ASSERT_TRUE(S_OTWORZ(areas, dir, "wersja", "wer"));
  areas.current()->go_to(2);
  EXPECT_FALSE(REK_LOCK(areas, 3));
  areas.current()->go_to(3);
  EXPECT_TRUE(REK_LOCK(areas, 3));
  EXPECT_TRUE(REK_ADD(areas));  // appends still go on beside a record lock
  zuv::testing::table_write_bytes(stop, "");
  EXPECT_EQ(child.wait(), 0);
  areas.current()->go_to(2);
  EXPECT_TRUE(REK_LOCK(areas, 1));
  ZAMKNIJ(areas, "wer");
  ASSERT_TRUE(OTWORZ(areas, dir, "wersja", "wer"));
  EXPECT_EQ(areas.current()->record_count(), 6u);
}

TEST_F(Access, AppendRetriesBeepOnceAndStopOnEsc) {
  ASSERT_TRUE(S_OTWORZ(areas, dir, "wersja", "wer"));
  // Another handle holds the append lock (the header byte of the locking convention).
  os::FileHandle holder;
  ASSERT_EQ(holder.open(os::native_path(file("wersja.dbf")), os::Access::ReadWrite, os::Share::Shared), 0);
  ASSERT_EQ(holder.lock(table::kLockBase, 1), 0);
  gui::ManualClock clock;
  gui::ScriptFrontend fe(clock);
  ScriptInterrupt esc_on_third(fe, {"", "Enter", "Esc"});
  EXPECT_FALSE(REK_ADD(areas, std::nullopt, &esc_on_third));
  EXPECT_EQ(esc_on_third.checks(), 3);  // after attempts 2, 3 and 4
  EXPECT_EQ(fe.tones(), 1);
  EXPECT_EQ(paused_cs, 2);
  ScriptInterrupt never(fe, {});
  EXPECT_FALSE(REK_ADD(areas, 2, &never));
  EXPECT_EQ(fe.tones(), 2);
  holder.unlock(table::kLockBase, 1);
  EXPECT_TRUE(REK_ADD(areas, 2, &never));
  EXPECT_EQ(areas.current()->record_count(), 6u);
}

}  // namespace
}  // namespace zuv::tables::testing
