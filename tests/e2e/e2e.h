// Whole runs of the installer program as an operator starts it: from the release's
// directory, on a sample written by zuv-sample, unattended (--silent) or through the
// script front end with the main window. What a run leaves is read back by outside
// readers where the system has them (the registry editor under Wine, lnkinfo, unzip)
// and by the table engine for the database.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "sys/regedit_export.h"
#endif

#include "lib/text.h"
#include "platform/os/codepage.h"
#include "platform/os/path.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::e2e {

namespace fs = std::filesystem;
using zuv::testing::table_run;

inline const char* const kProgramVersion = "26.01.033";
inline const char* const kDatabaseVersion = "026.01.033";
inline const char* const kYear = "2026";

struct RunResult {
  int code = -1;
  std::string out;  // what the program printed on standard output
  std::string log;  // the --log file
};

inline fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

inline std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A program of the system (unzip, lnkinfo) and a file as it names it: under Wine the
// Linux program is started through drive Z: and given the Linux path of the file.
inline std::string system_tool(const std::string& name) {
#ifdef _WIN32
  std::string p = "Z:\\usr\\bin\\" + name;
  return fs::exists(path_of(p)) ? p : std::string();
#else
  std::string p = "/usr/bin/" + name;
  return fs::exists(p) ? p : std::string();
#endif
}

inline std::string system_path(const std::string& windows_text) {
#ifdef _WIN32
  using Fn = char*(CDECL*)(LPCWSTR);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!fn) return {};
  char* unix_name = fn(os::widen(windows_text).c_str());
  if (!unix_name) return {};
  std::string out = unix_name;
  HeapFree(GetProcessHeap(), 0, unix_name);
  return out;
#else
  return os::native_path(windows_text);
#endif
}

// Runs a program of the system on files named by their Windows text and answers what
// it printed. Wine hands a Linux child neither a pipe nor a process to wait on, so there
// the child is a shell that writes the output into a file of its own and renames it
// when done; the test waits for that file, so no child outlives its test (one that did
// could still be writing in the scratch directory while it is removed).
inline std::string run_system_tool(const std::string& name, const std::vector<std::string>& windows_files,
                                   const std::string& option, const std::string& scratch_win) {
  const std::string tool = system_tool(name);
  if (tool.empty()) return {};
#ifdef _WIN32
  static int runs = 0;
  const std::string out_win = scratch_win + "narzedzie-" + std::to_string(++runs) + ".txt";
  auto q = [](const std::string& a) { return "'" + a + "'"; };
  const std::string out = system_path(out_win);
  std::string line = "exec </dev/null; " + q("/usr/bin/" + name);
  if (!option.empty()) line += " " + q(option);
  for (const auto& f : windows_files) line += " " + q(system_path(f));
  line += " > " + q(out + ".tmp") + " 2>&1; mv " + q(out + ".tmp") + " " + q(out);
  if (out.empty() || !zuv::testing::table_start_detached({"Z:\\bin\\sh", "-c", line})) {
    ADD_FAILURE() << name << " could not be started through Z:";
    return {};
  }
  if (!zuv::testing::table_wait_for_file(out_win, 60000)) {
    ADD_FAILURE() << name << " did not finish within a minute";
    return {};
  }
  return read_all(path_of(out_win));
#else
  (void)scratch_win;
  std::vector<std::string> args = {tool};
  if (!option.empty()) args.push_back(option);
  for (const auto& f : windows_files) args.push_back(os::native_path(f));
  std::string out;
  table_run(args, &out);
  return out;
#endif
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    zuvinst_ = zuv::testing::table_tool_path("zuvinst");
    sample_ = zuv::testing::table_tool_path("zuv-sample");
    if (zuvinst_.empty() || sample_.empty()) GTEST_SKIP() << "zuvinst or zuv-sample not built";
#ifdef _WIN32
    root_win_ = tmp_.path() + "\\";
    // The operator's folders for the run are in the scratch directory: the program
    // reads them from the shell-folder values, which go back afterwards. The per-user
    // values are pointed there too: the shell writes the former back from them whenever
    // any program asks it for a folder, and Wine's services do that at any moment.
    desktop_ = root_win_ + "Pulpit\\";
    menu_ = root_win_ + "Menu\\";
    fs::create_directories(path_of(desktop_));
    fs::create_directories(path_of(menu_));
    for (const wchar_t* key : {kShellFolders, kUserShellFolders}) {
      for (const wchar_t* name : {L"Desktop", L"Programs"}) {
        SavedValue v;
        BYTE buf[2 * MAX_PATH * sizeof(wchar_t)] = {};
        DWORD size = sizeof buf;
        if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &v.type,
                         buf, &size) == ERROR_SUCCESS)
          v.data.assign(buf, buf + size);
        saved_folders_.push_back({key, name, v});
        std::wstring dir = os::widen(std::wstring(name) == L"Desktop" ? desktop_ : menu_);
        dir.pop_back();
        RegSetKeyValueW(HKEY_CURRENT_USER, key, name, key == kShellFolders ? REG_SZ : REG_EXPAND_SZ, dir.c_str(),
                        static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
      }
    }
    forget_installation();
