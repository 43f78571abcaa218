// The installer program end to end on both targets: both flows through the script
// front end with the main window and unattended, on samples written by zuv-sample.
#include <regex>
#include <sstream>

#include "e2e.h"
#include "platform/os/registry.h"

namespace zuv::e2e {
namespace {

constexpr const char* kRecordKey = "HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\2026";
constexpr const char* kUninstallKey = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZUV2026";

// A text value as the registry editor writes it: backslashes doubled.
std::string reg_text(const std::string& name, const std::string& value) {
  std::string v;
  for (char c : value) v += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return (name == "@" ? "@" : "\"" + name + "\"") + "=\"" + v + "\"\n";
}

std::vector<std::string> files_in(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) out.push_back(e.path().filename().string());
  return out;
}

class Installer : public EndToEnd {
 protected:
  // The script of answers, one a line, beside the sample; the argument that names it.
  std::string script(const std::string& name, const std::vector<std::string>& answers) {
    std::ofstream out(here(name + "\\odp.txt"), std::ios::binary);
    for (const auto& a : answers) out << a << "\n";
    return "--ui=script:" + here(name + "\\odp.txt").string();
  }

  // What every successful run leaves for the operator's account: the installation
  // record of the year and the uninstall entry (read by the registry editor), and the
  // two shortcuts (read by lnkinfo).
  void expect_registered(const std::string& program, const std::string& baza) {
    const std::string rec = registry(kRecordKey);
    EXPECT_NE(rec.find(reg_text("@", "Parametry instalacyjne ZUV")), std::string::npos) << rec;
    EXPECT_NE(rec.find(reg_text("Rok", "2026")), std::string::npos) << rec;
    EXPECT_NE(rec.find(reg_text("Program", program)), std::string::npos) << rec;
    EXPECT_NE(rec.find(reg_text("Baza", baza)), std::string::npos) << rec;
    EXPECT_NE(rec.find(reg_text("Wersja_Programu", "26.01.033")), std::string::npos) << rec;
    EXPECT_NE(rec.find(reg_text("Wersja_Bazy", "026.01.033")), std::string::npos) << rec;
    EXPECT_TRUE(std::regex_search(rec, std::regex("\"Data_instalacji\"=\"20[0-9]{2}\\.[01][0-9]\\.[0-3][0-9]/"
                                                  "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\"\n")))
        << rec;
    const std::string un = registry(kUninstallKey);
    EXPECT_NE(un.find(reg_text("DisplayName", "Zuv wersja 26.01.033")), std::string::npos) << un;
    EXPECT_NE(un.find(reg_text("Publisher", "Trevanor NK")), std::string::npos) << un;
    EXPECT_NE(un.find(reg_text("InstallLocation", program)), std::string::npos) << un;
    EXPECT_NE(un.find(reg_text("UninstallString", program + "un_zuv.exe")), std::string::npos) << un;
    EXPECT_NE(un.find("\"NoModify\"=dword:00000001\n"), std::string::npos) << un;
    EXPECT_TRUE(std::regex_search(un, std::regex("\"InstallDate\"=\"20[0-9]{6}\"\n"))) << un;

    if (system_tool("lnkinfo").empty()) {
      ADD_FAILURE() << "lnkinfo (liblnk-utils) is missing";
      return;
    }
    for (const std::string& file : {desktop_ + "Zuv 2026.lnk", menu_ + "Trevanor\\Zuv-2026\\Zuv-2026.lnk"}) {
      auto l = link(file);
      ASSERT_FALSE(l.empty()) << file;
      EXPECT_EQ(l["Local path"], program + "zuv.exe") << file;
      EXPECT_EQ(l["Working directory"], program) << file;
      EXPECT_EQ(l["Description"], " Program ZUV na rok 2026") << file;
      // The workstation name: upper-case letters, digits and "_", at most 20.
      if (l.count("Command line arguments")) {
        EXPECT_TRUE(std::regex_match(l["Command line arguments"], std::regex("/N[A-Z0-9_]{1,20}")))
            << l["Command line arguments"];
      }
    }
  }

