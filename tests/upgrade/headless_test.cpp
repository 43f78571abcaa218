// The headless command: its command line, exit codes, outputs and the plan.
#include <gtest/gtest.h>

#include <sstream>

#include "app/command_line.h"
#include "app/headless_upgrade.h"
#include "platform/os/path.h"
#include "support/table_support.h"
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
  EXPECT_EQ(out.str(), "Nie udało się zaktualizować firm: 2\nOpis błędów: " + rel + "error.log\n");
  // The progress line: firm, firms left, time left, end time, redrawn in place.
  EXPECT_NE(err.str().find("\rFirma: (0002):Firma 2  pozostało firm: 0/2"), std::string::npos) << err.str();

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
            "Baza danych: " + d + " (wersja 026.01.016)\n"
            "Kroki struktury: STR_26_01_027 STR_26_01_032\n"
            "Firma 1 (" + d + "firma1\\): wersja 026.01.016, kroki: I_26_01_017 I_26_01_030 I_26_01_033, "
            "pełna reindeksacja: nie\n"
            "Firma 2 (" + d + "firma2\\): wersja 026.01.033, aktualna\n"
            "Firma 3 (" + d + "firma3\\): wersja 013.01.001 (przyjęta 026.01.016), kroki: I_26_01_017 "
            "I_26_01_030 I_26_01_033, pełna reindeksacja: nie\n"
            "Firma 4 (" + d + "firma4\\): pominięta, brak pliku wersja.dbf, firma.dbf lub ks_dok.dbf\n"
            "Indeksy tabel wspólnych: tak, naprawa tabel PIT: tak\n");
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
  make_database("026.01.032");
  make_register({1, 2});
  make_firm(1, "026.01.032");
  make_firm(2, "026.01.033");
  out.str("");
  EXPECT_EQ(app::run_headless_upgrade(line(true), real, areas, out, err, rel), 0);
  EXPECT_NE(out.str().find("Firma 1 (" + app::directory_text(db) + "firma1\\): wersja 026.01.032, kroki: I_26_01_033"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(app::run_headless_upgrade(line(), real, areas, out, err, rel), 1) << err.str();
  EXPECT_EQ(read_field(db + "firma1\\wersja.dbf", "baza"), "026.01.032");
  EXPECT_EQ(read_field(db + "firma2\\wersja.dbf", "baza"), "026.01.033");
  EXPECT_NE(bytes(rel + "error.log").find("firmy nr: 1."), std::string::npos);
}

}  // namespace
}  // namespace zuv::upgrade::testing
