// The benchmarks' count of what goes to files: every way a file gets bytes is counted
// once, under the file it went to, and each name a new file comes to hold is listed in
// order.
#ifndef _WIN32
#include "platform/os/write_tally.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"

namespace zuv::os {
namespace {

namespace fs = std::filesystem;

TEST(WriteTally, CountsWritesCopiesAndReplacesOnceAndListsTheNamesMade) {
  const fs::path dir = fs::temp_directory_path() / ("zuv_tally_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string a = (dir / "a.dbf").string(), b = (dir / "b.dbf").string();

  write_tally::start();
  ASSERT_TRUE(write_durably(a, std::string(1000, 'x')));
  FileHandle h;
  ASSERT_EQ(h.open(a, Access::ReadWrite, Share::Exclusive), 0);
  ASSERT_EQ(h.write_at(10, "abcd", 4), 0);
  h.close();
  ASSERT_TRUE(copy_file(a, b));
  const write_tally::Totals t = write_tally::totals();
  write_tally::stop();
  ASSERT_EQ(h.open(a, Access::ReadWrite, Share::Exclusive), 0);
  ASSERT_EQ(h.write_at(0, "zz", 2), 0);  // counting stopped
  h.close();

  EXPECT_EQ(write_tally::totals().bytes, t.bytes);
  EXPECT_EQ(t.bytes, 1000u + 4u + 1000u);
  EXPECT_GE(t.syncs, 2u);  // the new file and its directory
  const std::vector<std::string> made = write_tally::made();
  ASSERT_GE(made.size(), 3u);
  EXPECT_EQ(made.front(), a + kNewSuffix);  // written beside
  EXPECT_EQ(made[made.size() - 2], a);      // renamed in
  EXPECT_EQ(made.back(), b);                // copied to
  EXPECT_EQ(write_tally::made(made.size()).size(), 0u);
  // By file: the new file's bytes under the name written beside, the rest by name.
  const std::map<std::string, std::uint64_t> by_file = write_tally::by_file();
  EXPECT_EQ(by_file, (std::map<std::string, std::uint64_t>{{a + kNewSuffix, 1000}, {a, 4}, {b, 1000}}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zuv::os
#endif
