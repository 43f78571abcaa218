// A writer killed at every file operation of appends and tag builds: what it leaves
// opens and reads right, with the checker, with Debian's own DBF reader and against
// what was written.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "platform/os/fault.h"
#include "platform/table/cdx.h"
#include "platform/table/index_check.h"
#include "platform/table/order.h"
#include "platform/table/table.h"
#include "support/table_support.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

using zuv::testing::table_read_bytes;
using zuv::testing::table_write_bytes;
using zuv::testing::TableTempDir;

constexpr std::uint32_t kFirst = 3, kAdded = 40;

// Names in no order and with little in common, so keys go everywhere in the tag and
// its pages split.
std::string name_of(std::uint32_t r) {
  return std::string(1, char('a' + (r * 7) % 26)) + std::to_string(100000 + (r * 7919u) % 900000) + "q" +
         std::string(1, char('a' + r % 26));
}
std::string field_of(std::uint32_t r) { return name_of(r) + std::string(12 - name_of(r).size(), ' '); }  // as NAZWA C(12) holds it
double amount_of(std::uint32_t r) { return r * 1.25; }
std::string memo_of(std::uint32_t r) { return std::string(10 + (r * 37) % 300, char('a' + r % 26)); }

struct Files {
  TableTempDir dir;
  std::string dbf = dir.file("crash.dbf"), fpt = dir.file("crash.fpt"), cdx = dir.file("crash.cdx");
  std::string saved_dbf, saved_fpt, saved_cdx;
  Files() {
    EXPECT_TRUE(Table::create(dbf, {{"NAZWA", 'C', 12, 0}, {"KWOTA", 'N', 10, 2}, {"UWAGI", 'M', 10, 0}}));
    auto t = open();
    for (std::uint32_t r = 1; r <= kFirst; ++r) put_record(*t, r);
    EXPECT_TRUE(ORDCREATE(*t, cdx, "naz", "NAZWA"));
    EXPECT_TRUE(ORDCREATE(*t, cdx, "kw", "str(KWOTA,10,2)"));
    t->close();
    saved_dbf = table_read_bytes(dbf);
    saved_fpt = table_read_bytes(fpt);
    saved_cdx = table_read_bytes(cdx);
  }
  void restore() {
    // The journal of a killed index change belongs to the files it was killed with.
    std::remove((cdx + ".zuvundo").c_str());
    table_write_bytes(dbf, saved_dbf);
    table_write_bytes(fpt, saved_fpt);
    table_write_bytes(cdx, saved_cdx);
  }
  std::unique_ptr<Table> open() {
    OpenOptions o;
    o.path = dbf;
    auto t = Table::open(o);
    if (t && !attach_structural_index(*t)) return nullptr;
    return t;
  }
  static void put_record(Table& t, std::uint32_t r) {
    EXPECT_TRUE(t.append());
    EXPECT_TRUE(t.put(0, Value::of_text(name_of(r))));
    EXPECT_TRUE(t.put(1, Value::of_number(amount_of(r))));
    EXPECT_TRUE(t.put(2, Value::of_memo(memo_of(r))));
  }
};

void append_work(Files& f) {
  auto t = f.open();
  for (std::uint32_t r = kFirst + 1; r <= kFirst + kAdded; ++r) {
    Files::put_record(*t, r);
    if (r % 7 == 0) {
      EXPECT_TRUE(t->commit());
    }
  }
  t->close();
}

void index_work(Files& f) {
  auto t = f.open();
  ORDCREATE(*t, f.cdx, "naz", "upper(NAZWA)+str(KWOTA,10,2)");
  t->close();
}

// Every file operation the work performs, counted once without a fault.
int operations_of(Files& f, const std::function<void(Files&)>& work) {
  os::fault::Scope scope;
  os::fault::start_counting();
  work(f);
  int n = 0;
  for (auto op : {os::fault::Op::Create, os::fault::Op::Write, os::fault::Op::Rename, os::fault::Op::Delete,
                  os::fault::Op::Copy})
    n += os::fault::counted(op);
  f.restore();
  return n;
}

// Runs work in a child process that dies (as by kill -9) just before operation k;
// answers the child's exit code (99: killed).
int run_killed(Files& f, int k, const std::function<void(Files&)>& work) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    set_program_handler([](ErrorRecord&) { return HandlerAnswer::Default; });
    os::fault::arm_kill(k);
    work(f);
    std::_Exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The checker's faults other than keys of records not counted yet.