  // The program directory as the first installation and the deployment leave it.
  void expect_program(const std::string& name, const std::string& program, const std::string& baza) {
    for (const char* sub : {"czytaj.to", "export", "export\\zus", "export\\edek", "export\\crm", "export\\gus",
                            "export\\nfz", "mask", "vistrel", "install", "setings", "temp", "temp\\arch", "txt", "dek"})
      EXPECT_TRUE(fs::is_directory(local(program + sub))) << sub;
    for (const std::string& exe : files_in(here(name + "\\release"))) {
      std::string lower = exe;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower.ends_with(".exe") || lower.ends_with(".dll")) {
        EXPECT_EQ(read_all(local(program + exe)), read_all(here(name + "\\release\\" + exe))) << exe;
      }
    }
    EXPECT_EQ(field_at(program + "wersja.dbf", "rok"), "2026");
    EXPECT_EQ(field_at(program + "wersja.dbf", "zuv"), "26.01.033");
    EXPECT_EQ(field_at(program + "baza.dbf", "PATH"), baza);
  }

  std::string field_at(const std::string& windows_path, const std::string& name) {
    return field(windows_path.substr(win("").size()), name);
  }

  // The database at the release, its kit packed in "install\" and readable by unzip.
  void expect_database_at_release(const std::string& baza_rel, int firms) {
    EXPECT_EQ(field(baza_rel + "wersja.dbf", "baza"), "026.01.033");
    EXPECT_EQ(field(baza_rel + "wersja.dbf", "ok"), "T");
    for (int f = 1; f <= firms; ++f)
      EXPECT_EQ(field(baza_rel + "firma" + std::to_string(f) + "\\wersja.dbf", "baza"), "026.01.033") << f;
    expect_archive(baza_rel + "install\\26.01.033.zip");
  }

  void upgrade_with_a_broken_firm(const std::string& program);

  void expect_archive(const std::string& rel) {
    ASSERT_TRUE(exists(rel)) << rel;
    if (system_tool("unzip").empty()) {
      ADD_FAILURE() << "unzip is missing";
      return;
    }
    const std::string verdict = unzip_test(rel);
    EXPECT_NE(verdict.find("No errors detected"), std::string::npos) << verdict;
  }
};

