// A fresh directory per test, given as Windows text ending in '\'. On Linux it is the
// root of a drive of its own (T:, U:... mapped through ZUV_DRIVES), so every test also
// goes through the drive map. Removed with everything in it when the test ends.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/os/environment.h"
#include "platform/os/fault.h"
#include "platform/os/files.h"
#include "platform/os/path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zuv::test {

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
#ifdef _WIN32
    long pid = static_cast<long>(GetCurrentProcessId());
#else
    long pid = static_cast<long>(::getpid());
#endif
    std::filesystem::path base = std::filesystem::temp_directory_path();
    std::string leaf = "zuv-os-" + std::to_string(pid) + "-" + std::to_string(counter++);
    native_ = base / leaf;
    std::filesystem::remove_all(native_);
    std::filesystem::create_directories(native_);
#ifdef _WIN32
    std::u8string u8 = native_.u8string();
    path_ = std::string(u8.begin(), u8.end());
    if (path_.back() != '\\') path_ += '\\';
#else
    // Each live scratch directory is a drive of its own: T:, then U:, V:...
    static int live = 0;
    saved_drives_ = os::get_env("ZUV_DRIVES");
    char letter = static_cast<char>('T' + live++ % 7);
    os::set_env("ZUV_DRIVES", saved_drives_ + ";" + letter + "=" + native_.string());
    path_ = std::string(1, letter) + ":\\";
    live_ = &live;
#endif
  }
  ~ScratchDir() {
    os::fault::disarm();
    remove_tree(path_);
    std::error_code ec;
    std::filesystem::remove_all(native_, ec);
#ifndef _WIN32
    os::set_env("ZUV_DRIVES", saved_drives_);
    --*live_;
#endif
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Windows text of the directory, ending in '\'.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rest) const { return path_ + rest; }

 private:
  // Through our own layer, so read-only and hidden files go too.
  static void remove_tree(const std::string& dir) {
    for (const os::DirEntry& e : os::list_directory(dir + "*.*", "DHS")) {
      if (e.name == "." || e.name == "..") continue;
      std::string p = dir + e.name;
      EXPECT_TRUE(os::change_attributes(p, "-R-H-S").ok());
      if (e.attributes.find('D') != std::string::npos) {
        remove_tree(p + "\\");
        EXPECT_TRUE(os::remove_directory(p).ok());
      } else {
        EXPECT_TRUE(os::delete_file(p).ok());
      }
    }
  }

  std::filesystem::path native_;
  std::string path_;
#ifndef _WIN32
  std::string saved_drives_;
  int* live_ = nullptr;
#endif
};

// Test shorthands: whole-file read (independently of the layer under test) and write.
inline std::string read_all(const std::string& windows_path) {
  std::string native = os::native_path(windows_path);
  std::ifstream in(std::filesystem::path(std::u8string(native.begin(), native.end())), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void write_all(const std::string& windows_path, const std::string& data) {
  EXPECT_TRUE(os::write_file(windows_path, data).ok());
}

}  // namespace zuv::test
