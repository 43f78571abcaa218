// The shell links as written on Linux: targets on a share, letters outside code page
// 1250, and damaged link files met on a desktop.
#ifndef _WIN32
#include "platform/os/shelllink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace zuv::os {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

class ShellLinkFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zuv-lnk-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(ShellLinkFile, TargetsOnASharedDriveAndBeyondTheAnsiCodePage) {
  struct Case {
    std::string target, shown_as;
  } cases[] = {
      {"\\\\serwer\\dane\\Zuv 2026\\zuv.exe", "Network path"},
      {"\\\\serwer\\dane", "Network path"},
      {"D:\\Учёт\\zuv.exe", "Local path"},  // Cyrillic: not in 1250, kept in Unicode
  };
  bool have_lnkinfo = std::system("command -v lnkinfo >/dev/null 2>&1") == 0;
  for (const Case& c : cases) {
    std::string file = (dir_ / "a.lnk").string();
    ASSERT_TRUE(create_shell_link(file, {c.target, "", "", ""}));
    auto back = read_shell_link(file);
    ASSERT_TRUE(back) << c.target;
    EXPECT_EQ(back->target, c.target);
    EXPECT_EQ(back->working_dir, "");
    EXPECT_EQ(back->arguments, "");
    EXPECT_EQ(back->description, "");
    if (have_lnkinfo) {
      std::string out = run("lnkinfo '" + file + "' 2>&1");
      EXPECT_NE(out.find(c.shown_as + "\t\t\t: " + c.target + "\n"), std::string::npos) << out;
      EXPECT_EQ(out.find("Description"), std::string::npos) << "empty fields are left out";
    }
  }
}

TEST_F(ShellLinkFile, DamagedLinkFilesAreRefusedWithoutHarm) {
  std::string file = (dir_ / "a.lnk").string();
  ASSERT_TRUE(create_shell_link(file, {"C:\\Zuv\\zuv.exe", "C:\\Zuv\\", "/NX", " Program ZUV na rok 2026"}));
  std::ifstream in(file, std::ios::binary);
  std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::string bad_file = (dir_ / "b.lnk").string();
  // Every truncation, and random damage, is read without reading past the data.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    std::ofstream(bad_file, std::ios::binary | std::ios::trunc) << good.substr(0, cut);
    auto l = read_shell_link(bad_file);
    // Only the final four bytes that close the file may be missing from a link read.
    if (cut < good.size() - 4) {
      EXPECT_FALSE(l) << "cut at " << cut;
    }
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string damaged = good;
    for (int k = 0; k < 4; ++k) damaged[rng() % damaged.size()] = static_cast<char>(rng());
    std::ofstream(bad_file, std::ios::binary | std::ios::trunc) << damaged;
    (void)read_shell_link(bad_file);
  }
  EXPECT_FALSE(read_shell_link((dir_ / "none.lnk").string()));
}

}  // namespace
}  // namespace zuv::os
#endif