TEST_F(Installer, FirstInstallationIntoEmptyDirectoriesFromTheMainWindow) {
  make_sample("s");
  const std::string program = win("s\\Nowy Program\\"), baza = win("s\\Nowa Baza\\");
  // Pierwsza instalacja; both directories typed; "Założyć" twice; the closing message;
  // the screen closes by itself after a success; the main window's "Zakończ instalację".
  RunResult r = install("s", {script("s", {"4", "pole 1 " + program, "pole 2 " + baza, "2", "1", "1", "1", "5"})});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("ALARM 2 \"Koniec instalacji\" | Instalacja programu zakończyła się powodzeniem. |"),
            std::string::npos)
      << r.out;

  expect_program("s", program, baza);
  // A new database from the release's templates, not upgraded.
  EXPECT_EQ(field("s\\Nowa Baza\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(read_all(here("s\\Nowa Baza\\semafor.dbf")), read_all(here("s\\release\\str\\semafor.dbf")));
  for (const char* dir : {"install", "public", "str", "str\\xml", "str\\zest"})
    EXPECT_TRUE(fs::is_directory(here(std::string("s\\Nowa Baza\\") + dir))) << dir;
  EXPECT_EQ(read_all(here("s\\Nowa Baza\\str\\ks_dok.dbf")), read_all(here("s\\release\\str\\ks_dok.dbf")));
  EXPECT_EQ(r.out.find("Aktualizacja bazy"), std::string::npos) << "a new database is not upgraded";
  expect_archive("s\\Nowa Baza\\install\\26.01.033.zip");
  expect_registered(program, baza);
}

TEST_F(Installer, SilentFirstInstallationOntoTheOldSampleDatabaseUpgradesIt) {
  make_sample("s");
  const std::string program = win("s\\Program 2026\\"), baza = win("s\\baza\\");
  RunResult r = install("s", {"--silent", "--install", program, baza});
  EXPECT_EQ(r.code, 0) << r.log;
  EXPECT_NE(r.log.find("Okno \"Koniec instalacji\": Instalacja programu zakończyła się powodzeniem."),
            std::string::npos)
      << r.log;
  EXPECT_NE(r.log.find("Etap: Aktualizacja bazy danych " + baza + " od wersji 022.01.050"), std::string::npos)
      << r.log;
  expect_program("s", program, baza);
  expect_database_at_release("s\\baza\\", 3);
  expect_registered(program, baza);
}

TEST_F(Installer, SilentFirstInstallationIntoEmptyNativeDirectoriesOnLinux) {
#ifdef _WIN32
  GTEST_SKIP() << "native paths without a drive are Linux's";
#else
  make_sample("s");
  const std::string program = here("s\\srv\\program").string() + "/", baza = here("s\\srv\\baza").string() + "/";
  fs::create_directories(program);
  fs::create_directories(baza);
  RunResult r = install("s", {"--silent", "--install", program, baza, "--db-path", "Z:\\ZUV\\BAZA"});
  EXPECT_EQ(r.code, 0) << r.log;
  EXPECT_NE(r.log.find("Etap: Kopiowanie plików programu do " + program + "\n"), std::string::npos) << r.log;
  std::istringstream lines(r.log);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("Etap:")) {
      EXPECT_EQ(line.find('\\'), std::string::npos) << line;
    }
  // What the workstations are told, and a whole database from the templates.
  EXPECT_EQ(field("s\\srv\\program\\baza.dbf", "PATH"), "Z:\\ZUV\\BAZA\\");
  EXPECT_EQ(field("s\\srv\\program\\wersja.dbf", "zuv"), "26.01.033");
  EXPECT_EQ(field("s\\srv\\baza\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(read_all(here("s\\srv\\baza\\str\\ks_dok.dbf")), read_all(here("s\\release\\str\\ks_dok.dbf")));
  expect_archive("s\\srv\\baza\\install\\26.01.033.zip");
#endif
}

TEST_F(Installer, UpgradeOfTheSampleFromTheMainWindow) {
  make_sample("s");
  const std::string program = win("s\\program\\"), baza = win("s\\baza\\");
  // Templates the operator edited (the sample marks them) survive, the release's new
  // ones arrive, and one that a template step renews is the release's.
  std::map<std::string, std::string> edited;
  std::vector<std::string> added;
  for (const auto& name : files_in(local(program + "txt"))) {
    std::string bytes = read_all(local(program + "txt\\" + name));
    if (bytes.find("edytowany przez operatora") != std::string::npos) edited[name] = bytes;
  }
  for (const auto& name : files_in(here("s\\release\\txt")))
    if (!fs::exists(local(program + "txt\\" + name))) added.push_back(name);
  ASSERT_FALSE(edited.empty()) << "the sample has no edited template";
  ASSERT_FALSE(added.empty()) << "the sample's release has no new template";

  // Aktualizacja programu; the program's directory typed; the closing message; back to
  // the main window with "Poprzedni ekran"; "Zakończ instalację".
  RunResult r = install("s", {script("s", {"3", "pole 1 " + program, "2", "1", "1", "5"})});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("ALARM 2 \"Powodzenie!\" | Instalacja zakończona powodzeniem. |"), std::string::npos) << r.out;

  expect_program("s", program, baza);
  for (const auto& [name, bytes] : edited) {
    EXPECT_EQ(read_all(local(program + "txt\\" + name)), bytes) << name;
  }
  for (const auto& name : added)
    EXPECT_EQ(read_all(local(program + "txt\\" + name)), read_all(here("s\\release\\txt\\" + name))) << name;
  EXPECT_EQ(read_all(local(program + "txt\\ew_kas.txt")), read_all(here("s\\release\\txt\\ew_kas.txt")));
  EXPECT_EQ(read_all(local(program + "DllOk.txt")), read_all(here("s\\release\\wk.dbf")));
  EXPECT_EQ(read_all(local(program + "setings\\ns.cfg")).empty(), false);

  expect_database_at_release("s\\baza\\", 3);
  EXPECT_EQ(field("s\\baza\\wersja.dbf", "zuv"), "26.01.033");
  EXPECT_EQ(field("s\\baza\\public\\pub_dat.dbf", "nv_r_check"), "Zainstalowano: 26.01.033");
  expect_registered(program, baza);
}

// The first run of an upgrade in which a firm fails: the warning, exit code 1, the
// failed firm named in "error.log", the other firms done, and the program deployed,
// packed and registered all the same.
void Installer::upgrade_with_a_broken_firm(const std::string& program) {
  make_sample("s", {"--broken-firms", "1"});
  RunResult first = install("s", {"--silent", "--upgrade", program});
  EXPECT_EQ(first.code, 1) << first.log;
  EXPECT_NE(first.log.find("Okno \"Ostrzeżenie!\": Część firm nie została zainstalowana. / Zobacz raport z instalacji"),
            std::string::npos)
      << first.log;
  EXPECT_NE(read_all(here("s\\release\\error.log")).find("firmy nr: 3."), std::string::npos);
  EXPECT_EQ(field("s\\baza\\firma1\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(field("s\\baza\\firma2\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_NE(field("s\\baza\\firma3\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(field("s\\baza\\wersja.dbf", "ok"), "N");
  EXPECT_EQ(read_all(local(program + "zuv.exe")), read_all(here("s\\release\\zuv.exe")));
  expect_archive("s\\baza\\install\\26.01.033.zip");
  expect_registered(program, win("s\\baza\\"));
}

TEST_F(Installer, SilentUpgradeWithAFailedFirmWarnsAndStillDeploys) {
  upgrade_with_a_broken_firm(win("s\\program\\"));
}

// The operator repairs the failed firm; the next run finishes it and leaves the
// firms already done alone.
TEST_F(Installer, FailedFirmIsResumedByTheNextRun) {
  const std::string program = win("s\\program\\");
  upgrade_with_a_broken_firm(program);
  make_sample("good");  // the same firms, none damaged: the repair's source
  const std::string firm1 = read_all(here("s\\baza\\firma1\\wersja.dbf"));
  // The operator repairs the damaged table and runs the upgrade again.
  // (Removed first: the Windows build's library refuses to copy over a file.)
  for (const char* f : {"v_inne.dbf", "v_inne.cdx"}) {
    fs::remove(here(std::string("s\\baza\\firma3\\") + f));
    fs::copy_file(here(std::string("good\\baza\\firma3\\") + f), here(std::string("s\\baza\\firma3\\") + f));
  }
  RunResult second = install("s", {"--silent", "--upgrade", program});
  EXPECT_EQ(second.code, 0) << second.log;
  EXPECT_NE(second.log.find("Okno \"Powodzenie!\": Instalacja zakończona powodzeniem."), std::string::npos)
      << second.log;
  expect_database_at_release("s\\baza\\", 3);
  EXPECT_EQ(read_all(here("s\\baza\\firma1\\wersja.dbf")), firm1) << "a finished firm is not upgraded again";
}

// A program file that cannot be replaced once the database was upgraded: exit 3, the
// file named, the old program whole and nothing registered; once the file is free, the
// next run puts the new program in.
TEST_F(Installer, ProgramFileThatCannotBeReplacedEndsWithExitThreeAndTheOldProgram) {
  make_sample("s");
  const std::string program = win("s\\program\\"), baza = win("s\\baza\\");
  const fs::path exe = local(program + "zuv.exe");
  const std::string old_exe = read_all(exe), old_version = read_all(local(program + "wersja.dbf"));
  fs::permissions(exe, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  RunResult first = install("s", {"--silent", "--upgrade", program});
  EXPECT_EQ(first.code, 3) << first.log;
  EXPECT_NE(first.log.find("Okno \"Błąd instalacji\": Nie można zastąpić pliku / " + program + "zuv.exe"),
            std::string::npos)
      << first.log;
  EXPECT_EQ(read_all(exe), old_exe);
  EXPECT_EQ(read_all(local(program + "wersja.dbf")), old_version);
  EXPECT_TRUE(registry(kRecordKey).empty());
  EXPECT_EQ(field("s\\baza\\wersja.dbf", "baza"), "026.01.033");

  fs::permissions(exe, fs::perms::owner_write, fs::perm_options::add);
  RunResult second = install("s", {"--silent", "--upgrade", program});
  EXPECT_EQ(second.code, 0) << second.log;
  expect_program("s", program, baza);
  expect_database_at_release("s\\baza\\", 3);
  expect_registered(program, baza);
}

TEST_F(Installer, RefusalsLeaveTheDirectoriesAsTheyWere) {
  make_sample("s");
  // Equal directories, in another letter case.
  RunResult same = install("s", {"--silent", "--install", win("s\\Jeden\\"), win("S\\JEDEN\\")});
  EXPECT_EQ(same.code, 2);
  EXPECT_NE(same.log.find("Katalogi do instalacji Bazy Danych / i programu muszą być rózne!"), std::string::npos)
      << same.log;
  EXPECT_FALSE(exists("s\\Jeden"));
  // An installed program is not an empty directory for a new one.
  RunResult full = install("s", {"--silent", "--install", win("s\\program\\"), win("s\\baza\\")});
  EXPECT_EQ(full.code, 2);
  EXPECT_NE(full.log.find("Katalog w którym zostanie zainstalowany Program / musi być pusty!"), std::string::npos)
      << full.log;
  EXPECT_EQ(field("s\\baza\\wersja.dbf", "baza"), "022.01.050");
  // A directory without a program.
  RunResult none = install("s", {"--silent", "--upgrade", win("s\\baza\\")});
  EXPECT_EQ(none.code, 2);
  EXPECT_NE(none.log.find("Wskazany katalog z bieżącym Programem nie zawiera / Programu ZUV w wersji Windows"),
            std::string::npos)
      << none.log;
  EXPECT_TRUE(registry(kRecordKey).empty());
}

}  // namespace
}  // namespace zuv::e2e

namespace zuv::e2e {
namespace {

// Every directory and file below dir with its bytes.
std::map<std::string, std::string> bytes_below(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    out[e.path().lexically_relative(dir).generic_string() + (e.is_directory() ? "/" : "")] =
        e.is_directory() ? "" : read_all(e.path());
  return out;
}

std::string first_change(const std::map<std::string, std::string>& want,
                         const std::map<std::string, std::string>& got) {
  for (const auto& [rel, bytes] : want)
    if (!got.count(rel) || got.at(rel) != bytes) return rel;
  for (const auto& [rel, bytes] : got)
    if (!want.count(rel)) return rel;
  return "";
}

bool key_exists(const std::string& subkey) {
  os::reg::Handle h = 0;
  if (os::reg::open_key(os::reg::kCurrentUser, subkey, os::reg::kRead, h) != os::reg::kSuccess) return false;
  (void)os::reg::close_key(h);
  return true;
}

// Installed over the previous program and upgraded, then undone: both trees byte for
// byte as before, the installation's registry keys and shortcuts gone again.
TEST_F(Installer, SilentUpgradeUndoneGivesBackTheProgramTheDatabaseTheRegistryAndTheShortcuts) {
  make_sample("s");
  const std::string program = win("s\\program\\"), baza = win("s\\baza\\");
  const auto program_before = bytes_below(here("s\\program")), database_before = bytes_below(here("s\\baza"));
  ASSERT_FALSE(key_exists("Software\\Trevanor\\Zuv\\2026"));

  RunResult up = install("s", {"--silent", "--upgrade", program});
  ASSERT_EQ(up.code, 0) << up.log;
  EXPECT_NE(up.log.find("Stan sprzed instalacji zachowany w"), std::string::npos) << up.log;
  ASSERT_TRUE(key_exists("Software\\Trevanor\\Zuv\\2026"));
  ASSERT_FALSE(files_in(local(desktop_)).empty());

  RunResult plan = install("s", {"--undo-db", baza, "--program", program, "--plan"});
  EXPECT_EQ(plan.code, 0) << plan.out;
  RunResult undo = install("s", {"--undo-db", baza, "--program", program});
  ASSERT_EQ(undo.code, 0) << undo.out;
  EXPECT_EQ(first_change(program_before, bytes_below(here("s\\program"))), "");
  EXPECT_EQ(first_change(database_before, bytes_below(here("s\\baza"))), "");
  EXPECT_FALSE(key_exists("Software\\Trevanor\\Zuv\\2026"));
  EXPECT_FALSE(key_exists("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZUV2026"));
  EXPECT_TRUE(files_in(local(desktop_)).empty());

  // Nothing is left to undo, and the next upgrade runs as the first did.
  EXPECT_EQ(install("s", {"--undo-db", baza, "--program", program}).code, 2);
  EXPECT_EQ(install("s", {"--silent", "--upgrade", program}).code, 0);
}

}  // namespace
}  // namespace zuv::e2e
