// Writes that an exclusive table lets wait: a walk that changes a record here and
// there, records appended between look-ups of others, and index pages of a file the
// change watcher keeps whole. Each must arrive whole, and a failed write must not lose
// any of them.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/error/error.h"
#include "platform/os/change_guard.h"
#include "platform/os/fault.h"
#include "platform/table/index_check.h"
#include "platform/table/order.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

using namespace zuv::testing;
using Quiet = QuietErrors;


// A watcher that keeps every file, as the upgrade's keeper does inside a firm's steps.
struct KeepingAll : os::ChangeWatcher {
  int before_change(const std::string&, os::Change, const os::FileHandle*) override { return 0; }
  bool keeps(const std::string&) override { return true; }
};
struct Watching {
  explicit Watching(os::ChangeWatcher* w) { os::change_guard::watch(w); }
  ~Watching() { os::change_guard::watch(nullptr); }
};

std::unique_ptr<Table> open_table(const std::string& path) {
  OpenOptions o;
  o.path = path;
  return Table::open(o);
}

// Names of one width: a shorter one would find a longer one by its beginning.
std::string name_of(int i) {
  std::string digits = std::to_string(i * 7919 % 100003);
  return "n" + std::string(6 - digits.size(), '0') + digits;
}

// A table of count records: a name, a counter and a filler that makes records long.
void make_table(const std::string& dbf, int count) {
  ASSERT_TRUE(Table::create(dbf, {{"NAZWA", 'C', 10, 0}, {"ILE", 'N', 6, 0}, {"OPIS", 'C', 80, 0}}));
  auto t = open_table(dbf);
  ASSERT_TRUE(t);
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(t->append());
    ASSERT_TRUE(t->put(0, Value::of_text(name_of(i))));
    ASSERT_TRUE(t->put(1, Value::of_number(i)));
    ASSERT_TRUE(t->put(2, Value::of_text(std::string(40, char('a' + i % 26)))));
  }
  t->close();
}

// Every record's counter, in record order.
std::vector<double> counters(const std::string& dbf) {
  auto t = open_table(dbf);
  std::vector<double> out;
  for (t->go_top(); !t->eof(); t->skip()) out.push_back(t->get(1).number);
  return out;
}

TEST(WriteBack, AWalkChangingRecordsHereAndThereChangesThoseAndNoOtherByte) {
  // Records that fit the window the table keeps: every write waits for the commit.
  constexpr std::uint32_t kRecords = 600;
  TableTempDir dir;
  const std::string dbf = dir.file("rzadko.dbf");
  make_table(dbf, kRecords);
  const std::string before = table_read_bytes(dbf);
  // Changed records close together and far apart, at a window's edges too.
  auto changed = [](std::uint32_t r) { return r % 97 == 0 || r % 500 < 3 || (r > 300 && r < 306) || r == 1 || r == kRecords; };
  for (int failing_write = 0; failing_write <= 6; ++failing_write) {
    table_write_bytes(dbf, before);
    auto t = open_table(dbf);
    ASSERT_TRUE(t);
    {
      Quiet quiet;
      os::fault::Scope scope;
      for (t->go_top(); !t->eof(); t->skip()) {
        if (changed(t->recno())) {
          ASSERT_TRUE(t->put(1, Value::of_number(-double(t->recno()))));
        }
      }
      // The n-th write fails once: the records stay waiting and go with the next commit.
      if (failing_write) os::fault::arm(os::fault::Op::Write, failing_write, kDiskFull);
      EXPECT_EQ(t->commit(), failing_write == 0);
      os::fault::disarm();
    }
    ASSERT_TRUE(t->commit());
    t->close();
    const std::string after = table_read_bytes(dbf);
    ASSERT_EQ(after.size(), before.size());
    const std::vector<double> got = counters(dbf);
    ASSERT_EQ(got.size(), kRecords);
    for (std::uint32_t r = 1; r <= kRecords; ++r)
      ASSERT_EQ(got[r - 1], changed(r) ? -double(r) : double(r - 1)) << "record " << r << ", failing write " << failing_write;
    // Outside the changed records' counters, only the header's date may differ.
    auto t2 = open_table(dbf);
    const std::size_t header = t2->header_length(), length = t2->record_length();
    for (std::uint32_t r = 1; r <= kRecords; ++r) {
      if (!changed(r)) {
        ASSERT_EQ(after.compare(header + (r - 1) * length, length, before, header + (r - 1) * length, length), 0)
            << "record " << r;
      }
    }
  }
}

