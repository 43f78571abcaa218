// The upgrade driver and the per-firm dispatcher over small databases built here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "lib/files.h"
#include "support/table_support.h"
#include "platform/gui/script.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "support/script_interrupt.h"
#include "ui/alarm.h"
#include "ui/licznik.h"
#include "upgrade/firm_lifecycle.h"
#include "upgrade/firm_records.h"
#include "upgrade/upgrade_fixture.h"

namespace zuv::upgrade::testing {
namespace {

using ::testing::ElementsAre;

class Driver : public UpgradeTest {
 protected:
  std::string firm_dir(int nr) { return db + "firma" + std::to_string(nr) + "\\"; }
  std::string firm_version(int nr) { return read_field(firm_dir(nr) + "wersja.dbf", "baza"); }
};

// A firm that fails is reported and the others finish; the reports are byte-exact.
TEST_F(Driver, OneFailingFirmIsReportedWhileTheOthersFinish) {
  make_database("026.01.016");
  make_register({1, 2, 3});
  for (int n : {1, 2, 3}) make_firm(n, "026.01.016");
  step_log().fail_firm = 2;
  UpgradeOutcome outcome;
  EXPECT_EQ(run("026.01.016", &outcome), "01");
  EXPECT_EQ(firm_version(1), "026.01.033");
  EXPECT_EQ(firm_version(3), "026.01.033");
  EXPECT_EQ(firm_version(2), "026.01.016");  // its first step failed: nothing recorded
  EXPECT_THAT(outcome.failed, ElementsAre(2));
  EXPECT_EQ(outcome.firms, 3);
  // Steps from 017 on (compared with 016 as read), firm 2 stopped at its first.
  EXPECT_THAT(step_log().calls,
              ElementsAre("STR_26_01_027", "STR_26_01_032", "I_26_01_017@firma1", "I_26_01_030@firma1",
                          "I_26_01_033@firma1", "I_26_01_017@firma2", "I_26_01_017@firma3", "I_26_01_030@firma3",
                          "I_26_01_033@firma3"));

  // error.log in the release directory: CP1250, CR LF.
  EXPECT_EQ(bytes(rel + "error.log"),
            "Nie uda\xB3o si\xEA zainstalowa\xE6 firmy nr: 2. Napraw firm\xEA i spr\xF3"
            "buj jeszcze raz!\r\n");
  std::string report = bytes(db + "public\\ins_raport.txt");
  // "(yyyy.mm.dd/hh:mm)" then the heading; the second line is 48 dashes.
  ASSERT_GT(report.size(), 20u);
  EXPECT_EQ(report[0], '(');
  EXPECT_EQ(report.substr(11, 1), "/");
  size_t head_end = report.find("\r\n");
  EXPECT_EQ(report.substr(18, head_end - 18), "  Raport z instalacji wersji: 26.01.033");
  std::string rest = report.substr(head_end + 2);
  EXPECT_EQ(rest.substr(0, 50), std::string(48, '-') + "\r\n");
  EXPECT_EQ(rest.substr(50, 40), "Firma nr: 2 B\xB3\xB9" "d podczas instalacji:\r\n\r\n");
  EXPECT_NE(rest.find("Uszkodzona tabela"), std::string::npos);
  EXPECT_EQ(rest.find(';'), std::string::npos);  // every ';' became a line break
  for (size_t at = rest.find('\n'); at != std::string::npos; at = rest.find('\n', at + 1))
    EXPECT_EQ(rest[at - 1], '\r');

  // The release's version record is in, but not marked finished.
  EXPECT_EQ(read_field(db + "wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "N");
}

// Two firms at once, each in a process of its own: the same firms done and failed, the
// report in register order, and nothing of the workers left behind.
TEST_F(Driver, FirmsUpgradedTwoAtOnceEndAsOneAtATime) {
  make_database("026.01.016");
  make_register({1, 2, 3, 4});
  for (int n : {1, 2, 3, 4}) make_firm(n, "026.01.016");
  step_log().fail_firm = 2;
  env.workers = 2;
  UpgradeOutcome outcome;
  EXPECT_EQ(run("026.01.016", &outcome), "01");
  for (int n : {1, 3, 4}) {
    EXPECT_EQ(firm_version(n), "026.01.033") << n;
    EXPECT_FALSE(exists(firm_dir(n) + "odzysk\\firma.txt")) << n;
  }
  EXPECT_EQ(firm_version(2), "026.01.016");
  EXPECT_THAT(outcome.failed, ElementsAre(2));
  std::string report = bytes(db + "public\\ins_raport.txt");
  EXPECT_NE(report.find("Firma nr: 2 B"), std::string::npos);
  EXPECT_NE(report.find("Uszkodzona tabela"), std::string::npos);
  for (const char* worker : {"zuv_w1", "zuv_w2"})
    EXPECT_FALSE(os::directory_exists(std::string_view(prog + "temp\\" + worker))) << worker;
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "N");
}

TEST_F(Driver, ACleanRunMarksTheDatabaseFinishedAndWritesNoReport) {
  make_database("026.01.030");
  make_register({1, 2});
  make_firm(1, "026.01.030");
  make_firm(2, "026.01.033");
  ui::Licznik progress;  // no view: only its arithmetic
  ops.licznik = &progress;
  EXPECT_EQ(run("026.01.030"), "00");
  ops.licznik = nullptr;
  // Last opened by the shared indexes: 15 steps.
  EXPECT_EQ(progress.title(), "Tworzenie indeksów...");
  EXPECT_EQ(progress.maximum(), 15);
  EXPECT_EQ(firm_version(1), "026.01.033");
  EXPECT_THAT(step_log().calls, ElementsAre("STR_26_01_032", "I_26_01_033@firma1"));
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "T");
  EXPECT_EQ(read_field(db + "wersja.dbf", "baza"), "026.01.033");
  EXPECT_FALSE(exists(rel + "error.log"));
  EXPECT_FALSE(exists(db + "public\\ins_raport.txt"));
  // No report for a current firm, and its backup directory was never made.
  EXPECT_FALSE(exists(firm_dir(1) + "ins_raport.txt"));
  EXPECT_FALSE(os::directory_exists(std::string_view(firm_dir(2) + "bak")));
  EXPECT_TRUE(os::directory_exists(std::string_view(db + "temp")));
  // Semaphore copied from the release; EU codes made for the steps.
  EXPECT_TRUE(exists(db + "str\\nazwy.dbf"));
}

TEST_F(Driver, SecondRunChangesNoFirmFile) {
  make_database("026.01.016");
  make_register({1, 2});
  make_firm(1, "026.01.016");
  make_firm(2, "025.01.001");
  ASSERT_EQ(run("026.01.016"), "00");
  auto before = snapshot(os::native_path(db));
  step_log().calls.clear();
  ASSERT_EQ(run(read_field(db + "wersja.dbf", "baza")), "00");
  EXPECT_TRUE(step_log().calls.empty());
  auto after = snapshot(os::native_path(db));
  for (const auto& [name, content] : before) {
    if (name.rfind("firma", 0) != 0) continue;
    EXPECT_TRUE(after[name] == content) << name;
  }
}

TEST_F(Driver, SemaphoreHeldByAnotherProgramRefusesBeforeAnythingChanges) {
  make_database("026.01.016");
  make_register({1});
  make_firm(1, "026.01.016");
  EXPECT_TRUE(lib::FCOPY(rel + "str\\nazwy.dbf", db + "str\\nazwy.dbf"));
  table::WorkAreas other;
  table::DBESYS(other, [](const std::string&) {});
  table::STARTINIT(other);
  ASSERT_TRUE(tables::USEEX(other, db + "str\\nazwy.dbf", "sem"));
  auto before = snapshot(os::native_path(db));
  EXPECT_EQ(run("026.01.016"), kMsgOthersWorking);
  EXPECT_EQ(std::string(kMsgOthersWorking),
            "W programie ZUV pracują inni użytkownicy.;Kontynuacja instalacji jest niemożliwa!");
  EXPECT_TRUE(step_log().calls.empty());
  EXPECT_EQ(snapshot(os::native_path(db)), before);
  other.close_all();
}

TEST_F(Driver, EmptyOrUnreadableRegisterRefuses) {
  make_database("026.01.016");
  EXPECT_EQ(run("026.01.016"), "Baza danych nie zawiera żadnej firmy,;lub uszkodzony plik \"install.dbf\"");
  make_register({1, 2}, /*deleted=*/true);
  EXPECT_EQ(run("026.01.016"), "Baza danych nie zawiera żadnej firmy!");
  // The structure steps had run by then; the database is not marked unfinished.
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "T");
}

TEST_F(Driver, OldDatabaseCopiesXmlAndRunsEveryStructureStep) {
  make_database("025.01.050");
  make_register({1});
  make_firm(1, "022.01.005");  // older than 023.01.001: taken as the database's version
  EXPECT_EQ(run("025.01.050"), "00");
  EXPECT_TRUE(exists(db + "str\\xml\\jpk.xml"));
  EXPECT_THAT(step_log().calls,
              ElementsAre("STR_26_01_001", "STR_26_01_015", "STR_26_01_027", "STR_26_01_032", "I_26_01_001@firma1",
                          "I_26_01_016@firma1", "I_26_01_017@firma1", "I_26_01_030@firma1", "I_26_01_033@firma1"));
}

// Esc during the loop: "Kontynuuję" goes on with the same firm, "Chcę przerwać" stops.
class Answers : public ui::MessageDialog {
 public:
  explicit Answers(int a) : answer(a) {}
  int ALARM(const std::string& kind, const std::string& title, const std::string& text,
            const std::vector<std::string>& buttons) override {
    asked.push_back(kind + "|" + title + "|" + text + "|" + buttons.at(0) + "|" + buttons.at(1));
    return answer;
  }
  int answer;
  std::vector<std::string> asked;
};

TEST_F(Driver, EscAsksAndStopsOrGoesOn) {
  make_database("026.01.030");
  make_register({1, 2});
  make_firm(1, "026.01.030");
  make_firm(2, "026.01.030");
  gui::ManualClock clock;
  gui::ScriptFrontend fe(clock);
  {
    tables::ScriptInterrupt keys(fe, {"", "Esc"});
    Answers go_on(1);
    ops.esc = &keys;
    ops.dialog = &go_on;
    EXPECT_EQ(run("026.01.030"), "00");
    ASSERT_EQ(go_on.asked.size(), 1u);
    EXPECT_EQ(go_on.asked[0],
              "5|Wstrzymanie instalacji|Gdy przerwiesz instalację, Nie będzie można;korzystać z całej bazy "
              "danych.|Kontynuuję|Chcę przerwać");
    EXPECT_EQ(firm_version(2), "026.01.033");
  }
  make_database("026.01.030");
  make_firm(1, "026.01.030");
  make_firm(2, "026.01.030");
  {
    tables::ScriptInterrupt keys(fe, {"", "Esc"});
    Answers stop(2);
    ops.esc = &keys;
    ops.dialog = &stop;
    EXPECT_EQ(run("026.01.030"), "Instalacja przerwna na życzenie użytkownika");
    EXPECT_EQ(firm_version(1), "026.01.033");
    EXPECT_EQ(firm_version(2), "026.01.030");
    EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "N");
    // The firm before the stop is finished for good, not left for the next run to undo.
    EXPECT_FALSE(exists(firm_dir(1) + "odzysk\\krok.txt"));
    EXPECT_FALSE(exists(firm_dir(1) + "odzysk\\firma.txt"));
  }
  ops.esc = nullptr;
  ops.dialog = nullptr;
}

