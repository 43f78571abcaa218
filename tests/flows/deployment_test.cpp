#include "flows/deployment.h"

#include <filesystem>

#include "flows_fixture.h"
#include "platform/os/fault.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"

namespace zuv::flows::testing {
namespace {

class Deployment : public FlowsTest {
 protected:
  // An installed program with a library of the release's that a workstation may hold.
  void make_installed_with_library() {
    make_installed();
    make_database();
    file(rel + "zuv_pl.dll", "nowa zuv_pl");
    file(prog + "zuv_pl.dll", "stara zuv_pl");
    file(prog + "mask\\stara.scn", "stara maska");
  }
  // What a failed deployment must leave: the old program and the database as they were,
  // and none of the steps that follow the copies.
  void expect_old_program(const std::map<std::string, std::string>& program,
                          const std::map<std::string, std::string>& database, const std::string& why) {
    EXPECT_EQ(tree(prog), program) << why;
    EXPECT_EQ(tree(baza), database) << why;
    EXPECT_TRUE(calls.empty()) << why;
  }
};

TEST_F(Deployment, ReplacesProgramFilesAndKeepsOperatorTemplates) {
  make_installed();
  make_database();
  file(prog + "mask\\stara.scn", "stara maska");
  file(prog + "czytaj.to\\font.ttf", "czcionka");
  file(prog + "temp\\mail_test.txt", "test poczty");
  file(prog + "temp\\robocze.txt", "robocze");
  ASSERT_EQ(WIN2WIN(env, prog, baza, "25.01.050"), "");

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
  EXPECT_EQ(WIN2WIN(env, prog, baza, "26.01.016"), "");
  EXPECT_EQ(calls, (std::vector<std::string>{"L26_01_024"}));
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
}

// A workstation that runs the program holds its library; a read-only library refuses
// the swap as well. Either way the files already swapped go back.
TEST_F(Deployment, LibraryThatCannotBeReplacedLeavesTheOldProgramWhole) {
  make_installed_with_library();
  const auto program = tree(prog), database = tree(baza);
  {
    os::FileHandle held;
    ASSERT_EQ(held.open(os::native_path(prog + "zuv_pl.dll"), os::Access::Read, os::Share::Shared), 0);
    const std::string why = WIN2WIN(env, prog, baza, "25.01.050");
    EXPECT_NE(why.find(prog + "zuv_pl.dll"), std::string::npos) << why;
    expect_old_program(program, database, why);
  }
  ASSERT_TRUE(os::change_attributes(prog + "zuv_pl.dll", "+R"));
  const std::string why = WIN2WIN(env, prog, baza, "25.01.050");
  EXPECT_NE(why.find(prog + "zuv_pl.dll"), std::string::npos) << why;
  expect_old_program(program, database, why);

  // Once the file is free the new program goes in, with nothing left beside.
  ASSERT_TRUE(os::change_attributes(prog + "zuv_pl.dll", "-R"));
  EXPECT_EQ(WIN2WIN(env, prog, baza, "25.01.050"), "");
  EXPECT_EQ(test::read_all(prog + "zuv_pl.dll"), "nowa zuv_pl");
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
  for (const auto& [name, bytes] : tree(prog))
    EXPECT_TRUE(!name.ends_with(".zuvnew") && !name.ends_with(".zuvold")) << name;
}

// Every copy and every swap of the deployment failed in turn: each time the old
// program and the database are as they were, and the run after it succeeds.
TEST_F(Deployment, AnyFailedCopyOrSwapLeavesTheOldProgramWhole) {
  for (os::fault::Op op : {os::fault::Op::Copy, os::fault::Op::Rename}) {
    std::filesystem::remove_all(os::native_path(prog));
    std::filesystem::remove_all(os::native_path(baza));
    make_installed_with_library();
    const auto program = tree(prog), database = tree(baza);
    int failures = 0;
    for (int nth = 1; nth < 100; ++nth) {
      std::string why;
      {
        os::fault::Scope scope;
        os::fault::arm(op, nth, os::oscode::kDiskFull);
        why = WIN2WIN(env, prog, baza, "25.01.050");
      }
      if (why.empty()) break;  // the fault fell after the new program was in
      ++failures;
      EXPECT_NE(why.find(prog), std::string::npos) << why;
      expect_old_program(program, database, why);
    }
    EXPECT_GT(failures, 5);
    EXPECT_EQ(test::read_all(prog + "zuv_pl.dll"), "nowa zuv_pl");
    calls.clear();
  }
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