// Adds one to a name's counter, appending the name when the index does not know it.
void count_name(Table& t, const std::string& name) {
  if (t.seek(Value::of_text(name), false)) {
    ASSERT_TRUE(t.put(1, Value::of_number(t.get(1).number + 1)));
    return;
  }
  ASSERT_TRUE(t.append());
  ASSERT_TRUE(t.put(0, Value::of_text(name)));
  ASSERT_TRUE(t.put(1, Value::of_number(1)));
}

// Counts names into an indexed table as the per-taxpayer summary does; the model holds
// what the table must say.
std::map<std::string, int> count_names(const std::string& dbf, const std::string& cdx) {
  std::map<std::string, int> model;
  auto t = open_table(dbf);
  EXPECT_TRUE(t && ORDCREATE(*t, cdx, "naz", "NAZWA"));
  EXPECT_TRUE(t->set_order_focus("naz"));
  for (int i = 0; i < 3000; ++i) {
    const std::string name = name_of(i * 37 % 1100);
    count_name(*t, name);
    ++model[name];
  }
  t->close();
  return model;
}

void expect_counts(const std::string& dbf, const std::map<std::string, int>& model) {
  auto t = open_table(dbf);
  ASSERT_TRUE(t && attach_structural_index(*t) && t->set_order_focus("naz"));
  EXPECT_EQ(t->record_count(), model.size());
  for (const auto& [name, count] : model) {
    ASSERT_TRUE(t->seek(Value::of_text(name), false)) << name;
    EXPECT_EQ(t->get(1).number, count) << name;
  }
  t->close();
  CheckReport report;
  check_table(dbf, report);
  EXPECT_EQ(report.text(), "");
}

TEST(WriteBack, RecordsAppendedBetweenLookupsAndTheirKeysAllArriveKeptOrNot) {
  TableTempDir plain_dir, kept_dir;
  const std::string plain = plain_dir.file("nip.dbf"), kept = kept_dir.file("nip.dbf");
  make_table(plain, 0);
  make_table(kept, 0);
  const std::map<std::string, int> model = count_names(plain, plain_dir.file("nip.cdx"));
  expect_counts(plain, model);
  // Under a watcher that keeps the files, the index pages wait for the close: the files
  // must come out byte for byte as without it, apart from the header's date.
  KeepingAll keeper;
  {
    Watching watching(&keeper);
    EXPECT_EQ(count_names(kept, kept_dir.file("nip.cdx")), model);
  }
  expect_counts(kept, model);
  EXPECT_EQ(table_read_bytes(kept_dir.file("nip.cdx")), table_read_bytes(plain_dir.file("nip.cdx")));
  EXPECT_EQ(table_read_bytes(kept).substr(32), table_read_bytes(plain).substr(32));
}

TEST(WriteBack, AnIndexWhoseWaitingPagesCannotBeWrittenSaysSoAtTheClose) {
  TableTempDir dir;
  const std::string dbf = dir.file("nip.dbf"), cdx = dir.file("nip.cdx");
  make_table(dbf, 0);
  KeepingAll keeper;
  Watching watching(&keeper);
  auto t = open_table(dbf);
  ASSERT_TRUE(t && ORDCREATE(*t, cdx, "naz", "NAZWA") && t->set_order_focus("naz"));
  for (int i = 0; i < 200; ++i) count_name(*t, name_of(i));
  int raised = 0;
  {
    ScopedHandler count([&](ErrorRecord& r) {
      if (r.fileName.find(".cdx") != std::string::npos) ++raised;
      return HandlerAnswer::Default;
    });
    os::fault::Scope scope;
    // Every write fails: the table's records and the index's pages alike.
    os::fault::arm_from(os::fault::Op::Write, 1, kDiskFull);
    t->close();
    os::fault::disarm();
  }
  EXPECT_GT(raised, 0);
}

}  // namespace
}  // namespace zuv::table
