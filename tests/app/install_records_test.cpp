// The installation records: what lands in the registry (read back by regedit under
// Wine, by the registry file on Linux) and the shortcuts (read back by the shell's
// link object under Wine, by lnkinfo on Linux).
#include "app/install_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/os/durable.h"
#include "platform/os/shelllink.h"
#include "platform/error/error.h"
#include "sys/netname.h"
#include "sys/regedit_export.h"
#include "sys/registry.h"

namespace zuv::app {
namespace {

namespace fs = std::filesystem;
using sys::RegValue;
using sys::XbpReg;

const std::string kYear = "2097";  // a year no real installation uses

std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void remove_tree(const std::string& path) {
  XbpReg r = XbpReg::New(path);
  if (!r.Status()) return;
  for (const auto& k : r.KeyList()) remove_tree(path + "\\" + k);
  size_t slash = path.rfind('\\');
  XbpReg::New(path.substr(0, slash)).DelKey(path.substr(slash + 1));
}

// A directory as the logic writes it: Windows text ending in "\".
std::string win_dir(const fs::path& p) {
  std::u8string u = p.u8string();
  std::string s(u.begin(), u.end());
#ifndef _WIN32
  for (char& c : s)
    if (c == '/') c = '\\';
#endif
  return s + "\\";
}

fs::path native(const std::string& windows_text) {
  std::string s = windows_text;
#ifndef _WIN32
  for (char& c : s)
    if (c == '\\') c = '/';
#endif
  return fs::path(std::u8string(s.begin(), s.end()));
}

#ifndef _WIN32
// The fields lnkinfo prints, by their label.
std::map<std::string, std::string> lnkinfo(const fs::path& link) {
  std::map<std::string, std::string> fields;
  FILE* p = popen(("lnkinfo '" + link.string() + "' 2>&1").c_str(), "r");
  if (!p) return fields;
  char line[4096];
  while (fgets(line, sizeof line, p)) {
    std::string l = line;
    if (!l.empty() && l.back() == '\n') l.pop_back();
    size_t colon = l.find(": ");
    if (l.empty() || l[0] != '\t' || colon == std::string::npos) continue;
    std::string label = l.substr(1, colon - 1);
    label.erase(label.find_last_not_of("\t ") + 1);
    fields[label] = l.substr(colon + 2);
  }
  pclose(p);
  return fields;
}

bool have_lnkinfo() { return std::system("command -v lnkinfo >/dev/null 2>&1") == 0; }
#endif

// The link's fields as an outside reader sees them: the shell's link object on
// Windows, lnkinfo on Linux.
struct SeenLink {
  bool ok = false;
  std::string target, working_dir, arguments, description;
  bool has_arguments = false;
};

SeenLink outside_read(const fs::path& link) {
  SeenLink s;
#ifdef _WIN32
  std::u8string u = link.u8string();
  auto l = os::read_shell_link(std::string(u.begin(), u.end()));
  if (!l) return s;
  s = {true, l->target, l->working_dir, l->arguments, l->description, !l->arguments.empty()};
#else
  auto f = lnkinfo(link);
  if (f.empty()) return s;
  s.ok = true;
  s.target = f.count("Local path") ? f["Local path"] : f["Network path"];
  s.working_dir = f["Working directory"];
  s.has_arguments = f.count("Command line arguments") > 0;
  s.arguments = f["Command line arguments"];
  s.description = f["Description"];
#endif
  return s;
}

class InstallRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("zuv-records-" + std::to_string(
#ifdef _WIN32
                                                              GetCurrentProcessId()
#else
                                                              ::getpid()
#endif
                                                                  ) +
                                         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "Pulpit");
    fs::create_directories(root_ / "Menu");
#ifndef _WIN32
    setenv("ZUV_REGISTRY_FILE", (root_ / "registry.reg").c_str(), 1);
#endif
    clean_registry();
    sys::NERKA({}, sys::NerkaForm::Forget);
    v_.wersja_p = "26.01.016";
    v_.wersja_b = "026.01.016";
    v_.cPulpit = win_dir(root_ / "Pulpit");
    v_.cMenu = win_dir(root_ / "Menu");
    v_.nazwa_sieciowa = "Kadry-2";
    program_ = win_dir(root_ / u8"Księgowość ZUV");
    database_ = win_dir(root_ / "Dane");
    when_.tm_year = 2026 - 1900;
    when_.tm_mon = 3;
    when_.tm_mday = 5;
    when_.tm_hour = 7;
    when_.tm_min = 8;
    when_.tm_sec = 9;
  }
  void TearDown() override {
    clean_registry();
    sys::NERKA({}, sys::NerkaForm::Forget);
#ifndef _WIN32
    unsetenv("ZUV_REGISTRY_FILE");
#endif
    fs::remove_all(root_);
  }
  void clean_registry() {
    remove_tree(installation_key(kYear));
    remove_tree(uninstall_key(kYear));
  }
  void run() { REJESTRY(v_, program_, database_, kYear, when_); }
  fs::path desktop() { return native(desktop_link(v_, kYear)); }
  fs::path menu() { return native(menu_folder(v_, kYear) + "\\Zuv-" + kYear + ".lnk"); }

