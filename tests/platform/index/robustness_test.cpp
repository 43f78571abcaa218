// Failures half way through a write, unique tags, one compound file shared by two
// work areas, and the checker's table and memo rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/os/fault.h"
#include "platform/table/cdx.h"
#include "platform/table/index_build.h"
#include "platform/table/index_check.h"
#include "platform/table/index_dbf.h"
#include "platform/table/order.h"
#include "platform/index/index_test_support.h"

namespace zuv::table {
namespace {

using testing::copy_vector;
using testing::read_order;
using testing::scratch_dir;

std::string bytes_of(const std::string& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void patch(const std::string& path, uint64_t off, const std::string& bytes) {
  std::fstream f(std::filesystem::path(path), std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(off));
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

// Replacing a tag while the n-th write fails, for every n that the replacement makes:
// the file must stay clean with every tag complete (the old one or the new one).
TEST(IndexWriteFailures, AFailedTagReplacementLeavesEveryTagWhole) {
  std::string dir = scratch_dir("fail_replace");
  std::string dbf_path = copy_vector("small.dbf", dir);
  copy_vector("small.fpt", dir);
  const std::string original = bytes_of(testing::vector_path("small.cdx"));
  std::string cdx_path = dir + "/small.cdx";
  DbfRecords dbf;
  dbf.open(dbf_path);
  int writes = 0;
  {
    std::filesystem::copy_file(testing::vector_path("small.cdx"), cdx_path,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(cdx_path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    os::fault::Scope scope;
    os::fault::start_counting();
    auto cdx = cdx::CdxFile::open(cdx_path, true);
    build_cdx_tag(*cdx, dbf, "naz", "NAZWA");
    writes = os::fault::counted(os::fault::Op::Write);
  }
  ASSERT_GT(writes, 3);
  for (int n = 1; n <= writes; ++n) {
    {
      std::ofstream(std::filesystem::path(cdx_path), std::ios::binary | std::ios::trunc) << original;
    }
    bool failed = false;
    {
      os::fault::Scope scope;
      os::fault::arm(os::fault::Op::Write, n, 28);
      try {
        auto cdx = cdx::CdxFile::open(cdx_path, true);
        build_cdx_tag(*cdx, dbf, "naz", "NAZWA");
      } catch (const IndexError&) {
        failed = true;
      }
    }
    EXPECT_TRUE(failed) << "write " << n;
    CheckReport report;
    check_cdx(cdx_path, dbf_path, report);
    EXPECT_TRUE(report.clean()) << "failed write " << n << " of " << writes << "\n" << report.text();
  }
}

TEST(IndexWriteFailures, AFailedSingleKeyBuildLeavesTheOldFile) {
  std::string dir = scratch_dir("fail_ntx");
  std::string dbf_path = copy_vector("ntx1.dbf", dir);
  std::string ntx_path = copy_vector("ntx1_lpp.ntx", dir);
  const std::string before = bytes_of(ntx_path);
  DbfRecords dbf;
  dbf.open(dbf_path);
  for (auto [op, nth] : {std::pair{os::fault::Op::Write, 40}, {os::fault::Op::Rename, 1}}) {
    os::fault::Scope scope;
    os::fault::arm(op, nth, 112);
    EXPECT_THROW(build_ntx(ntx_path, dbf, "nazwa"), IndexError);
    EXPECT_FALSE(std::filesystem::exists(ntx_path + ".new"));
  }
  EXPECT_EQ(bytes_of(ntx_path), before);
  EXPECT_FALSE(std::filesystem::exists(ntx_path + ".new"));
}

TEST(UniqueTags, HoldTheFirstRecordOfEveryKeyAndStayCleanUnderInserts) {
  std::string dir = scratch_dir("unique");
  std::string dbf_path = copy_vector("faktury.dbf", dir);
  std::string cdx_path = dir + "/u.cdx";
  DbfRecords dbf;
  dbf.open(dbf_path);
  auto cdx = cdx::CdxFile::create(cdx_path);
  BuildOptions unique;
  unique.unique = true;
  cdx::Tag& t = build_cdx_tag(*cdx, dbf, "lpp", "LPP", unique);
  std::vector<uint32_t> want;
  std::string last;
  for (uint32_t r : read_order("faktury.lpp.order")) {
    dbf.read(r);
    std::string k = dbf.record().substr(1, 8);
    if (want.empty() || k != last) want.push_back(r);
    last = k;
  }
  std::vector<uint32_t> got;
  cdx::Cursor c;
  for (bool ok = t.first(c); ok; ok = t.next(c)) got.push_back(c.recno);
  EXPECT_EQ(got, want);
  t.insert("00000001", 99999);  // a key already there stays with its first record
  EXPECT_FALSE(t.contains("00000001", 99999));
  cdx.reset();
  CheckReport report;
  check_cdx(cdx_path, dbf_path, report);
  EXPECT_TRUE(report.clean()) << report.text();
}

TEST(SharedCompoundFile, TwoTablesOnOneFileSeeEachOthersKeys) {
  std::string dir = scratch_dir("shared_cdx");
  std::string a = copy_vector("small.dbf", dir);
  copy_vector("small.fpt", dir);
  std::string cdx = copy_vector("small.cdx", dir);
  OpenOptions o;
  o.path = a;
  o.shared = true;
  auto t1 = Table::open(o);
  auto t2 = Table::open(o);
  ASSERT_TRUE(t1 && t2);
  ASSERT_TRUE(ORDLISTADD(*t1, cdx));
  ASSERT_TRUE(ORDLISTADD(*t2, cdx));
  ASSERT_TRUE(t1->set_order_focus("lpp"));
  ASSERT_TRUE(t2->set_order_focus("lpp"));
  ASSERT_TRUE(t1->append());
  EXPECT_TRUE(t1->put("LPP", Value::of_text("00000077")));
  ASSERT_TRUE(t1->commit());
  EXPECT_TRUE(t2->seek(Value::of_text("00000077"), false));
  EXPECT_EQ(t2->recno(), 13u);
  EXPECT_TRUE(t2->put("LPP", Value::of_text("00000078")));
  ASSERT_TRUE(t2->commit());
  EXPECT_FALSE(t1->seek(Value::of_text("00000077"), false));
  EXPECT_TRUE(t1->seek(Value::of_text("00000078"), false));
  t1->close();
  t2->close();
  CheckReport report;
  check_table(a, report);
  EXPECT_TRUE(report.clean()) << report.text();
}

TEST(CheckerTables, RecordsFieldsAndMemoPointersAreChecked) {
  std::string dir = scratch_dir("checker_tables");
  std::string dbf = copy_vector("small.dbf", dir);
  std::string fpt = copy_vector("small.fpt", dir);
  const uint64_t rec1 = 258, rec2 = 258 + 74;
  patch(dbf, rec1 + 1 + 38, "2026X223");           // DATA of record 1
  patch(dbf, rec2, "#");                            // deletion flag of record 2
  patch(dbf, rec2 + 1 + 46, "    12a45.00");        // KWOTA of record 2
  patch(dbf, rec2 + 1 + 62, "Q");                   // OK of record 2
  patch(dbf, rec2 + 1 + 63, "    999999");          // UWAGI: a block past the memo file
  CheckReport report;
  check_path(dbf, report);
  std::string text = report.text();
  for (const char* want : {"rekord 1: pole DATA", "rekord 2: zły znacznik", "pole KWOTA", "pole OK", "blok memo 999999"})
    EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
  // A record count beyond the file.
  patch(dbf, 4, std::string("\xFF\x00\x00\x00", 4));
  CheckReport count;
  check_path(dbf, count);
  EXPECT_FALSE(count.clean());
  CheckReport missing;
  check_path(dir + "/brak.dbf", missing);
  EXPECT_FALSE(missing.clean());
}

}  // namespace
}  // namespace zuv::table

namespace zuv::table {
namespace {

// Two handles on one file stand for two processes: the reader's cached pages must
// give way once the writer's change counter moved.
TEST(SharedCompoundFile, AReaderNoticesChangesMadeThroughAnotherHandle) {
  std::string dir = scratch_dir("shared_handles");
  std::string path = copy_vector("faktury.cdx", dir);
  auto writer = cdx::CdxFile::open(path, true);
  auto reader = cdx::CdxFile::open(path, true);
  cdx::Tag* w = writer->find_tag("lpp");
  cdx::Tag* r = reader->find_tag("lpp");
  cdx::Cursor c;
  size_t before = 0;
  for (bool ok = r->first(c); ok; ok = r->next(c)) ++before;
  for (uint32_t i = 0; i < 400; ++i) w->insert("0000" + std::to_string(5000 + i), 30000 + i);
  writer->flush();
  r->sync_with_file();
  size_t after = 0;
  for (bool ok = r->first(c); ok; ok = r->next(c)) ++after;
  EXPECT_EQ(after, before + 400);
  EXPECT_TRUE(r->contains("00005399", 30399));
}

}  // namespace
}  // namespace zuv::table

namespace zuv::table {
namespace {

TEST(SharedCompoundFile, ChangesFromTwoHandlesTakeTurnsUnderTheUpdateLock) {
  std::string dir = scratch_dir("shared_lock");
  std::string path = copy_vector("small.cdx", dir);
  auto a = cdx::CdxFile::open(path, true);
  auto b = cdx::CdxFile::open(path, true);
  a->share_updates();
  b->share_updates();
  cdx::Tag* ta = a->find_tag("lpp");
  cdx::Tag* tb = b->find_tag("lpp");
  {
    cdx::CdxFile::UpdateLock held(*a, *ta);
    ta->insert("00000100", 100);
    EXPECT_THROW({ cdx::CdxFile::UpdateLock waits(*b, *tb); }, IndexError) << "the other handle must wait";
  }
  {
    cdx::CdxFile::UpdateLock turn(*b, *tb);  // re-reads what a wrote
    EXPECT_TRUE(tb->contains("00000100", 100));
    tb->insert("00000101", 101);
  }
  {
    cdx::CdxFile::UpdateLock turn(*a, *ta);
    EXPECT_TRUE(ta->contains("00000101", 101));
  }
  a.reset();
  b.reset();
  CheckReport report;
  check_cdx(path, "", report);
  EXPECT_TRUE(report.clean()) << report.text();
}

}  // namespace
}  // namespace zuv::table
