// The 32-bit limits of index files: a damaged undo journal and a file at 4 GB are
// refused, never read or written out of place.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/table/ntx.h"
#include "platform/index/index_test_support.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

using zuv::testing::table_read_bytes;
using zuv::testing::table_read_head;
using zuv::testing::table_write_bytes;

std::string make_ntx(const std::string& path) {
  VectorKeyStream keys({{"alpha", 1}, {"beta", 2}, {"gamma", 3}});
  ntx::NtxFile::create(path, "X", KeyType::Character, 20, 0, false, keys);
  return table_read_bytes(path);
}

std::string le(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += char(v >> (8 * i));
  return s;
}

// A writer died while overwriting the root page: the journal holds its old bytes in
// two records, the second cut short (40 bytes present) with a length field of
// `length`. Only a record whose bytes are all there is put back; the rest of the
// journal is damaged and left alone, and the file is cut to its old size. With a
// 32-bit size_t the lengths near 4 GB once wrapped the bounds check.
TEST(IndexLimits, AJournalRecordWithADamagedLengthIsNeverPutBack) {
  std::string dir = testing::scratch_dir("limits_journal");
  std::string path = dir + "/j.ntx";
  const std::string good = make_ntx(path);
  std::string scribbled = good;
  for (size_t i = 1024; i < 1080; ++i) scribbled[i] = '\xEE';
  scribbled += std::string(ntx::kPageSize, '\0');  // grown before it died
  std::string tail_undone = good;
  for (size_t i = 1040; i < 1080; ++i) tail_undone[i] = '\xEE';

  struct Case {
    uint32_t length;
    const std::string& expected;
  };
  for (const Case& c : {Case{40, good}, Case{41, tail_undone}, Case{0xFFFFFFF0u, tail_undone},
                        Case{0xFFFFFFFFu, tail_undone}, Case{0xFFFFFFC8u, tail_undone}}) {
    SCOPED_TRACE(c.length);
    std::string journal = "ZUVUNDO1" + le(good.size(), 8);
    journal += le(1024, 8) + le(16, 4) + good.substr(1024, 16);
    journal += le(1040, 8) + le(c.length, 4) + good.substr(1040, 40);
    table_write_bytes(path, scribbled);
    table_write_bytes(path + ".zuvundo", journal);
    EXPECT_NO_THROW(ntx::NtxFile::open(path, true));
    EXPECT_TRUE(table_read_bytes(path) == c.expected) << "the file is not as the journal should leave it";
  }
}

TEST(IndexLimits, AnNtxAtFourGigabytesRefusesANewPageAndKeepsItsHeader) {
  std::string dir = testing::scratch_dir("limits_ntx4g");
  std::string path = dir + "/big.ntx";
  make_ntx(path);
  // Sparse: only the first pages take room on the disk.
  const uint64_t four_gb = uint64_t(1) << 32;
  std::filesystem::resize_file(std::filesystem::path(path), four_gb);
  const std::string header = table_read_head(path, ntx::kPageSize);
  std::string error;
  {
    auto f = ntx::NtxFile::open(path, true);
    try {
      // Enough keys to split the root, which takes a new page.
      for (uint32_t r = 10; r < 200; ++r)
        f->all_or_nothing([&] { f->insert("key" + std::to_string(r), r); });
    } catch (const IndexError& e) {
      error = e.what();
    }
  }
  EXPECT_NE(error.find("Plik indeksu przekroczył 4 GB"), std::string::npos) << error;
  EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(path)), four_gb);
  EXPECT_TRUE(table_read_head(path, ntx::kPageSize) == header) << "the header changed";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zuv::table