  ScopedHandler no_errors_{[](ErrorRecord& r) {
    ADD_FAILURE() << "unexpected error: " << r.description;
    return HandlerAnswer::Default;
  }};
  fs::path root_;
  InstallRecordValues v_;
  std::string program_, database_;
  std::tm when_{};
};

TEST_F(InstallRecords, RecordOfTheYearAndUninstallEntryHoldTheirValues) {
  run();
  run();  // a second run overwrites and adds no second key
  XbpReg rec = XbpReg::New(installation_key(kYear));
  ASSERT_TRUE(rec.Status());
  EXPECT_EQ(rec.Standard(), RegValue::of("Parametry instalacyjne ZUV"));
  EXPECT_EQ(rec.GetValue("Data_instalacji"), RegValue::of("2026.04.05/07:08:09"));
  EXPECT_EQ(rec.GetValue("Rok"), RegValue::of(kYear));
  EXPECT_EQ(rec.GetValue("Program"), RegValue::of(program_));
  EXPECT_EQ(rec.GetValue("Baza"), RegValue::of(database_));
  EXPECT_EQ(rec.GetValue("Wersja_Programu"), RegValue::of("26.01.016"));
  EXPECT_EQ(rec.GetValue("Wersja_Bazy"), RegValue::of("026.01.016"));
  EXPECT_EQ(rec.ValueList().size(), 7u);
  EXPECT_TRUE(rec.KeyList().empty());

  XbpReg un = XbpReg::New(uninstall_key(kYear));
  ASSERT_TRUE(un.Status());
  EXPECT_EQ(un.GetValue("DisplayName"), RegValue::of("Zuv wersja 26.01.016"));
  EXPECT_EQ(un.GetValue("DisplayVersion"), RegValue::of("26.01.016"));
  EXPECT_EQ(un.GetValue("Publisher"), RegValue::of("Trevanor NK"));
  EXPECT_EQ(un.GetValue("InstallDate"), RegValue::of("20260405"));
  EXPECT_EQ(un.GetValue("InstallLocation"), RegValue::of(program_));
  EXPECT_EQ(un.GetValue("NoModify"), RegValue::of(1));
  EXPECT_EQ(un.GetValue("NoRepair"), RegValue::of(1));
  EXPECT_EQ(un.GetValue("QuitUninstallString"), RegValue::of(program_ + "un_zuv.exe"));
  EXPECT_EQ(un.GetValue("UninstallString"), RegValue::of(program_ + "un_zuv.exe"));
  EXPECT_EQ(un.ValueList().size(), 9u);

  std::vector<std::string> years = XbpReg::New("HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv").KeyList();
  EXPECT_EQ(std::count(years.begin(), years.end(), kYear), 1);

  // What an outside reader sees.
#ifdef _WIN32
  std::string rec_text = zuv::testing::regedit_export(installation_key(kYear));
  std::string un_text = zuv::testing::regedit_export(uninstall_key(kYear));
#else
  std::string all = read_bytes(root_ / "registry.reg");
  std::string rec_text, un_text;
  {
    std::wstring w;
    for (size_t i = 2; i + 1 < all.size(); i += 2)
      w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(all[i]) | (static_cast<unsigned char>(all[i + 1]) << 8)));
    for (wchar_t c : w)
      if (c < 0x80 && c != '\r') rec_text += static_cast<char>(c);
    un_text = rec_text;
  }
#endif
  EXPECT_NE(rec_text.find("@=\"Parametry instalacyjne ZUV\"\n"), std::string::npos) << rec_text;
  EXPECT_NE(rec_text.find("\"Data_instalacji\"=\"2026.04.05/07:08:09\"\n"), std::string::npos) << rec_text;
  EXPECT_NE(rec_text.find("\"Wersja_Bazy\"=\"026.01.016\"\n"), std::string::npos) << rec_text;
  EXPECT_NE(un_text.find("\"NoModify\"=dword:00000001\n"), std::string::npos) << un_text;
  EXPECT_NE(un_text.find("\"NoRepair\"=dword:00000001\n"), std::string::npos) << un_text;
  EXPECT_NE(un_text.find("\"Publisher\"=\"Trevanor NK\"\n"), std::string::npos) << un_text;
  size_t first = rec_text.find("[" + installation_key(kYear) + "]");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(rec_text.find("[" + installation_key(kYear) + "]", first + 1), std::string::npos);
}

