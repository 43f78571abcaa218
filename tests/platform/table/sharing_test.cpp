// Sharing between handles and between processes: exclusive against everything, shared
// with shared, record locks one holder at a time, and every lock gone with its holder.
#include <gtest/gtest.h>

#include "platform/os/file_handle.h"
#include "platform/table/table.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::TableChild;
using zuv::testing::TableTempDir;

struct OpenResult {
  std::unique_ptr<Table> table;
  int os_code = 0;
};

OpenResult try_open(const std::string& path, bool shared) {
  OpenResult r;
  ScopedHandler h([&](ErrorRecord& e) {
    EXPECT_EQ(e.genCode, 71);
    r.os_code = e.osCode;
    return HandlerAnswer::Default;
  });
  OpenOptions o;
  o.path = path;
  o.shared = shared;
  r.table = Table::open(o);
  return r;
}

class Sharing : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("wspolna.dbf");
    ASSERT_TRUE(Table::create(path, {{"NR", 'N', 6, 0}, {"OPIS", 'M', 10, 0}}));
    OpenOptions o;
    o.path = path;
    auto t = Table::open(o);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_TRUE(t->append());
      EXPECT_TRUE(t->put(0, Value::of_number(i)));
    }
  }
  // Starts zuv-dbtool holding the table; false (test skipped) when the tool is missing.
  bool hold(TableChild& child, bool shared, unsigned rlock = 0) {
    std::string tool = zuv::testing::table_tool_path("zuv-dbtool");
    if (tool.empty()) return false;
    ready = dir.file("ready" + std::to_string(++n));
    stop = dir.file("stop" + std::to_string(n));
    std::vector<std::string> args = {tool, "hold", path, "--ready", ready, "--stop", stop};
    if (shared) args.push_back("--shared");
    if (rlock) args.insert(args.end(), {"--rlock", std::to_string(rlock)});
    EXPECT_TRUE(child.start(args));
    EXPECT_TRUE(zuv::testing::table_wait_for_file(ready, 30000));
    return true;
  }
  void release(TableChild& child) {
    zuv::testing::table_write_bytes(stop, "");
    EXPECT_EQ(child.wait(), 0);
  }
  TableTempDir dir;
  std::string path, ready, stop;
  int n = 0;
};

TEST_F(Sharing, OpensInOneProcessFollowTheShareRules) {
  auto a = try_open(path, true);
  ASSERT_TRUE(a.table);
  auto b = try_open(path, true);
  ASSERT_TRUE(b.table);
  auto c = try_open(path, false);
  EXPECT_FALSE(c.table);
  EXPECT_EQ(c.os_code, 32);
  a.table.reset();
  b.table.reset();
  auto d = try_open(path, false);
  ASSERT_TRUE(d.table);
  auto e = try_open(path, true);
  EXPECT_FALSE(e.table);
  EXPECT_EQ(e.os_code, 32);
}

TEST_F(Sharing, RecordLocksExcludeOtherHoldersAndEndWithTheHandle) {
  auto a = try_open(path, true).table;
  auto b = try_open(path, true).table;
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->rlock(2));
  EXPECT_FALSE(b->rlock(2));
  EXPECT_TRUE(b->rlock(3));
  a->unlock(2);
  EXPECT_TRUE(b->rlock(2));
  b.reset();
  EXPECT_TRUE(a->rlock(2));
}

TEST_F(Sharing, AppendsFromTwoHandlesNeverOverwriteEachOther) {
  auto a = try_open(path, true).table;
  auto b = try_open(path, true).table;
  ASSERT_TRUE(a && b);
  for (int i = 0; i < 20; ++i) {
    Table& t = i % 2 ? *a : *b;
    ASSERT_TRUE(t.append());
    ASSERT_FALSE(t.net_error());
    ASSERT_TRUE(t.put(0, Value::of_number(100 + i)));
    ASSERT_TRUE(t.put(1, Value::of_memo("opis " + std::to_string(i))));
    EXPECT_TRUE(t.commit());
  }
  a.reset();
  b.reset();
  auto t = try_open(path, false).table;
  ASSERT_EQ(t->record_count(), 23u);
  for (int i = 0; i < 20; ++i) {
    t->go_to(4 + i);
    EXPECT_EQ(t->get(0).number, 100 + i);
    EXPECT_EQ(t->get(1).text, "opis " + std::to_string(i));
  }
}

TEST_F(Sharing, CommittedAppendIsSeenByAnotherReaderAtOnce) {
  auto writer = try_open(path, true).table;
  auto reader = try_open(path, true).table;
  ASSERT_TRUE(writer->append());
  EXPECT_TRUE(writer->put(0, Value::of_number(77)));
  EXPECT_TRUE(writer->commit());
  EXPECT_EQ(reader->record_count(), 4u);
  reader->go_bottom();
  EXPECT_EQ(reader->get(0).number, 77);
  // A record changed and stored by one handle reads back changed once locked.
  writer->go_to(1);
  writer->rlock();
  EXPECT_TRUE(writer->put(0, Value::of_number(-1)));
  writer->unlock();
  reader->go_to(1);
  EXPECT_EQ(reader->get(0).number, -1);
}

TEST_F(Sharing, AnotherProcessHoldingExclusivelyRefusesEveryOpen) {
  TableChild child;
  if (!hold(child, false)) GTEST_SKIP() << "zuv-dbtool not built";
  EXPECT_EQ(try_open(path, true).os_code, 32);
  EXPECT_EQ(try_open(path, false).os_code, 32);
  release(child);
  EXPECT_TRUE(try_open(path, false).table);
}

TEST_F(Sharing, AnotherProcessHoldingSharedAllowsSharedOnly) {
  TableChild child;
  if (!hold(child, true, 2)) GTEST_SKIP() << "zuv-dbtool not built";
  EXPECT_EQ(try_open(path, false).os_code, 32);
  auto t = try_open(path, true).table;
  ASSERT_TRUE(t);
  EXPECT_FALSE(t->rlock(2));  // the other process holds it
  EXPECT_TRUE(t->rlock(1));
  t->unlock();
  release(child);
  EXPECT_TRUE(t->rlock(2));
}

TEST_F(Sharing, LocksEndWhenTheHolderDies) {
  TableChild child;
  if (!hold(child, true, 3)) GTEST_SKIP() << "zuv-dbtool not built";
  auto t = try_open(path, true).table;
  ASSERT_TRUE(t);
  EXPECT_FALSE(t->rlock(3));
  child.kill();
  child.wait();
  EXPECT_TRUE(t->rlock(3));
  t.reset();
  EXPECT_TRUE(try_open(path, false).table);
}

}  // namespace
}  // namespace zuv::table
