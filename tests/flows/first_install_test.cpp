#include "flows/first_install.h"

#include "flows_fixture.h"
#include "platform/os/fault.h"

namespace zuv::flows::testing {
namespace {

class FirstInstall : public FlowsTest {
 protected:
  // One attempt: both fields typed, "Zainstaluj Program", then the given answers to
  // the dialogs; the screen is left with "Poprzedni ekran" unless it ended itself.
  Outcome attempt(const std::string& program_dir, const std::string& database_dir,
                  const std::vector<std::string>& answers, bool leave = true) {
    fe.add_answer("pole 1 " + program_dir);
    fe.add_answer("pole 2 " + database_dir);
    fe.add_answer("2");
    for (const auto& a : answers) fe.add_answer(a);
    if (leave) fe.add_answer("1");
    Outcome o = PIERWSZA_INSTALACJA(env);
    EXPECT_EQ(fe.answers_left(), 0u) << transcript();
    return o;
  }
};

TEST_F(FirstInstall, IntoEmptyDirectoriesMakesANewDatabaseAndInstallsTheProgram) {
  mkdirs(prog);
  mkdirs(baza);
  EXPECT_EQ(attempt(prog, baza, {"1"}, false), Outcome::Success);
  EXPECT_TRUE(shown("Koniec instalacji", "Instalacja programu zakończyła się powodzeniem.")) << transcript();
  // The database from the templates, not through the upgrade.
  for (const char* sub : {"install", "public", "str\\xml", "str\\zest"}) {
    EXPECT_TRUE(os::directory_exists(baza + sub));
  }
  EXPECT_EQ(test::read_all(baza + "str\\ks_dok.dbf"), "wzorzec ks_dok");
  EXPECT_TRUE(os::file_exists(std::string_view(baza + "str\\xml\\jpk.xsd")));
  EXPECT_TRUE(os::file_exists(std::string_view(baza + "public\\kursy.dbf")));
  EXPECT_EQ(test::read_all(baza + "wersja.dbf"), test::read_all(rel + "wb.dbf"));
  EXPECT_EQ(test::read_all(baza + "semafor.dbf"), "semafor");
  // The program, its pointer to the database and its year.
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "dek\\dek.xml")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "txt\\faktura.txt")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "ksef.cfg")));
  EXPECT_TRUE(os::directory_exists(prog + "export\\edek"));
  EXPECT_EQ(field(prog + "baza.dbf", "PATH"), baza);
  EXPECT_EQ(field(prog + "wersja.dbf", "rok"), "2026");
  EXPECT_EQ(calls, (std::vector<std::string>{"test P", "test B", "archive " + baza,
                                             "rejestry " + prog + " " + baza + " 2026"}));
}

TEST_F(FirstInstall, MissingDirectoriesAreMadeWhenTheOperatorAgrees) {
  EXPECT_EQ(attempt(prog, baza, {"2"}), Outcome::Refused);  // "Rezygnuję"
  EXPECT_TRUE(shown("Brak Katalogu", "Katalog dla Programu nie istnieje!")) << transcript();
  EXPECT_FALSE(os::directory_exists(prog));
  EXPECT_EQ(attempt(prog, baza, {"1", "1", "1"}, false), Outcome::Success);  // "Założyć" twice, the end
  EXPECT_TRUE(shown("Brak Katalogu", "Katalog dla Bazy Danych nie istnieje!")) << transcript();
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "baza.dbf")));
}

