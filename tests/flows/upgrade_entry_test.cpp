#include "flows/upgrade_entry.h"

#include "flows_fixture.h"
#include "platform/os/fault.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"

namespace zuv::flows::testing {
namespace {

class UpgradeEntry : public FlowsTest {
 protected:
  // One attempt from the screen: the directory typed, "Zainstaluj Program", every
  // message closed with its first button, then "Poprzedni ekran".
  Outcome attempt(const std::string& program_dir, int messages = 1) {
    fe.add_answer("pole 1 " + program_dir);
    fe.add_answer("2");
    for (int i = 0; i < messages; ++i) fe.add_answer("1");
    fe.add_answer("1");
    Outcome o = UPGRADE(env);
    EXPECT_EQ(fe.answers_left(), 0u) << transcript();
    return o;
  }
  // Refused: nothing was recorded, deployed or archived; the program is as it was.
  void expect_untouched() {
    for (const auto& c : calls) {
      EXPECT_EQ(c.rfind("rejestry", 0), std::string::npos) << c;
      EXPECT_EQ(c.rfind("archive", 0), std::string::npos) << c;
    }
    if (os::file_exists(std::string_view(prog + "zuv.exe"))) {
      EXPECT_EQ(test::read_all(prog + "zuv.exe"), "stary zuv");
    }
  }
};

TEST_F(UpgradeEntry, ScreenProposesTheRecordedProgramAndLeavesWithoutInstalling) {
  make_installed();
  make_database();
  fe.add_answer("1");
  EXPECT_EQ(UPGRADE(env), Outcome::None);
  EXPECT_NE(transcript().find("PROGRAM ZUV na rok 2026 [" + prog + "]"), std::string::npos) << transcript();
  EXPECT_TRUE(calls.empty());
}

TEST_F(UpgradeEntry, ProgramDirectoryRefusals) {
  EXPECT_EQ(attempt("   "), Outcome::Refused);
  EXPECT_TRUE(shown("Katalog Programu", "Nie wprowadzono katalogu, z bieżącą wersją ZUV")) << transcript();

  // An empty directory, then one with the program but without its library.
  mkdirs(prog);
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  make_installed();
  EXPECT_TRUE(os::delete_file(prog + "ot4xb.dll").ok());
  EXPECT_EQ(attempt(prog.substr(0, prog.size() - 1)), Outcome::Refused);  // "\" added
  EXPECT_TRUE(shown("Błąd katalogu", "Wskazany katalog z bieżącym Programem nie zawiera;Programu ZUV w wersji Windows"))
      << transcript();
  expect_untouched();
}

TEST_F(UpgradeEntry, ProgramYearAndVersionRefusals) {
  make_database();
  make_installed("25.01.050", "2025");
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd", "Wskazany program obowiązuje w roku 2025")) << transcript();

  make_installed("26.01.034");  // above the release's 26.01.033
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błędna wersja", "Instalowana wersja ZUV jest niższa od wersji istniejącej.;Bieżąca wersja=26.01.034"))
      << transcript();

  make_installed("25.01.049");  // one step below the minimum
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błędna wersja", "Minimalna wersja ZUV dla której można wykonać upgrade;wynosi dla roku 2026 25.01.050"))
      << transcript();
  expect_untouched();
  EXPECT_TRUE(calls.empty());
}

TEST_F(UpgradeEntry, MinimumVersionAndReleaseVersionAreAccepted) {
  make_database("026.01.033");
  make_installed("25.01.050");
  EXPECT_EQ(attempt(prog), Outcome::Success);
  make_installed("26.01.033");
  EXPECT_EQ(attempt(prog), Outcome::Success);
}

TEST_F(UpgradeEntry, DatabaseRefusals) {
  make_installed();
  database_path("   ");
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Katalog Bazy danych", "Katalog z bazą danych jest pusty;Uruchom ZUV i wskaż poprawny katalog z bazą"))
      << transcript();

  database_path(baza.substr(0, baza.size() - 1));  // no database there yet
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd bazy", "Nie można otworzyć pliku;" + baza + "wersja.dbf")) << transcript();

  make_database("026.01.016", "25.01.050", "T", "2027");
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd", "Baza wskazanego programu obowiązuje w roku 2027")) << transcript();
  expect_untouched();
  EXPECT_TRUE(calls.empty());
}

TEST_F(UpgradeEntry, NewerDatabaseIsRefusedNamingTheProgramThatUpgradedIt) {
  make_installed();
  make_database("026.01.040", "26.01.040");
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd bazy",
                    "Bieżąca wersja Bazy jest większa od wymaganej przez program;Zainstaluj nowszą wersję "
                    "programu!;minimum 26.01.040"))
      << transcript();
  expect_untouched();
}