// ---- the per-firm dispatcher -------------------------------------------------------

TEST_F(Driver, FirmPlanFollowsTheVersionRules) {
  auto names = [&](const FirmPlan& p) { return p.steps; };
  FirmPlan at016 = plan_firm("026.01.016", "026.01.016", kWersjaB, env.steps.firm);
  EXPECT_THAT(names(at016), ElementsAre("I_26_01_017", "I_26_01_030", "I_26_01_033"));
  EXPECT_FALSE(at016.full_reindex);
  EXPECT_TRUE(plan_firm("026.01.033", "026.01.016", kWersjaB, env.steps.firm).current);
  EXPECT_TRUE(plan_firm("026.01.040", "026.01.016", kWersjaB, env.steps.firm).current);
  FirmPlan old = plan_firm("020.01.001", "024.01.001", kWersjaB, env.steps.firm);
  EXPECT_TRUE(old.version_rewritten);
  EXPECT_EQ(old.version, "024.01.001");
  EXPECT_FALSE(old.full_reindex);
  // In an old database the old firm keeps its version, and gets every index rebuilt.
  FirmPlan very_old = plan_firm("013.01.001", "022.01.001", kWersjaB, env.steps.firm);
  EXPECT_FALSE(very_old.version_rewritten);
  EXPECT_TRUE(very_old.full_reindex);
  EXPECT_EQ(very_old.steps.size(), 5u);
}