TEST_F(FirstInstall, DirectoryRefusals) {
  EXPECT_EQ(attempt("", baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Katalog Programu", "Katalog do instalacji Programu jest pusty!")) << transcript();
  EXPECT_EQ(attempt(prog, " ", {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Katalog bazy danych", "Katalog do instalacji Bazy Danych jest pusty!")) << transcript();

  mkdirs(prog);
  std::string upper = prog;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(attempt(prog, upper, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Błędne katalogi", "Katalogi do instalacji Bazy Danych;i programu muszą być rózne!"))
      << transcript();

  mkdirs(baza);
  file(prog + "cokolwiek.txt");
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd katalogu", "Katalog w którym zostanie zainstalowany Program;musi być pusty!"))
      << transcript();

  EXPECT_TRUE(os::delete_file(prog + "cokolwiek.txt").ok());
  file(baza + "dane.dbf");
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd katalogu", "Katalog w którym zostanie zainstalowana Baza danych;musi być pusty!"))
      << transcript();
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "baza.dbf")));
}

TEST_F(FirstInstall, OldDatabaseIsUpgradedAndFinishedOneOfTheReleaseIsNot) {
  mkdirs(prog);
  make_database("026.01.016");
  // The firms' work directory is there when the upgrade starts.
  auto upgrade = env.upgrade.upgrade_database;
  env.upgrade.upgrade_database = [&](const std::string& p, const std::string& b, const std::string& v) {
    EXPECT_TRUE(os::directory_exists(p + "temp"));
    return upgrade(p, b, v);
  };
  EXPECT_EQ(attempt(prog, baza, {"1"}, false), Outcome::Success);
  EXPECT_EQ(calls, (std::vector<std::string>{"test P", "test B", "upgrade 026.01.016", "archive " + baza,
                                             "rejestry " + prog + " " + baza + " 2026"}));

  calls.clear();
  EXPECT_TRUE(os::delete_file(prog + "baza.dbf").ok());
  test::ScratchDir other;
  prog = other.path() + "nowy\\";
  mkdirs(prog);
  make_database("026.01.033", "26.01.033", "T");
  EXPECT_EQ(attempt(prog, baza, {"1"}, false), Outcome::Success);
  EXPECT_EQ(calls, (std::vector<std::string>{"test P", "test B", "rejestry " + prog + " " + baza + " 2026"}));
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
}

TEST_F(FirstInstall, PartialUpgradeStopsBeforeTheProgramFiles) {
  mkdirs(prog);
  make_database("026.01.016");
  upgrade_answer = "01";
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Partial);
  EXPECT_TRUE(shown("Ostrzeżenie!", "Część firm nie została zainstalowana.;Zobacz raport z instalacji"))
      << transcript();
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "zuv.exe")));
  EXPECT_EQ(calls.back(), "archive " + baza);
}

TEST_F(FirstInstall, NewerDatabaseAndOtherYearsAreRefused) {
  mkdirs(prog);
  make_database("026.01.040", "26.01.040");
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd instalacji",
                    "Istniejąca wersja bazy danych (026.01.040) wymaga przynajmniej wersji 26.01.040 programu "
                    "WinZuv.; Zainstaluj wyższą wersję programu"))
      << transcript();

  make_database("026.01.016", "25.01.050", "T", "2024");
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd", "Instalacja programu do bazy na rok 2024;jest niemożliwa!")) << transcript();
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "zuv.exe")));
}

TEST_F(FirstInstall, FollowingYearsDatabaseNeedsThisYearsProgram) {
  test::ScratchDir other;
  const std::string old_prog = other.path();
  mkdirs(prog);
  make_database("026.01.033", "26.01.033", "T", "2027");
  // Confirmed, then a directory without a program, "Rezygnuję".
  EXPECT_EQ(attempt(prog, baza, {"1", old_prog, "2"}), Outcome::Refused);
  EXPECT_TRUE(shown("Uwaga!",
                    "Instalujesz program na rok 2027. Potwierdź!;Jeżeli potwierdzisz musisz wskazać katalog z "
                    "programem na rok 2026!"))
      << transcript();
  EXPECT_TRUE(shown("błąd!", "Wskazany katolog nie zawiera programu ZUV!;Czy chcesz wybrać inny katalog?"))
      << transcript();

  // A program of another year, "Wybieram dalej", then this year's program.
  record(old_prog + "wersja.dbf", {{"rok", "2025"}, {"zuv", "25.01.050"}});
  file(old_prog + "zuv.exe");
  file(old_prog + "setings\\ns.cfg", "STACJA7");
  test::ScratchDir third;
  record(third.path() + "wersja.dbf", {{"rok", "2026"}, {"zuv", "26.01.010"}});
  file(third.path() + "zuv.exe");
  file(third.path() + "setings\\ns.cfg", "STACJA7");
  EXPECT_EQ(attempt(prog, baza, {"1", old_prog, "1", third.path(), "1"}, false), Outcome::Success);
  EXPECT_TRUE(shown("błąd!", "Wskazany katolog nie zawiera programu ZUV na rok 2026!;Czy chcesz wybrać inny katalog?"))
      << transcript();
  EXPECT_EQ(test::read_all(prog + "setings\\ns.cfg"), "STACJA7");
  EXPECT_EQ(field(prog + "wersja.dbf", "rok"), "2027");
  EXPECT_EQ(calls.back(), "rejestry " + prog + " " + baza + " 2027");
}