TEST_F(UpgradeEntry, RunningSenderIsWaitedForThenRefused) {
  make_installed();
  make_database();
  file(prog + "zuv.ksef.exe", "nadawca");
  os::fault::Scope scope;
  os::fault::arm_from(os::fault::Op::Delete, 1, 32);  // the running sender holds its file
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  os::fault::disarm();
  EXPECT_TRUE(shown("Błąd",
                    "Aktualnie zainstalowany program Zuv pobiera lub wysyła;faktury do/z KSeF. Poczekaj 2 minuty lub "
                    "spróbuj za chwilę"))
      << transcript();
  EXPECT_GE(paused_cs, 500);  // five rounds of a second
  EXPECT_TRUE(calls.empty());
  expect_untouched();
}

TEST_F(UpgradeEntry, StoppedSenderFileIsRemovedAndTheWorkGoesOn) {
  make_installed();
  make_database("026.01.033");
  file(prog + "zuv.ksef.exe", "nadawca");
  EXPECT_EQ(attempt(prog), Outcome::Success);
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "zuv.ksef.exe")));
}

TEST_F(UpgradeEntry, DecliningTheEstimateChangesNothing) {
  make_installed();
  make_database();
  estimate_answer = false;
  EXPECT_EQ(attempt(prog, 0), Outcome::Refused);
  EXPECT_EQ(calls, (std::vector<std::string>{"estimate 25.01.050"}));
  expect_untouched();
}

TEST_F(UpgradeEntry, CleanUpgradeDeploysThenRecordsThenArchives) {
  make_installed();
  make_database("026.01.016", "26.01.010");
  EXPECT_EQ(attempt(prog), Outcome::Success);
  EXPECT_EQ(calls, (std::vector<std::string>{"estimate 26.01.010", "test B", "upgrade 026.01.016", "test P",
                                             "L26_01_016", "L26_01_024", "rejestry " + prog + " " + baza + " 2026",
                                             "archive " + baza, "store"}));
  EXPECT_TRUE(shown("Powodzenie!", "Instalacja zakończona powodzeniem.")) << transcript();
}

TEST_F(UpgradeEntry, PartialUpgradeArchivesThenDeploysThenRecordsAndWarns) {
  make_installed();
  make_database();
  upgrade_answer = "01";
  EXPECT_EQ(attempt(prog), Outcome::Partial);
  EXPECT_EQ(calls, (std::vector<std::string>{"estimate 25.01.050", "test B", "upgrade 026.01.016", "test P",
                                             "archive " + baza, "L26_01_001", "L26_01_016", "L26_01_024",
                                             "rejestry " + prog + " " + baza + " 2026", "store"}));
  EXPECT_TRUE(shown("Ostrzeżenie!", "Część firm nie została zainstalowana.;Zobacz raport z instalacji"))
      << transcript();
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
}

TEST_F(UpgradeEntry, UpgradeRefusalIsShownAndNothingIsDeployed) {
  make_installed();
  make_database();
  upgrade_answer = "W programie ZUV pracują inni użytkownicy.;Kontynuacja instalacji jest niemożliwa!";
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd instalacji", upgrade_answer)) << transcript();
  EXPECT_EQ(calls, (std::vector<std::string>{"estimate 25.01.050", "test B", "upgrade 026.01.016"}));
  expect_untouched();
}

