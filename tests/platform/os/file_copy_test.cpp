// A file copied through two handles: every byte arrives, whatever the size, and a write
// that fails stops the copy with its code.
#include <gtest/gtest.h>

#include <string>

#include "platform/os/fault.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
  return s;
}

TEST(FileCopy, EveryByteArrivesAtAnySize) {
  ScratchDir dir;
  for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(1) << 20, (std::size_t(5) << 20) / 2 + 7}) {
    SCOPED_TRACE(n);
    const std::string bytes = pattern(n);
    write_all(dir.path() + "z.dbf", bytes);
    write_all(dir.path() + "c.kop", std::string(3 << 20, 'x'));  // longer than the copy
    FileHandle in, out;
    ASSERT_EQ(in.open(native_path(dir.path() + "z.dbf"), Access::Read, Share::Shared), 0);
    ASSERT_EQ(out.create(native_path(dir.path() + "c.kop"), Share::Exclusive), 0);
    std::uint64_t copied = 0;
    ASSERT_EQ(out.copy_from(in, copied), 0);
    out.close();
    EXPECT_EQ(copied, n);
    EXPECT_TRUE(read_all(dir.path() + "c.kop") == bytes);
  }
}

TEST(FileCopy, AFailedWriteStopsTheCopyWithItsCode) {
  ScratchDir dir;
  write_all(dir.path() + "z.dbf", pattern(3 << 20));
  FileHandle in, out;
  ASSERT_EQ(in.open(native_path(dir.path() + "z.dbf"), Access::Read, Share::Shared), 0);
  ASSERT_EQ(out.create(native_path(dir.path() + "c.kop"), Share::Exclusive), 0);
  fault::Scope scope;
  fault::arm(fault::Op::Write, 2, oscode::kDiskFull);
  std::uint64_t copied = 0;
  EXPECT_EQ(out.copy_from(in, copied), oscode::kDiskFull);
  EXPECT_EQ(copied, std::uint64_t(1) << 20);
}

}  // namespace
}  // namespace zuv::os
