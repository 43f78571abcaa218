#include <sstream>

#include "flows/first_install.h"
#include "flows/upgrade_entry.h"
#include "flows_fixture.h"
#include "platform/gui/silent.h"

namespace zuv::flows::testing {
namespace {

// The unattended front end over the same flows: default buttons, everything logged.
class Silent : public FlowsTest {
 protected:
  Outcome run(bool upgrade, std::vector<std::string> dirs) {
    gui::SilentFrontend sfe(clock, std::move(dirs), &log, nullptr);
    ui::Dialogs sd(sfe);
    FlowEnv senv{sd, areas, env.release, env.upgrade, env.shell, env.self_test, env.template_steps, {}, {}, {}};
    senv.stage = [&sfe](const std::string& t) { sfe.note("Etap: " + t); };
    Outcome o = upgrade ? UPGRADE(senv) : PIERWSZA_INSTALACJA(senv);
    shown_ = sfe.dialogs_shown();
    return o;
  }
  std::ostringstream log;
  std::vector<std::string> shown_;
};

TEST_F(Silent, UpgradeAnswersEveryQuestionWithItsDefaultAndLogsIt) {
  make_installed();
  make_database();
  EXPECT_EQ(run(true, {prog}), Outcome::Success);
  ASSERT_FALSE(shown_.empty());
  EXPECT_EQ(shown_.back(), "Okno \"Powodzenie!\": Instalacja zakończona powodzeniem. [Zamknij to okno] -> Zamknij to okno");
  const std::string text = log.str();
  EXPECT_NE(text.find("Etap: Aktualizacja bazy danych " + baza + " od wersji 026.01.016"), std::string::npos) << text;
  EXPECT_NE(text.find("Etap: Kopiowanie plików programu..."), std::string::npos) << text;
  EXPECT_NE(text.find("-> Zainstaluj Program"), std::string::npos) << text;
}

TEST_F(Silent, RefusalAndPartialOutcomes) {
  make_installed("25.01.049");
  make_database();
  EXPECT_EQ(run(true, {prog}), Outcome::Refused);
  EXPECT_NE(log.str().find("Okno \"Błędna wersja\": Minimalna wersja ZUV"), std::string::npos) << log.str();

  make_installed();
  upgrade_answer = "01";
  EXPECT_EQ(run(true, {prog}), Outcome::Partial);
  EXPECT_EQ(test::read_all(prog + "zuv.exe"), "nowy zuv");
}

TEST_F(Silent, FirstInstallationCreatesMissingDirectoriesAndTheProgramSearchFindsNobody) {
  EXPECT_EQ(run(false, {prog, baza}), Outcome::Success);  // "Założyć" is the default
  EXPECT_EQ(field(prog + "baza.dbf", "PATH"), baza);

  test::ScratchDir other;
  prog = other.path() + "prog\\";
  make_database("026.01.033", "26.01.033", "T", "2027");
  EXPECT_EQ(run(false, {prog, baza}), Outcome::Refused);  // no one to choose this year's program
  EXPECT_NE(log.str().find("Wybór katalogu: nikt nie wybiera"), std::string::npos) << log.str();
}

}  // namespace
}  // namespace zuv::flows::testing
