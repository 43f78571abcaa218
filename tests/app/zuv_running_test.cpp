// The running-program check, against real processes started under the suite's names.
#include "app/zuv_running.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "platform/os/codepage.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zuv::app {
namespace {

namespace fs = std::filesystem;

// A waiting program copied to dir/name and started; stopped when the object goes.
class Sleeper {
 public:
#ifdef _WIN32
  Sleeper(const fs::path& dir, const std::string& name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    fs::path helper = fs::path(self).parent_path() / "zuv-testsleep.exe";
    if (!fs::exists(helper)) {
      ADD_FAILURE() << "build the target zuv-testsleep first: " << helper.string();
      return;
    }
    fs::create_directories(dir);
    fs::path exe = dir / os::widen(name);
    fs::copy_file(helper, exe, fs::copy_options::overwrite_existing);
    std::wstring cmd = L"\"" + exe.wstring() + L"\" 60";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
      ADD_FAILURE() << "cannot start " << exe.string();
  }
  ~Sleeper() {
    if (pi_.hProcess) {
      TerminateProcess(pi_.hProcess, 0);
      WaitForSingleObject(pi_.hProcess, 10000);
      CloseHandle(pi_.hThread);
      CloseHandle(pi_.hProcess);
    }
  }

 private:
  PROCESS_INFORMATION pi_{};
#else
  // argv0 differs from the file name when given (as Wine shows a Windows program).
  Sleeper(const fs::path& dir, const std::string& name, const std::string& argv0 = "") {
    fs::create_directories(dir);
    fs::path exe = dir / name;
    fs::copy_file("/bin/sleep", exe, fs::copy_options::overwrite_existing);
    std::string a0 = argv0.empty() ? exe.string() : argv0;
    pid_ = fork();
    if (pid_ == 0) {
      execl(exe.c_str(), a0.c_str(), "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    // The child is running our image until exec; wait until it shows the new one (a
    // sanitizer's process under load takes its time to fork).
    for (int i = 0; i < 3000; ++i) {
      std::error_code ec;
      if (fs::read_symlink("/proc/" + std::to_string(pid_) + "/exe", ec) == exe) break;
      usleep(10000);
    }
  }
  ~Sleeper() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
#endif
 public:
  Sleeper(const Sleeper&) = delete;
  Sleeper& operator=(const Sleeper&) = delete;
};

// One test, so that no other case of ours runs a "zuv.exe" beside it.
TEST(ZuvRunning, ExecutableNameZuvExeInAnyCaseCountsOtherNamesDoNot) {
  // Per process, so that two runs of this test on one machine do not share copies.
  fs::path dir = fs::temp_directory_path() / ("zuv-running-test-" + std::to_string(
#ifdef _WIN32
                                                                      GetCurrentProcessId()
#else
                                                                      ::getpid()
#endif
                                                                          ));
  std::error_code ec;
  fs::remove_all(dir, ec);
  ASSERT_FALSE(IS_ZUV_RUN(0)) << "a ZUV program already runs on this machine";
  {
    Sleeper lower(dir / "a", "zuv.exe");
    EXPECT_TRUE(IS_ZUV_RUN(0)) << "zuv.exe";
  }
  EXPECT_FALSE(IS_ZUV_RUN(0)) << "after zuv.exe ended";
  {
    Sleeper upper(dir / "b", "ZUV.EXE");
    EXPECT_TRUE(IS_ZUV_RUN()) << "ZUV.EXE, with the usual pause";
  }
  {
    Sleeper ksef(dir / "c", "zuv.ksef.exe");
    Sleeper near(dir / "d", "zuv.exe.bak");
    EXPECT_FALSE(IS_ZUV_RUN(0)) << "zuv.ksef.exe and zuv.exe.bak are other programs";
  }
#ifndef _WIN32
  {
    Sleeper under_wine(dir / "e", "wine-like", "C:\\Program Files\\Zuv\\Zuv.Exe");
    EXPECT_TRUE(IS_ZUV_RUN(0)) << "a Windows program under Wine is known by its argv[0]";
  }
#endif
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace zuv::app
