// Work in a child process: its answer comes back, a child that dies answers nothing, and
// a file the parent held exclusively is free as soon as the parent lets it go, even
// while the child still runs.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <cstdlib>
#include <string>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/os/child_work.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

using test::ScratchDir;
using test::write_all;

TEST(ChildWork, AnswersComeBackAndADeadChildAnswersNothing) {
  if (!child_work_available()) GTEST_SKIP() << "no child processes on this system";
#ifndef _WIN32
  const pid_t parent = ::getppid();
#endif
  ChildWork a, b;
  const std::string big(200000, 'x');  // more than a pipe holds at once
  ASSERT_TRUE(a.start([] { return std::string("D"); }));
  ASSERT_TRUE(b.start([&] { return big; }));
  EXPECT_EQ(b.wait(), big);
  EXPECT_EQ(a.wait(), "D");
  EXPECT_EQ(a.wait(), std::nullopt);  // waited for already

  ChildWork dies, throws;
  ASSERT_TRUE(dies.start([]() -> std::string { std::abort(); }));
  EXPECT_EQ(dies.wait(), std::nullopt);
  // An exception ends the child there; it never comes back into this test's code
  // (where it would go on as a second copy of the test).
  ASSERT_TRUE(throws.start([]() -> std::string { throw std::runtime_error("x"); }));
#ifndef _WIN32
  if (::getppid() != parent) ::_exit(0);
#endif
  EXPECT_EQ(throws.wait(), std::nullopt);
}

TEST(ChildWork, FileHeldByTheParentIsFreeOnceTheParentLetsItGo) {
  if (!child_work_available()) GTEST_SKIP() << "no child processes on this system";
  ScratchDir dir;
  const std::string path = native_path(dir.path() + "nazwy.dbf");
  write_all(dir.path() + "nazwy.dbf", "x");
  FileHandle held;
  ASSERT_EQ(held.open(path, Access::ReadWrite, Share::Exclusive), 0);
  ChildWork child;
  ASSERT_TRUE(child.start([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return std::string("D");
  }));
  held.close();
  FileHandle again;
  EXPECT_EQ(again.open(path, Access::ReadWrite, Share::Exclusive), 0);
  EXPECT_EQ(child.wait(), "D");
}

}  // namespace
}  // namespace zuv::os