// A database with the four files but without its clients' memo file is damaged, not
// new: the templates are never copied over its data.
TEST_F(FirstInstall, DatabaseWithoutItsClientMemosIsRefusedAsDamaged) {
  mkdirs(prog);
  make_database("026.01.033", "26.01.033", "T");
  file(baza + "firma1\\klient.dbf", "dane firmy");
  EXPECT_TRUE(os::delete_file(baza + "str\\klient.fpt").ok());
  const auto database = tree(baza);
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd katalogu", "Katalog Bazy danych jest uszkodzony;brak pliku " + baza + "str\\klient.fpt"))
      << transcript();
  EXPECT_EQ(tree(baza), database);
  EXPECT_TRUE(tree(prog).empty());
  EXPECT_TRUE(calls.empty());
}

// The checked start after step 10, told whether the database is new; its refusal comes
// before the disk tests and leaves both directories as they were.
TEST_F(FirstInstall, CheckedStartRefusesBeforeAnyChange) {
  std::string answer = "Baza danych jest używana;" + baza + "semafor.dbf";
  env.upgrade.check_start = [&](const std::string& b, const std::string& p, upgrade::StartKind kind) {
    calls.push_back("check " + b + " [" + p + "] " +
                    (kind == upgrade::StartKind::NewDatabase        ? "nowa"
                     : kind == upgrade::StartKind::ExistingDatabase ? "istniejąca"
                                                                    : "?"));
    return answer;
  };
  mkdirs(prog);
  mkdirs(baza);
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd", answer)) << transcript();
  EXPECT_EQ(calls, (std::vector<std::string>{"check " + baza + " [] nowa"}));
  EXPECT_TRUE(tree(baza).empty());

  calls.clear();
  make_database("026.01.016");
  const auto database = tree(baza);
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_EQ(calls, (std::vector<std::string>{"check " + baza + " [] istniejąca"}));
  EXPECT_EQ(tree(baza), database);
  EXPECT_TRUE(tree(prog).empty());

  calls.clear();
  answer.clear();
  EXPECT_EQ(attempt(prog, baza, {"1"}, false), Outcome::Success);
  EXPECT_EQ(calls.front(), "check " + baza + " [] istniejąca");
}

// An attempt that stops after it began to fill the program directory takes away what
// it made there, so that the next attempt passes the emptiness check.
TEST_F(FirstInstall, FailedAttemptLeavesTheProgramDirectoryEmptyForTheNext) {
  mkdirs(prog);
  make_database("026.01.016");
  upgrade_answer = "01";
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Partial);
  EXPECT_TRUE(tree(prog).empty());
  upgrade_answer = "W programie ZUV pracują inni użytkownicy.";
  EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  EXPECT_TRUE(tree(prog).empty());

  // A program file that does not copy: named, nothing left, nothing registered.
  make_database("026.01.033", "26.01.033", "T");
  calls.clear();
  {
    os::fault::Scope scope;
    os::fault::arm(os::fault::Op::Copy, 3, os::oscode::kDiskFull);
    EXPECT_EQ(attempt(prog, baza, {"1"}), Outcome::Refused);
  }
  EXPECT_NE(transcript().find("\"Błąd instalacji\" | Nie można skopiować pliku / " + rel), std::string::npos)
      << transcript();
  EXPECT_TRUE(tree(prog).empty());
  EXPECT_EQ(calls, (std::vector<std::string>{"test P", "test B"}));

  EXPECT_EQ(attempt(prog, baza, {"1"}, false), Outcome::Success);
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
}

}  // namespace
}  // namespace zuv::flows::testing