TEST_F(UpgradeEntry, FinishedDatabaseOfTheReleaseSkipsItsUpgradeButUnfinishedOneRunsIt) {
  make_installed();
  make_database("026.01.033", "26.01.033", "T");
  EXPECT_EQ(attempt(prog), Outcome::Success);
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("upgrade", 0) == 0; }),
            0);
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");

  calls.clear();
  make_database("026.01.033", "26.01.033", "N");  // an earlier run broke off
  EXPECT_EQ(attempt(prog), Outcome::Success);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "upgrade 026.01.033"), 1);
}

TEST_F(UpgradeEntry, FailedDiskTestsStop) {
  make_installed();
  make_database();
  failing_disk = baza;
  EXPECT_EQ(attempt(prog, 0), Outcome::Refused);
  EXPECT_EQ(calls, (std::vector<std::string>{"estimate 25.01.050", "test B"}));

  calls.clear();
  failing_disk = prog;
  EXPECT_EQ(attempt(prog, 0), Outcome::Refused);
  EXPECT_EQ(calls, (std::vector<std::string>{"estimate 25.01.050", "test B", "upgrade 026.01.016", "test P"}));
  expect_untouched();
}

// The checked start comes after the flow's own checks and before its first change (the
// sender's file): its refusal leaves the program and the database as they were.
TEST_F(UpgradeEntry, CheckedStartRefusesBeforeTheFirstChange) {
  make_installed();
  make_database();
  file(prog + "zuv.ksef.exe", "nadawca");
  env.upgrade.check_start = [this](const std::string& b, const std::string& p, upgrade::StartKind kind) {
    calls.push_back("check " + b + " " + p + (kind == upgrade::StartKind::Upgrade ? " upgrade" : " ?"));
    return std::string("Brak pliku wzorca;.\\str\\ks_dok.dbf");
  };
  const auto program = tree(prog), database = tree(baza);
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(shown("Błąd", "Brak pliku wzorca;.\\str\\ks_dok.dbf")) << transcript();
  EXPECT_EQ(calls, (std::vector<std::string>{"check " + baza + " " + prog + " upgrade"}));
  EXPECT_EQ(tree(prog), program);
  EXPECT_EQ(tree(baza), database);

  // The flow's own refusals come first.
  calls.clear();
  make_installed("25.01.049");
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_TRUE(calls.empty());
}

// A library held by a workstation: the database was upgraded, the program stays the old
// one, the message names the file, and neither the registry nor the program's version
// record claims the new version. Without the upgrade nothing at all was changed.
TEST_F(UpgradeEntry, ProgramFileThatCannotBeReplacedStopsBeforeTheRegistry) {
  make_installed();
  make_database();
  file(rel + "zuv_pl.dll", "nowa zuv_pl");
  file(prog + "zuv_pl.dll", "stara zuv_pl");
  const auto program = tree(prog);
  os::FileHandle held;
  ASSERT_EQ(held.open(os::native_path(prog + "zuv_pl.dll"), os::Access::Read, os::Share::Shared), 0);
  EXPECT_EQ(attempt(prog), Outcome::Failed);
  EXPECT_NE(transcript().find("\"Błąd instalacji\" | Nie można zastąpić pliku / " + prog + "zuv_pl.dll"),
            std::string::npos)
      << transcript();
  EXPECT_EQ(calls, (std::vector<std::string>{"estimate 25.01.050", "test B", "upgrade 026.01.016", "test P"}));
  EXPECT_EQ(tree(prog), program);
  EXPECT_EQ(field(prog + "wersja.dbf", "zuv"), "25.01.050");
  EXPECT_EQ(field(baza + "wersja.dbf", "zuv"), "25.01.050");

  calls.clear();
  make_database("026.01.033", "26.01.033", "T");
  EXPECT_EQ(attempt(prog), Outcome::Refused);
  EXPECT_EQ(tree(prog), program);
  expect_untouched();
}

}  // namespace
}  // namespace zuv::flows::testing
