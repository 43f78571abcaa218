// The headless command: its command line, exit codes, outputs and the plan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "app/command_line.h"
#include "app/headless_upgrade.h"
#include "app/native_display.h"
#include "platform/os/path.h"
#include "support/table_support.h"
#include "lib/files.h"
#include "platform/os/codepage.h"
#include "platform/os/fault.h"
#include "upgrade/recovery.h"
#include "upgrade/run_note.h"
#include "upgrade/upgrade_fixture.h"

namespace zuv::upgrade::testing {
namespace {

class Headless : public UpgradeTest {
 protected:
  app::CommandLine line(bool plan = false) {
    std::string error;
    std::vector<std::string> args = {"zuvinst", kWersjaP, kWersjaB, "2026", "--upgrade-db", db, "--program", prog};
    if (plan) args.push_back("--plan");
    auto cl = app::parse_command_line(args, &error);
    EXPECT_TRUE(cl) << error;
    return *cl;
  }
  int run_command(const app::CommandLine& cl) {
    out.str("");
    err.str("");
    app::ReleaseSteps steps{fake_tables(), nullptr, true};
    return app::run_headless_upgrade(cl, steps, areas, out, err, rel);
  }
  // The run's texts show the directories in the form they were given (native here on
  // Linux).
  std::string shown(const std::string& text) const { return app::shown_as_given(app::given_natively({db}), text); }
  std::ostringstream out, err;
};

TEST(HeadlessLine, OptionsAreReadAndCheckedTogether) {
  std::string error;
  auto cl = app::parse_command_line({"z", "1", "2", "3", "--upgrade-db=D:\\baza", "--program", "/srv/zuv", "--plan"},
                                    &error);
  ASSERT_TRUE(cl) << error;
  EXPECT_EQ(cl->upgrade_db, "D:\\baza");
  EXPECT_EQ(cl->program_dir, "/srv/zuv");
  EXPECT_TRUE(cl->plan);
  EXPECT_FALSE(app::parse_command_line({"z", "1", "2", "3", "--upgrade-db", "D:\\baza"}, &error));
  EXPECT_EQ(error, "Aktualizacja bazy (--upgrade-db) wymaga katalogu programu (--program).");
  EXPECT_FALSE(app::parse_command_line({"z", "1", "2", "3", "--plan"}, &error));
  EXPECT_FALSE(app::parse_command_line({"z", "1", "2", "3", "--upgrade-db"}, &error));
  EXPECT_EQ(cl->workers, 1);
  cl = app::parse_command_line({"z", "1", "2", "3", "--upgrade-db", "/b", "--program", "/p", "--workers", "2"}, &error);
  ASSERT_TRUE(cl) << error;
  EXPECT_EQ(cl->workers, 2);
  for (const char* bad : {"0", "17", "2x", ""}) {
    EXPECT_FALSE(app::parse_command_line({"z", "1", "2", "3", "--upgrade-db", "/b", "--program", "/p",
                                          std::string("--workers=") + bad},
                                         &error))
        << bad;
    EXPECT_EQ(error, "Po --workers podaj liczbę firm aktualizowanych naraz (od 1 do 16).");
  }
  EXPECT_FALSE(app::parse_command_line({"z", "1", "2", "3", "--workers", "2"}, &error));
  EXPECT_EQ(app::directory_text("/srv/zuv"), "\\srv\\zuv\\");
  EXPECT_EQ(app::directory_text("D:\\baza\\"), "D:\\baza\\");
}

TEST_F(Headless, ExitCodesFollowTheDriversAnswer) {
  make_database("026.01.016");
  make_register({1, 2});
  make_firm(1, "026.01.016");
  make_firm(2, "026.01.016");
  step_log().fail_firm = 2;
  EXPECT_EQ(run_command(line()), 1);
  EXPECT_EQ(out.str(), shown("Nie udało się zaktualizować firm: 2\nOpis błędów: " + rel + "error.log\n"));
  // The progress: firm, firms left, time left, end time; not a terminal here, so a line
  // of its own per firm.
  EXPECT_NE(err.str().find("\nFirma: (0002):Firma 2  pozostało firm: 0/2"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find('\r'), std::string::npos) << err.str();

  step_log().fail_firm = -1;
  EXPECT_EQ(run_command(line()), 0);  // the failed firm resumes; the others are current
  EXPECT_EQ(read_field(db + "firma2\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "T");
  EXPECT_FALSE(exists(rel + "error.log"));  // the failed run's log went with the run

  make_register({1}, /*deleted=*/true);
  EXPECT_EQ(run_command(line()), 2);
  EXPECT_EQ(err.str().substr(err.str().rfind("Baza")), "Baza danych nie zawiera żadnej firmy!\n");
}

TEST_F(Headless, SemaphoreHeldByAnotherProcessRefuses) {
  std::string tool = zuv::testing::table_tool_path("zuv-dbtool");
  if (tool.empty()) GTEST_SKIP() << "zuv-dbtool not built";
  make_database("026.01.016");
  make_register({1});
  make_firm(1, "026.01.016");
  std::string sem = db + "str\\nazwy.dbf";
  zuv::testing::table_write_bytes(os::native_path(sem), bytes(rel + "str\\nazwy.dbf"));
  zuv::testing::TableChild child;
  std::string ready = os::native_path(db + "ready"), stop = os::native_path(db + "stop");
  ASSERT_TRUE(child.start({tool, "hold", os::native_path(sem), "--ready", ready, "--stop", stop}));
  ASSERT_TRUE(zuv::testing::table_wait_for_file(ready, 30000));
  EXPECT_EQ(run_command(line()), 2);
  EXPECT_EQ(err.str(), "W programie ZUV pracują inni użytkownicy.\nKontynuacja instalacji jest niemożliwa!\n");
  EXPECT_EQ(read_field(db + "firma1\\wersja.dbf", "baza"), "026.01.016");
  zuv::testing::table_write_bytes(stop, "");
  EXPECT_EQ(child.wait(), 0);
}

TEST_F(Headless, PlanPrintsWhatWouldRunAndChangesNothing) {
  make_database("026.01.016");
  make_register({1, 2, 3, 4});
  make_firm(1, "026.01.016");
  make_firm(2, "026.01.033");
  make_firm(3, "013.01.001");
  make_firm(4, "026.01.016");
  std::remove(os::native_path(db + "firma4\\ks_dok.dbf").c_str());
  auto before = snapshot(os::native_path(db));
  auto release_before = snapshot(os::native_path(rel));
  EXPECT_EQ(run_command(line(true)), 0);
  EXPECT_EQ(snapshot(os::native_path(db)), before);
  EXPECT_EQ(snapshot(os::native_path(rel)), release_before);
  EXPECT_TRUE(step_log().calls.empty());
  const std::string d = app::directory_text(db);
  EXPECT_EQ(out.str(),
            shown("Baza danych: " + d + " (wersja 026.01.016)\n"
            "Kroki struktury: STR_26_01_027 STR_26_01_032\n"
            "Firma 1 (" + d + "firma1\\): wersja 026.01.016, kroki: I_26_01_017 I_26_01_030 I_26_01_033, "
            "pełna reindeksacja: nie\n"
            "Firma 2 (" + d + "firma2\\): wersja 026.01.033, aktualna\n"
            "Firma 3 (" + d + "firma3\\): wersja 013.01.001 (przyjęta 026.01.016), kroki: I_26_01_017 "
            "I_26_01_030 I_26_01_033, pełna reindeksacja: nie\n"
            "Firma 4 (" + d + "firma4\\): pominięta, brak pliku ks_dok.dbf\n"
            "Indeksy tabel wspólnych: tak, naprawa tabel PIT: tak\n"));
}

}  // namespace
}  // namespace zuv::upgrade::testing

namespace zuv::upgrade::testing {
namespace {

// The release's own steps as the program links them: a firm that has only its core
// files cannot be converted, and is reported while the run ends.
TEST_F(Headless, ReleaseStepsReportAFirmWithoutItsTables) {
  app::ReleaseSteps real = app::release_steps();
  ASSERT_TRUE(real.available);
  // The test's release carries only what these firms need, not the whole release.
  real.tables.release_files = nullptr;
  make_database("026.01.032");
  make_register({1, 2});
  make_firm(1, "026.01.032");
  make_firm(2, "026.01.033");
  out.str("");
  EXPECT_EQ(app::run_headless_upgrade(line(true), real, areas, out, err, rel), 0);
  EXPECT_NE(out.str().find(shown("Firma 1 (" + app::directory_text(db) + "firma1\\): wersja 026.01.032, kroki: I_26_01_033")),
            std::string::npos)
      << out.str();
  EXPECT_EQ(app::run_headless_upgrade(line(), real, areas, out, err, rel), 1) << err.str();
  EXPECT_EQ(read_field(db + "firma1\\wersja.dbf", "baza"), "026.01.032");
  EXPECT_EQ(read_field(db + "firma2\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_NE(bytes(rel + "error.log").find("firmy nr: 1."), std::string::npos);
}

}  // namespace
}  // namespace zuv::upgrade::testing

namespace zuv::upgrade::testing {
namespace {

// Every refusal comes before the first change: the release, the database and the
// program are byte for byte as they were, and the plan gives the same verdict.
class CheckedStart : public Headless {
 protected:
  void expect_refused(const std::string& said, const std::string& database = "") {
    if (!database.empty()) db_given = database;
    const auto before_db = snapshot(os::native_path(db)), before_rel = snapshot(os::native_path(rel)),
               before_prog = snapshot(os::native_path(prog));
    EXPECT_EQ(run_command(command(true)), 2);
    EXPECT_NE(out.str().find("Odmowa: "), std::string::npos) << out.str();
    EXPECT_EQ(run_command(command(false)), 2);
    EXPECT_NE(err.str().find(shown(said)), std::string::npos) << err.str();
    EXPECT_TRUE(step_log().calls.empty());
    EXPECT_EQ(snapshot(os::native_path(db)), before_db);
    EXPECT_EQ(snapshot(os::native_path(rel)), before_rel);
    EXPECT_EQ(snapshot(os::native_path(prog)), before_prog);
  }
  // A text naming the directories as the run shows them: in the form they were given.
  std::string shown(const std::string& text) const {
    return app::shown_as_given(app::given_natively({db_given.empty() ? db : db_given, prog}), text);
  }
  app::CommandLine command(bool plan) {
    std::string error;
    std::vector<std::string> args = {"zuvinst", kWersjaP, kWersjaB, "2026", "--upgrade-db",
                                     db_given.empty() ? db : db_given, "--program", prog};
    if (plan) args.push_back("--plan");
    return *app::parse_command_line(args, &error);
  }
  void sound_database(const std::string& version = "026.01.016") {
    make_database(version);
    make_register({1, 2});
    make_firm(1, "026.01.016");
    make_firm(2, "026.01.016");
  }
  std::string db_given;
};

TEST_F(CheckedStart, DatabaseNewerThanTheReleaseIsNotTouched) {
  sound_database("027.01.001");
  expect_refused("Bieżąca wersja Bazy jest większa od wymaganej przez program\nZainstaluj nowszą wersję "
                 "programu!\nminimum 25.01.050");
}

TEST_F(CheckedStart, DatabaseVersionMustBeReadable) {
  sound_database("");
  expect_refused("Nieprawidłowa wersja bazy danych");
  sound_database("26.1.16");
  expect_refused("\"26.1.16\"");
}

TEST_F(CheckedStart, RegisterMustNumberItsFirmsOnce) {
  sound_database();
  make_table(db + "install.dbf", {{"NR", 'C', 4, 0}}, {{{"NR", table::Value::of_text("5")}}});
  expect_refused("pole NR nie jest liczbą");
  make_register({1, 2, 1});
  expect_refused("dwa razy firmę nr 1");
  // A damaged header: the register cannot be read at all.
  make_register({1, 2});
  std::string header = bytes(db + "install.dbf");
  header[8] = header[9] = '\xff';  // a header longer than the file
  zuv::testing::table_write_bytes(os::native_path(db + "install.dbf"), header);
  expect_refused("uszkodzony plik \"install.dbf\"");
}

TEST_F(CheckedStart, DirectoriesMustBeWhatTheyAreSaidToBe) {
  sound_database();
  // The program's directory given as the database's.
  expect_refused("nie jest katalogiem bazy danych ZUV:\nbrak pliku", prog);
  db_given.clear();
  std::remove(os::native_path(prog + "baza.dbf").c_str());
  expect_refused("nie jest katalogiem programu ZUV:\nbrak pliku " + app::directory_text(prog) + "baza.dbf");
}

TEST_F(CheckedStart, DamagedOrForeignReleaseIsNotInstalled) {
  sound_database();
  // A template whose header claims more records than the file holds.
  std::string sem = bytes(rel + "str\\nazwy.dbf");
  sem[4] = sem[5] = '\xff';
  zuv::testing::table_write_bytes(os::native_path(rel + "str\\nazwy.dbf"), sem);
  expect_refused("uszkodzony plik " + rel + "str\\nazwy.dbf");
  // A directory that is not the release at all.
  std::remove(os::native_path(rel + "str\\nazwy.dbf").c_str());
  std::remove(os::native_path(rel + "wb.dbf").c_str());
  expect_refused("nie jest katalogiem wydania 26.01.033\nbrak pliku " + rel + "wb.dbf");
}

// The release's own list: every template the steps copy must be in its directory.
TEST_F(CheckedStart, ReleaseMustCarryEveryTemplateOfItsSteps) {
  sound_database();
  std::vector<std::string> files = {"str\\nazwy.dbf", "str\\v_inne.dbf"};
  env.steps.release_files = &files;
  app::ReleaseSteps steps{env.steps, nullptr, true};
  steps.tables.release_files = &files;
  out.str("");
  err.str("");
  EXPECT_EQ(app::run_headless_upgrade(command(false), steps, areas, out, err, rel), 2);
  EXPECT_NE(err.str().find(shown("brak pliku " + rel + "str\\v_inne.dbf")), std::string::npos) << err.str();
  EXPECT_TRUE(step_log().calls.empty());
}

TEST_F(CheckedStart, SkippedFirmIsSaidAndUnreadableVersionFailsThatFirmAlone) {
  make_database("026.01.016");
  make_register({1, 2, 3});
  make_firm(1, "ABC");
  make_firm(2, "026.01.016");
  make_firm(3, "026.01.016");
  std::remove(os::native_path(db + "firma3\\ks_dok.dbf").c_str());
  EXPECT_NE(run_command(command(true)), 2);
  EXPECT_NE(out.str().find(shown("Firma 1 (" + app::directory_text(db) + "firma1\\): nie zostanie zaktualizowana: "
                           "Nieprawidłowa wersja danych firmy w pliku wersja.dbf: \"ABC\"")),
            std::string::npos)
      << out.str();
  EXPECT_EQ(run_command(command(false)), 1);
  EXPECT_NE(out.str().find("Firma nr: 3 pominięta: brak pliku ks_dok.dbf\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Nie udało się zaktualizować firm: 1\n"), std::string::npos) << out.str();
  const std::string report = os::utf8_from_1250(bytes(db + "public\\ins_raport.txt"));
  EXPECT_NE(report.find("Nieprawidłowa wersja danych firmy"), std::string::npos) << report;
  EXPECT_NE(report.find("Firma nr: 3 pominięta: brak pliku ks_dok.dbf"), std::string::npos) << report;
  EXPECT_EQ(read_field(db + "firma1\\wersja.dbf", "baza"), "ABC");
  EXPECT_EQ(read_field(db + "firma2\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "N");
}

// A firm that failed in a run of this release is finished on the retry from its own
// version: never taken for current by the move up to the database's version, which
// the first run already raised to the release's.
TEST_F(CheckedStart, FirmThatFailedIsCarriedThroughOnTheRetry) {
  for (bool note_lost : {false, true}) {
    SCOPED_TRACE(note_lost ? "without the run note" : "with the run note");
    step_log() = StepLog{};
    make_database("022.01.050");
    make_register({1, 2});
    make_firm(1, "022.01.050");
    make_firm(2, "022.01.050");
    step_log().fail_firm = 1;
    step_log().fail_step = "026.01.001";
    EXPECT_EQ(run_command(command(false)), 1);
    EXPECT_EQ(read_field(db + "wersja.dbf", "baza"), kWersjaB);
    EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "N");
    if (note_lost) std::remove(os::native_path(db + "odzysk.txt").c_str());
    step_log().fail_firm = -1;
    step_log().calls.clear();
    EXPECT_EQ(run_command(command(true)), 0);
    EXPECT_NE(out.str().find(shown("firma1\\): wersja 022.01.050, kroki: I_26_01_001")), std::string::npos) << out.str();
    EXPECT_EQ(run_command(command(false)), 0) << err.str();
    EXPECT_NE(std::find(step_log().calls.begin(), step_log().calls.end(), "I_26_01_001@firma1"),
              step_log().calls.end());
    EXPECT_EQ(read_field(db + "firma1\\wersja.dbf", "baza"), kWersjaB);
    EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "T");
    EXPECT_FALSE(exists(db + "odzysk.txt"));
    EXPECT_FALSE(exists(db + "baza_id.txt"));
  }
}

// A leftover note lists firms as done; only a note of this database and release counts,
// and then only for a firm whose own version record agrees.
TEST_F(CheckedStart, LeftoverRunNoteDoesNotPassOverFirms) {
  sound_database();
  ASSERT_TRUE(lib::WRITEFILE(db + "odzysk.txt", "026.01.016\r\nbaza=obca\r\nwydanie=026.01.033\r\n1\r\n2\r\n"));
  EXPECT_EQ(run_command(command(false)), 0) << err.str();
  EXPECT_EQ(read_field(db + "firma1\\wersja.dbf", "baza"), kWersjaB);
  EXPECT_EQ(read_field(db + "firma2\\wersja.dbf", "baza"), kWersjaB);

  sound_database();
  RunNote note = note_run_start(db, "026.01.016", kWersjaB, false);
  ASSERT_TRUE(note_firm_finished(db, note, 1));
  step_log().calls.clear();
  EXPECT_EQ(run_command(command(false)), 0) << err.str();
  EXPECT_EQ(read_field(db + "firma1\\wersja.dbf", "baza"), kWersjaB);
}

// A semaphore that cannot be made is an error of the run, not other users at work.
TEST_F(CheckedStart, SemaphoreThatCannotBeMadeIsAnErrorNotOthersAtWork) {
  sound_database();
  os::fault::Scope scope;
  os::fault::arm_from(os::fault::Op::Copy, 1, os::oscode::kAccessDenied);
  EXPECT_EQ(run_command(command(false)), 3);
  EXPECT_NE(err.str().find("nie można utworzyć pliku"), std::string::npos) << err.str();
  EXPECT_EQ(err.str().find("pracują inni"), std::string::npos) << err.str();
}

// An error outside the firms stops the run unfinished, and the next run does the shared
// work again: the indexes and, for an old database, the PIT repair.
TEST_F(CheckedStart, FailedSharedIndexStopsTheRunAndTheRetryRepeatsIt) {
  sound_database();
  std::remove(os::native_path(db + "public\\limity.dbf").c_str());
  EXPECT_EQ(run_command(command(false)), 3);
  EXPECT_NE(err.str().find("indeksów tabel wspólnych"), std::string::npos) << err.str();
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "N");
  EXPECT_TRUE(exists(db + "odzysk.txt"));
  make_shared_tables(false);
  EXPECT_EQ(run_command(command(true)), 0);
  EXPECT_NE(out.str().find("naprawa tabel PIT: tak"), std::string::npos) << out.str();
  EXPECT_EQ(run_command(command(false)), 0) << err.str();
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "T");
  EXPECT_TRUE(exists(db + "public\\fpit.cdx"));
}

}  // namespace
}  // namespace zuv::upgrade::testing