TEST_F(Driver, FirmWithoutItsJournalIsSkippedAndNotReported) {
  make_firm(1, "026.01.016");
  EXPECT_TRUE(os::delete_file(firm_dir(1) + "ks_dok.dbf").ok());
  steps::RunValues values;
  std::string errors;
  MAKE_WINFIR(env, values, firm_dir(1), prog, errors, db, "026.01.016");
  EXPECT_TRUE(step_log().calls.empty());
  EXPECT_EQ(firm_version(1), "026.01.016");
}

TEST_F(Driver, OldFirmIsMovedToTheDatabaseVersionAndReindexed) {
  make_firm(1, "022.01.001");
  steps::RunValues values;
  std::string errors;
  MAKE_WINFIR(env, values, firm_dir(1), prog, errors, db, "026.01.016");
  EXPECT_THAT(step_log().calls, ElementsAre("I_26_01_017@firma1", "I_26_01_030@firma1", "I_26_01_033@firma1"));

  make_firm(2, "013.01.009");
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(2) + "rob1.tmp", "x"));
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(2) + "a_old.txt", "x"));
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(2) + "stare.ntx", "x"));
  make_table(firm_dir(2) + "ntx.dbf", {{"OK", 'L', 1, 0}}, {{{"OK", table::Value::of_logical(false)}}});
  SpeedIndicator speed;
  env.speed = &speed;
  values.num_fir = 2;
  MAKE_WINFIR(env, values, firm_dir(2), prog, errors, db, "013.01.001");
  EXPECT_EQ(read_field(firm_dir(2) + "wersja.dbf", "baza"), "026.01.033");
  EXPECT_EQ(speed.wskaznik, 5);
  EXPECT_FALSE(exists(firm_dir(2) + "rob1.tmp"));
  EXPECT_FALSE(exists(firm_dir(2) + "a_old.txt"));
  EXPECT_FALSE(exists(firm_dir(2) + "stare.ntx"));
  EXPECT_TRUE(exists(firm_dir(2) + "ks_dok.dbf"));
  EXPECT_TRUE(exists(firm_dir(2) + "ks_dok.cdx"));  // rebuilt from the catalogue
  env.speed = nullptr;
}

