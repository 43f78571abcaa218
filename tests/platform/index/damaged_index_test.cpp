// Damaged index files: the reader answers with a clear error (never a crash or an
// endless walk) and the checker names the fault with its file and page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/table/cdx.h"
#include "platform/table/index_check.h"
#include "platform/table/ntx.h"
#include "platform/index/index_test_support.h"

namespace zuv::table {
namespace {

using testing::copy_vector;
using testing::scratch_dir;

void patch(const std::string& path, uint64_t off, std::vector<uint8_t> bytes) {
  std::fstream f(std::filesystem::path(path), std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(off));
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// Opens and walks every tag both ways; answers the error text ("" when none came).
std::string read_all_cdx(const std::string& path) {
  try {
    auto f = cdx::CdxFile::open(path, false);
    for (size_t i = 0; i < f->tag_count(); ++i) {
      cdx::Tag& t = f->tag(i);
      cdx::Cursor c;
      size_t n = 0;
      for (bool ok = t.first(c); ok; ok = t.next(c)) {
        if (++n > 1000000) return "endless walk";
      }
      for (bool ok = t.last(c); ok; ok = t.prev(c)) {
        if (++n > 2000000) return "endless walk";
      }
      t.seek("00001000", 0, c);
    }
  } catch (const IndexError& e) {
    return e.what();
  }
  return "";
}

struct CdxDamage {
  const char* name;
  uint64_t offset;  // in faktury.cdx
  std::vector<uint8_t> bytes;
};

class DamagedCdx : public ::testing::TestWithParam<CdxDamage> {};

// Tag LPP of faktury.cdx: header at 0x600, root 0x5000, first interior 0xE00,
// leaves 0xA00, 0xC00, ... linked left to right.
TEST_P(DamagedCdx, GivesAClearErrorAndTheCheckerNamesThePlace) {
  const auto& d = GetParam();
  std::string dir = scratch_dir(std::string("damaged_") + d.name);
  std::string path = copy_vector("faktury.cdx", dir);
  patch(path, d.offset, d.bytes);
  std::string error = read_all_cdx(path);
  EXPECT_NE(error, "") << "the damage went unnoticed";
  EXPECT_NE(error, "endless walk");
  CheckReport report;
  check_cdx(path, "", report);
  ASSERT_FALSE(report.clean());
  EXPECT_NE(report.text().find("faktury.cdx"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedCdx,
    ::testing::Values(CdxDamage{"root_past_end", 0x600, le32(0x7FFFFE00)},
                      CdxDamage{"root_unaligned", 0x600, le32(0x5001)},
                      CdxDamage{"sibling_loop", 0xC00 + 8, le32(0xA00)},
                      CdxDamage{"sibling_past_end", 0xC00 + 8, le32(0x10000000)},
                      CdxDamage{"key_length_zero", 0x600 + 12, {0, 0}},
                      CdxDamage{"key_length_huge", 0x600 + 12, {0xF4, 0x01}},
                      CdxDamage{"entry_bytes_zero", 0xA00 + 23, {0}},
                      CdxDamage{"bit_widths_too_wide", 0xA00 + 20, {30, 9, 9}},
                      CdxDamage{"leaf_count_huge", 0xA00 + 2, {0xFF, 0x7F}},
                      CdxDamage{"page_kind", 0xE00, {7, 0}},
                      CdxDamage{"child_is_itself", 0x5000 + 12 + 8 + 4, {0, 0, 0x50, 0}},
                      CdxDamage{"directory_points_outside", 0x400 + 24, {0xFF, 0xFF, 0xFF}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DamagedCdxFile, TruncatedAndEmptyFilesAreRefused) {
  std::string dir = scratch_dir("damaged_truncated");
  std::string path = copy_vector("small.cdx", dir);
  std::filesystem::resize_file(std::filesystem::path(path), 1000);
  EXPECT_NE(read_all_cdx(path), "");
  std::filesystem::resize_file(std::filesystem::path(path), 0);
  EXPECT_NE(read_all_cdx(path), "");
  EXPECT_THROW(cdx::CdxFile::open(dir + "/brak.cdx", false), IndexError);
}

std::string read_all_ntx(const std::string& path) {
  try {
    auto f = ntx::NtxFile::open(path, false);
    ntx::NtxFile::Cursor c;
    size_t n = 0;
    for (bool ok = f->first(c); ok; ok = f->next(c)) {
      if (++n > 100000) return "endless walk";
    }
    for (bool ok = f->last(c); ok; ok = f->prev(c)) {
      if (++n > 200000) return "endless walk";
    }
  } catch (const IndexError& e) {
    return e.what();
  }
  return "";
}

TEST(DamagedNtx, BadHeadersPagesAndLoopsGiveClearErrors) {
  std::string dir = scratch_dir("damaged_ntx");
  struct Case {
    uint64_t off;
    std::vector<uint8_t> bytes;
  };
  // ntx1_lpp.ntx: root at 0xE000, its first child 0x400.
  std::vector<Case> cases = {
      {4, le32(0x100000)},          // root past the end
      {14, {0, 0}},                 // key size 0
      {18, {0xFF, 0}},              // more items than a page holds
      {0xE000, {0xFF, 0}},          // a page count above the maximum
      {0xE000 + 2, {0xF8, 0x03}},   // an item offset past the page
      {0xE000 + 112, le32(0xE000)}, // a child that is its own parent
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string path = dir + "/c" + std::to_string(i) + ".ntx";
    std::filesystem::copy_file(std::filesystem::path(testing::vector_path("ntx1_lpp.ntx")), path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    patch(path, cases[i].off, cases[i].bytes);
    std::string error = read_all_ntx(path);
    EXPECT_NE(error, "") << "case " << i;
    EXPECT_NE(error, "endless walk") << "case " << i;
    CheckReport report;
    check_ntx(path, "", report);
    EXPECT_FALSE(report.clean()) << "case " << i;
  }
}

TEST(Checker, ReferenceFilesAreCleanAndAKeyThatDisagreesWithItsRecordIsFound) {
  CheckReport clean;
  check_path(testing::vector_path(""), clean);
  EXPECT_TRUE(clean.clean()) << clean.text();
  EXPECT_GE(clean.files.size(), 10u);
  // A stored key byte changed: structure intact, content wrong.
  std::string dir = scratch_dir("checker_content");
  std::string dbf = copy_vector("small.dbf", dir);
  copy_vector("small.fpt", dir);
  std::string path = copy_vector("small.cdx", dir);
  patch(path, 0xA00 + 511, {'9'});  // the last stored byte of the lpp leaf
  CheckReport report;
  check_table(dbf, report);
  ASSERT_FALSE(report.clean());
  EXPECT_NE(report.text().find("znacznik LPP"), std::string::npos) << report.text();
}

}  // namespace
}  // namespace zuv::table