std::string structural_faults(const std::string& dbf) {
  CheckReport report;
  check_table(dbf, report);
  std::string out;
  for (const auto& fault : report.faults)
    if (fault.message.find("spoza liczby rekordów") == std::string::npos) out += fault.message + "\n";
  return out;
}

// The table as another reader sees it: its count and each counted record's name.
std::string python_names(const std::string& dbf) {
  static const std::string python = zuv::testing::table_python_with({"dbfread"});
  if (python.empty()) return "";
  std::string out;
  zuv::testing::table_run({python, "-c",
                           "import sys, dbfread\n"
                           "t = dbfread.DBF(sys.argv[1], encoding='cp852', char_decode_errors='strict')\n"
                           "print(','.join(r['NAZWA'] for r in t))\n",
                           dbf},
                          &out);
  return out;
}

void check_after_append_kill(Files& f, int k) {
  SCOPED_TRACE("killed before operation " + std::to_string(k));
  auto t = f.open();
  ASSERT_TRUE(t);
  const std::uint32_t count = t->record_count();
  ASSERT_GE(count, kFirst);
  ASSERT_LE(count, kFirst + kAdded);
  for (std::uint32_t r = 1; r <= count; ++r) {
    t->go_to(r);
    ASSERT_EQ(t->get(0).text, field_of(r)) << r;
    ASSERT_DOUBLE_EQ(t->get(1).number, amount_of(r)) << r;
    ASSERT_EQ(t->get(2).text, memo_of(r)) << r;
  }
  // The tag walks every counted record once, whatever keys lead the count.
  ASSERT_TRUE(t->set_order_focus("naz"));
  std::uint32_t walked = 0;
  for (t->go_top(); !t->eof(); t->skip(1)) {
    ++walked;
    ASSERT_EQ(t->get(0).text, field_of(t->recno()));
  }
  EXPECT_EQ(walked, count);
  t->close();
  EXPECT_EQ(structural_faults(f.dbf), "");
  if (k % 32 == 0) {
    std::string names = python_names(f.dbf);
    if (!names.empty()) {
      std::string want;
      for (std::uint32_t r = 1; r <= count; ++r) want += (r > 1 ? "," : "") + name_of(r);
      EXPECT_EQ(names, want + "\n");
    }
  }
  // A rebuild of the indexes leaves nothing for the checker.
  if (k % 4 != 0) return;
  t = f.open();
  ASSERT_TRUE(t->rebuild_orders());
  t->close();
  CheckReport report;
  check_table(f.dbf, report);
  EXPECT_EQ(report.text(), "");
}

TEST(Crash, AWriterKilledAtAnyPointOfAppendsLeavesEveryCountedRecordWholeAndIndexed) {
  Files f;
  const int ops = operations_of(f, append_work);
  ASSERT_GT(ops, 20);
  for (int k = 1; k <= ops + 1; ++k) {
    f.restore();
    int rc = run_killed(f, k, append_work);
    ASSERT_EQ(rc, k <= ops ? 99 : 0) << k;
    check_after_append_kill(f, k);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(Crash, AWriterKilledAtAnyPointOfATagReplacementLeavesTheOldTagOrTheNew) {
  Files f;
  const int ops = operations_of(f, index_work);
  ASSERT_GT(ops, 3);
  for (int k = 1; k <= ops + 1; ++k) {
    SCOPED_TRACE("killed before operation " + std::to_string(k));
    f.restore();
    ASSERT_EQ(run_killed(f, k, index_work), k <= ops ? 99 : 0);
    auto file = cdx::CdxFile::open(f.cdx, false);
    std::set<std::string> names;
    for (size_t i = 0; i < file->tag_count(); ++i) names.insert(file->tag(i).name());
    EXPECT_EQ(names, (std::set<std::string>{"NAZ", "KW"}));
    file.reset();
    auto t = f.open();
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->set_order_focus("naz"));
    std::string seen;
    for (t->go_top(); !t->eof(); t->skip(1)) seen += std::to_string(t->recno());
    EXPECT_EQ(seen, "123");
    t->close();
    EXPECT_EQ(structural_faults(f.dbf), "");
  }
}

}  // namespace
}  // namespace zuv::table
#endif