TEST_F(InstallRecords, ValuesGoIntoTheSubkeyNamedAfterTheYearWhenThereIsOne) {
  ASSERT_TRUE(XbpReg::New(installation_key(kYear) + "\\" + kYear, true).Status());
  ASSERT_TRUE(XbpReg::New(uninstall_key(kYear) + "\\ZUV" + kYear, true).Status());
  run();
  EXPECT_EQ(XbpReg::New(installation_key(kYear) + "\\" + kYear).GetValue("Program"), RegValue::of(program_));
  EXPECT_TRUE(XbpReg::New(installation_key(kYear)).GetValue("Program").is_nil());
  EXPECT_EQ(XbpReg::New(uninstall_key(kYear) + "\\ZUV" + kYear).GetValue("NoRepair"), RegValue::of(1));
  EXPECT_TRUE(XbpReg::New(uninstall_key(kYear)).GetValue("NoRepair").is_nil());
}

TEST_F(InstallRecords, ShortcutsCarryTargetDirectoryArgumentsAndDescription) {
#ifndef _WIN32
  if (!have_lnkinfo()) GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
#endif
  run();
  for (const fs::path& link : {desktop(), menu()}) {
    SeenLink s = outside_read(link);
    ASSERT_TRUE(s.ok) << link.string();
    EXPECT_EQ(s.target, program_ + "zuv.exe");
    EXPECT_EQ(s.working_dir, program_);
    EXPECT_EQ(s.arguments, "/NKADRY2") << "the workstation name by its rules";
    EXPECT_EQ(s.description, " Program ZUV na rok " + kYear);
  }
  EXPECT_EQ(desktop().filename().string(), "Zuv " + kYear + ".lnk");
  EXPECT_TRUE(fs::is_directory(native(v_.cMenu + "Trevanor\\Zuv-" + kYear)));

  // Without a workstation name there are no arguments at all.
  v_.nazwa_sieciowa.clear();
  sys::NERKA({}, sys::NerkaForm::Forget);
  run();
  SeenLink s = outside_read(menu());
  ASSERT_TRUE(s.ok);
  EXPECT_FALSE(s.has_arguments);
  EXPECT_EQ(s.target, program_ + "zuv.exe");
}

TEST_F(InstallRecords, DesktopLinkToTheRightProgramIsNotRewritten) {
  run();
  // Whole seconds: not every file system keeps finer times.
  auto old_time = std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() - std::chrono::hours(24 * 365));
  fs::last_write_time(desktop(), old_time);
  fs::last_write_time(menu(), old_time);
  std::string before = read_bytes(desktop());

  // The same program, even written in another case, leaves the desktop link alone.
  v_.wersja_p = "26.01.017";
  program_ = sys::upper_utf8(program_);
  run();
  EXPECT_EQ(fs::last_write_time(desktop()), old_time);
  EXPECT_EQ(read_bytes(desktop()), before);
  EXPECT_NE(fs::last_write_time(menu()), old_time) << "the Start-menu link is always made";

  // Another program replaces it.
  program_ = win_dir(root_ / "Inny");
  run();
  EXPECT_NE(fs::last_write_time(desktop()), old_time);
  auto l = os::read_shell_link(desktop_link(v_, kYear));
  ASSERT_TRUE(l);
  EXPECT_EQ(l->target, program_ + "zuv.exe");
  EXPECT_FALSE(fs::exists(desktop().string() + os::kNewSuffix));
}

TEST_F(InstallRecords, DamagedDesktopFileIsReplacedByALink) {
  std::ofstream(desktop(), std::ios::binary) << "not a link";
  run();
  auto l = os::read_shell_link(desktop_link(v_, kYear));
  ASSERT_TRUE(l);
  EXPECT_EQ(l->target, program_ + "zuv.exe");
}

TEST_F(InstallRecords, NoDesktopFolderMeansOnlyTheStartMenuLink) {
  v_.cPulpit.clear();
  run();
  EXPECT_TRUE(fs::is_empty(root_ / "Pulpit"));
  EXPECT_TRUE(fs::exists(menu()));
  v_.cMenu.clear();
  fs::remove_all(root_ / "Menu");
  run();
  EXPECT_FALSE(fs::exists(root_ / "Menu"));
}

}  // namespace
}  // namespace zuv::app
