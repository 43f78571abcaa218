#include "flows/deployment.h"

#include "flows_fixture.h"

namespace zuv::flows::testing {
namespace {

class Deployment : public FlowsTest {};

TEST_F(Deployment, ReplacesProgramFilesAndKeepsOperatorTemplates) {
  make_installed();
  make_database();
  file(prog + "mask\\stara.scn", "stara maska");
  file(prog + "czytaj.to\\font.ttf", "czcionka");
  file(prog + "temp\\mail_test.txt", "test poczty");
  file(prog + "temp\\robocze.txt", "robocze");
  ASSERT_TRUE(WIN2WIN(env, prog, baza, "25.01.050"));

  // The operator's edited template stays, a new one arrives.
  EXPECT_EQ(test::read_all(prog + "txt\\faktura.txt"), "faktura poprawiona przez operatora");
  EXPECT_EQ(test::read_all(prog + "txt\\nowy.txt"), "nowy wzorzec");
  // Old program files go, the release's come.
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
  EXPECT_EQ(test::read_all(prog + "ot4xb.dll"), "nowa biblioteka");
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "zuv_stary.dll")));
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "mask\\stara.scn")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "mask\\01_01_01.scn")));
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "czytaj.to\\font.ttf")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "czytaj.to\\zmiany.chm")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "vistrel\\p1.txt")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "ksef.cfg")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "pl\\opis.txt")));
  EXPECT_FALSE(os::file_exists(std::string_view(prog + "temp\\mail_test.txt")));
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "temp\\robocze.txt")));
  // Settings and the database pointer are not the deployment's business.
  EXPECT_EQ(test::read_all(prog + "setings\\ns.cfg"), "STACJA1");
  EXPECT_TRUE(os::file_exists(std::string_view(prog + "baza.dbf")));
  // The version record of the release, twice.
  EXPECT_EQ(field(prog + "wersja.dbf", "zuv"), "26.01.033");
  EXPECT_EQ(test::read_all(prog + "DllOk.txt"), test::read_all(rel + "wk.dbf"));
  for (const char* sub : {"export\\zus", "export\\nfz", "temp\\arch", "dek", "install"})
    EXPECT_TRUE(os::directory_exists(prog + sub)) << sub;
  // Every template step newer than 25.01.050.
  EXPECT_EQ(calls, (std::vector<std::string>{"L26_01_001", "L26_01_016", "L26_01_024"}));
}

TEST_F(Deployment, DatabaseRecordsTheNewProgramButIsNeverLowered) {
  make_installed();
  make_database("026.01.016", "25.01.050");
  WIN2WIN(env, prog, baza, "25.01.050");
  EXPECT_EQ(field(baza + "wersja.dbf", "zuv"), "26.01.033");
  EXPECT_EQ(field(baza + "wersja.dbf", "baza"), "026.01.016");  // the data version is the upgrade's

  make_database("026.01.040", "26.01.040");
  WIN2WIN(env, prog, baza, "26.01.040");
  EXPECT_EQ(field(baza + "wersja.dbf", "zuv"), "26.01.040");
}

TEST_F(Deployment, StampsTheInstallationInSharedData) {
  make_installed();
  make_database();
  WIN2WIN(env, prog, baza, "25.01.050");
  EXPECT_EQ(field(baza + "public\\pub_dat.dbf", "nv_r_check"), "Zainstalowano: 26.01.033");
  EXPECT_EQ(field(baza + "public\\pub_dat.dbf", "nv_t_down0"), "");
  EXPECT_EQ(field(baza + "public\\pub_dat.dbf", "nv_d_down0"), "");
  EXPECT_EQ(field(baza + "public\\pub_dat.dbf", "nv_d_check").size(), 8u);
  EXPECT_EQ(field(baza + "public\\pub_dat.dbf", "nv_t_check").size(), 8u);  // hh:mm:ss
}

TEST_F(Deployment, MissingSharedTablesAreSkipped) {
  make_installed();
  mkdirs(baza);
  EXPECT_TRUE(WIN2WIN(env, prog, baza, "26.01.016"));
  EXPECT_EQ(calls, (std::vector<std::string>{"L26_01_024"}));
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
}

TEST_F(Deployment, FontRemovalEmptiesTheDirectory) {
  file(prog + "czytaj.to\\a.TTF", "a");
  file(prog + "czytaj.to\\b.ttf", "b");
  file(prog + "czytaj.to\\opis.txt", "c");
  USUN_FONTY(prog + "czytaj.to\\");
  EXPECT_TRUE(os::list_directory(prog + "czytaj.to\\*.*").empty());
  EXPECT_TRUE(os::directory_exists(prog + "czytaj.to"));
}

}  // namespace
}  // namespace zuv::flows::testing