TEST_F(Driver, BackupDirectoryIsEmptiedUnlessMarkedAndStepLinesMakeTheFirmReport) {
  make_firm(1, "026.01.030");
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm_dir(1) + "bak")));
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm_dir(1) + "bak\\k")));
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(1) + "bak\\old.dbf", "x"));
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(1) + "bak\\k\\old.dbf", "x"));
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(1) + "ins_raport.txt", "stary raport"));
  steps::RunValues values;
  std::string errors;
  values.num_fir = 1;
  MAKE_WINFIR(env, values, firm_dir(1), prog, errors, db, "026.01.030");
  EXPECT_FALSE(exists(firm_dir(1) + "bak\\old.dbf"));
  EXPECT_FALSE(exists(firm_dir(1) + "bak\\k\\old.dbf"));
  EXPECT_FALSE(exists(firm_dir(1) + "ins_raport.txt"));  // no step line: no report

  make_firm(2, "026.01.030");
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm_dir(2) + "bak")));
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm_dir(2) + "bak\\k")));
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(2) + "bak\\w51.txt", ""));
  EXPECT_TRUE(lib::WRITEFILE(firm_dir(2) + "bak\\k\\keep.dbf", "x"));
  step_log().terr_firm = 2;
  values.num_fir = 2;
  ASSERT_TRUE(exists(firm_dir(2) + "bak\\w51.txt"));
  ASSERT_TRUE(exists(firm_dir(2) + "bak\\k\\keep.dbf"));
  MAKE_WINFIR(env, values, firm_dir(2), prog, errors, db, "026.01.030");
  EXPECT_TRUE(exists(firm_dir(2) + "bak\\k\\keep.dbf"));
  std::string report = bytes(firm_dir(2) + "ins_raport.txt");
  size_t eol = report.find("\r\n");
  ASSERT_NE(eol, std::string::npos);
  EXPECT_EQ(report.substr(18, eol - 18), "     Raport z przetwarzania danych");
  // CP852 "ł" (0x88) and "ą" (0xA5) become CP1250 0xB3 and 0xB9.
  EXPECT_EQ(report.substr(eol + 2), std::string(50, '-') + "\r\nKrok I_26_01_033 \xB3\xB9\r\n");
}

}  // namespace
}  // namespace zuv::upgrade::testing