#else
    // The run's drives, registry and operator folders live in the scratch directory.
    setenv("ZUV_DRIVE_ROOT", (tmp_.path() + "/drives").c_str(), 1);
    setenv("ZUV_REGISTRY_FILE", (tmp_.path() + "/registry.reg").c_str(), 1);
    setenv("USERPROFILE", "C:\\Users\\Operator", 1);
    root_win_ = "C:\\ZUV\\";
    desktop_ = "C:\\Users\\Operator\\Desktop\\";
    menu_ = "C:\\Users\\Operator\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
    fs::create_directories(os::native_path(desktop_));
    fs::create_directories(os::native_path(menu_));
    fs::create_directories(os::native_path(root_win_));
#endif
  }
  void TearDown() override {
#ifdef _WIN32
    forget_installation();
    for (const auto& [key, name, v] : saved_folders_) {
      if (v.data.empty())
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
      else
        RegSetKeyValueW(HKEY_CURRENT_USER, key, name, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    }
#endif
  }

  // zuv-sample into <root>\<name>\ with a few small firms; extra options go on.
  void make_sample(const std::string& name, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {sample_, "--out", here(name).string(), "--firms", "3", "--records", "40",
                                     "--db-path", win(name + "\\baza\\")};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string out;
    ASSERT_EQ(table_run(args, &out), 0) << out;
  }

  // The installer with the release's three parameters and these options, started in
  // the release directory of the sample `name`, as the operator starts it.
  RunResult install(const std::string& name, std::vector<std::string> options) {
    RunResult r;
    const fs::path log = here(name + "\\zuvinst.log");
    fs::remove(log);
    std::vector<std::string> args = {zuvinst_, kProgramVersion, kDatabaseVersion, kYear};
    args.insert(args.end(), options.begin(), options.end());
    if (options.size() > 0 && options[0] == "--silent") {
      args.push_back("--log");
      args.push_back(log.string());
    }
    const fs::path before = fs::current_path();
    fs::current_path(here(name + "\\release"));
    r.code = table_run(args, &r.out);
    fs::current_path(before);
    r.log = read_all(log);
    return r;
  }

  // A directory or file of the run as Windows text (what the program is given) and as
  // a path of this process (what the test reads).
  std::string win(const std::string& rel) const { return root_win_ + rel; }
  fs::path here(const std::string& rel) const { return local(win(rel)); }
  static fs::path local(const std::string& windows_text) {
#ifdef _WIN32
    return path_of(windows_text);
#else
    return fs::path(os::native_path(windows_text));
#endif
  }
  bool exists(const std::string& rel) const { return fs::exists(here(rel)); }

  // A field of the first record of a table, trimmed, in UTF-8.
  std::string field(const std::string& table_rel, const std::string& name) const {
    table::OpenOptions o;
    o.path = win(table_rel);
    o.shared = true;
    auto t = table::Table::open(o);
    if (!t) return "(nie otwiera się)";
    t->go_top();
    return lib::trim(os::utf8_from_852(t->get(name).text));
  }

  // The section of a registry key as the registry editor exports it, LF lines; on Linux
  // the program's registry file is that export already.
  std::string registry(const std::string& key) const {
#ifdef _WIN32
    std::string all = zuv::testing::regedit_export(key);
#else
    std::string raw = read_all(tmp_.path() + "/registry.reg"), all;
    for (size_t i = raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF ? 2 : 0; i + 1 < raw.size(); i += 2) {
      unsigned c = static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8;
      if (c == '\r') continue;
      if (c < 0x80) {
        all += static_cast<char>(c);
      } else if (c < 0x800) {
        all += static_cast<char>(0xC0 | c >> 6);
        all += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        all += static_cast<char>(0xE0 | c >> 12);
        all += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        all += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
#endif
    const std::string head = "[" + key + "]\n";
    size_t at = all.find(head);
    if (at == std::string::npos) return {};
    size_t end = all.find("\n[", at + head.size());
    return all.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }

  // The fields lnkinfo finds in a shell link, by their label; empty when unreadable.
  std::map<std::string, std::string> link(const std::string& file) const {
    std::map<std::string, std::string> fields;
    const std::string out = run_system_tool("lnkinfo", {file}, "", root_win_);
    size_t start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
      std::string l = out.substr(start, nl - start);
      size_t colon = l.find(": ");
      if (l.empty() || l[0] != '\t' || colon == std::string::npos) continue;
      std::string label = l.substr(1, colon - 1);
      label.erase(label.find_last_not_of("\t ") + 1);
      fields[label] = l.substr(colon + 2);
    }
    if (fields.empty()) ADD_FAILURE() << "lnkinfo " << file << ":\n" << out;
    return fields;
  }

  // unzip -t over an archive: what it said, "" when unzip is not there.
  std::string unzip_test(const std::string& archive_rel) const {
    return run_system_tool("unzip", {win(archive_rel)}, "-t", root_win_);
  }

  std::string desktop_;  // the operator's desktop folder (Windows text, ends in "\")
  std::string menu_;     // the Start menu's programs folder

 private:
#ifdef _WIN32
  static constexpr const wchar_t* kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  static constexpr const wchar_t* kUserShellFolders =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  struct SavedValue {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;  // empty: the value was not there
  };
  struct SavedFolder {
    const wchar_t* key;
    const wchar_t* name;
    SavedValue value;
  };
  // The records of the year go, so that no other test meets them.
  void forget_installation() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Trevanor\\Zuv\\2026");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZUV2026");
  }
  std::vector<SavedFolder> saved_folders_;
#endif

  zuv::testing::TableTempDir tmp_;
  std::string zuvinst_, sample_;
  std::string root_win_;  // the scratch root as Windows text, ending in "\"
};

}  // namespace zuv::e2e
