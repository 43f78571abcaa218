#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iterator>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "app/command_line.h"
#include "app/program.h"
#include "platform/os/fault.h"
#include "platform/os/status.h"
#include "platform/gui/script.h"
#include "platform/os/codepage.h"
#include "ui/dialogs.h"

using namespace zuv;
namespace fs = std::filesystem;

namespace {

struct FakeRegistry : app::StartupRegistry {
  std::optional<ShellFolders> folders;
  std::optional<InstallRecord> record;
  std::string asked_year;
  std::optional<ShellFolders> shell_folders() override { return folders; }
  std::optional<InstallRecord> install_record(const std::string& y) override {
    asked_year = y;
    return record;
  }
};

std::string text_of(const fs::path& p) {
#ifdef _WIN32
  return os::narrow(p.native());
#else
  return p.string();
#endif
}

struct Env {
  gui::ManualClock clock;
  gui::ScriptFrontend fe{clock};
  ui::Dialogs d{fe};
  FakeRegistry reg;
  app::Services s;
  app::Program p;
  fs::path dir = fs::temp_directory_path() /
                 ("zuv_startup_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  Env() {
    fs::remove_all(dir);
    fs::create_directories(dir);
    s.registry = &reg;
    s.getenv = [](const std::string&) { return std::string(); };
    s.del_file = [](const std::string&) {};
  }
  ~Env() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

const std::vector<std::string> kParams = {"26.01.001", "026.01.033", "2026"};

}  // namespace

TEST(CommandLine, ThreeParametersAndTheFrontEnd) {
  std::string err;
  EXPECT_FALSE(app::parse_command_line({"zuvinst", "1", "2"}, &err));
  EXPECT_NE(err.find("trzech"), std::string::npos);
  EXPECT_FALSE(app::parse_command_line({"zuvinst", "1", "2", "3", "4"}, &err));
  EXPECT_FALSE(app::parse_command_line({"zuvinst", "1", "2", "3", "--ui=tv"}, &err));
  EXPECT_FALSE(app::parse_command_line({"zuvinst", "1", "2", "3", "--ui=script:"}, &err));
  auto cl = app::parse_command_line({"zuvinst", "--ui=script:a.txt", "1", "2", "3"}, &err);
  ASSERT_TRUE(cl);
  EXPECT_EQ(cl->params, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(cl->ui, "script:a.txt");
  EXPECT_EQ(app::parse_command_line({"zuvinst", "1", "2", "3"}, &err)->ui, app::default_ui());
  EXPECT_NE(app::usage_text().find("Użycie"), std::string::npos);
}

TEST(Startup, WaitsForZuvAndQuitsOnRefusal) {
  for (std::string answer : {"2", "Esc", "zamknij", "czekaj"}) {
    Env e;
    int polls = 0;
    e.s.is_zuv_running = [&] { return ++polls < 10; };
    e.fe.add_answer("1");  // "Kontynuuję": asked again while ZUV still runs
    e.fe.add_answer(answer);
    EXPECT_EQ(app::MAIN(e.p, kParams, e.d, e.s), app::MainResult::Quit) << answer;
    ASSERT_EQ(e.fe.transcript().size(), 2u) << answer;  // no main window shown
    EXPECT_NE(e.fe.transcript()[0].find("ALARM 5 \"Uwaga!!\""), std::string::npos);
    EXPECT_NE(e.fe.transcript()[0].find("wszystkich programów ZUV!"), std::string::npos);
  }
  // Once ZUV has ended, the main window follows.
  Env e;
  int polls = 0;
  e.s.is_zuv_running = [&] { return ++polls < 2; };
  e.fe.add_answer("Enter");
  e.fe.add_answer("5");
  EXPECT_EQ(app::MAIN(e.p, kParams, e.d, e.s), app::MainResult::Closed);
  EXPECT_EQ(e.p.wersja_p, "26.01.001");
  EXPECT_EQ(e.p.wersja_b, "026.01.033");
  EXPECT_EQ(e.p.roczek, "2026");
}

TEST(Startup, FoldersAndInstallationRecord) {
  {
    Env e;  // no record: both empty; no Shell Folders key and no USERPROFILE: empty too
    e.p.roczek = "2026";
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.reg.asked_year, "2026");
    EXPECT_EQ(e.p.cProgram, "");
    EXPECT_EQ(e.p.cBaza, "");
    EXPECT_EQ(e.p.cPulpit, "");
    EXPECT_EQ(e.p.cMenu, "");
  }
  {
    Env e;  // exactly one final "\" whether the record has one or not
    e.reg.record = app::StartupRegistry::InstallRecord{"C:\\ZUV", "D:\\Dane\\"};
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.p.cProgram, "C:\\ZUV\\");
    EXPECT_EQ(e.p.cBaza, "D:\\Dane\\");
  }
  {
    Env e;  // "Program" missing: both empty even with "Baza"
    e.reg.record = app::StartupRegistry::InstallRecord{std::nullopt, "D:\\Dane\\"};
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.p.cProgram, "");
    EXPECT_EQ(e.p.cBaza, "");
  }
  {
    Env e;  // a writable desktop is kept, and the probe file does not stay
    e.reg.folders = app::StartupRegistry::ShellFolders{text_of(e.dir), "M:\\Menu"};
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.p.cPulpit, text_of(e.dir) + "\\");
    EXPECT_EQ(e.p.cMenu, "M:\\Menu\\");
    EXPECT_FALSE(fs::exists(e.dir / "z.txt"));
#ifndef _WIN32
    EXPECT_FALSE(fs::exists(e.dir.string() + "\\z.txt"));
#endif
  }
  {
    Env e;  // the operator's own z.txt on the desktop is left as it was
    std::ofstream(e.dir / "z.txt") << "moje notatki";
    e.reg.folders = app::StartupRegistry::ShellFolders{text_of(e.dir), std::nullopt};
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.p.cPulpit, text_of(e.dir) + "\\");
    std::ifstream in(e.dir / "z.txt");
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "moje notatki");
    EXPECT_FALSE(fs::exists(e.dir / "z1.txt"));
  }
  {
    Env e;  // a probe that cannot be written drops the desktop and leaves nothing there
    e.reg.folders = app::StartupRegistry::ShellFolders{text_of(e.dir), std::nullopt};
    os::fault::Scope scope;
    os::fault::arm(os::fault::Op::Write, 1, os::oscode::kDiskFull);
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.p.cPulpit, "");
    EXPECT_FALSE(fs::exists(e.dir / "z.txt"));
  }
  {
    Env e;  // a desktop that cannot be written is dropped
    e.reg.folders = app::StartupRegistry::ShellFolders{text_of(e.dir / "nie_ma"), std::nullopt};
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.p.cPulpit, "");
  }
  {
    Env e;  // without the key: USERPROFILE's folders when they exist
    fs::create_directories(e.dir / "Desktop");
    std::string profile = text_of(e.dir);
    e.s.getenv = [&](const std::string& n) { return n == "USERPROFILE" ? profile : ""; };
    app::read_folders(e.p, e.s);
    EXPECT_EQ(e.p.cPulpit, profile + "\\Desktop\\");
    EXPECT_EQ(e.p.cMenu, "");
  }
}

TEST(Startup, ExitRoutinesRunOnceOnEveryPath) {
  auto& r = app::ExitRoutines::instance();
  r.reset_for_tests();
  std::vector<int> order;
  r.add([&] { order.push_back(1); });
  r.add([&] {
    order.push_back(2);
    throw std::runtime_error("tabela nie chce się zamknąć");
  });
  r.add([&] { order.push_back(3); });
  try {
    app::ExitGuard g;
    throw std::runtime_error("droga wyjścia przez wyjątek");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));  // one failure does not stop the rest
  app::APPEXIT();
  EXPECT_EQ(order.size(), 3u);  // once only
  r.reset_for_tests();
}

#ifndef _WIN32
// The program itself: its exit codes and what it says.
TEST(StartupProgram, ExitCodesUsageAndScript) {
  const std::string exe = std::string(ZUV_BINARY_DIR) + "/zuvinst";
  if (!fs::exists(exe)) GTEST_SKIP() << "zuvinst not built";
  fs::path dir = fs::temp_directory_path() / "zuv_startup_program";
  fs::remove_all(dir);
  fs::create_directories(dir);
  auto run = [&](const std::string& args, std::string* out) {
    std::string cmd = "cd '" + dir.string() + "' && '" + exe + "' " + args + " > out.txt 2>&1";
    int rc = std::system(cmd.c_str());
    std::ifstream in(dir / "out.txt");
    out->assign(std::istreambuf_iterator<char>(in), {});
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  std::string out;
  EXPECT_EQ(run("26.01.001 026.01.033", &out), 2);
  EXPECT_NE(out.find("Użycie: zuvinst"), std::string::npos);

  // The upgrade's screen, left with "Poprzedni ekran"; the main window is asked again.
  std::ofstream(dir / "odp.txt") << "# the main window\n3\n1\n";
  EXPECT_EQ(run("26.01.001 026.01.033 2026 --ui=script:odp.txt", &out), 3);
  EXPECT_NE(out.find("Brak odpowiedzi w skrypcie dla okna: OKNO \"Instalacja programu ZUV wersja 26.01.001\""),
            std::string::npos)
      << out;
  std::ofstream(dir / "odp.txt") << "3\n1\n4\n1\n5\n";
  EXPECT_EQ(run("26.01.001 026.01.033 2026 --ui=script:odp.txt", &out), 0);
  EXPECT_NE(out.find("EKRAN \"Aktualizacja programu\""), std::string::npos) << out;
  EXPECT_NE(out.find("EKRAN \"Pierwsza instalacja programu\""), std::string::npos) << out;
  EXPECT_EQ(run("26.01.001 026.01.033 2026 --ui=script:nie_ma.txt", &out), 3);
  EXPECT_NE(out.find("nie_ma.txt"), std::string::npos);
  // The list of firms that failed last time is gone after the start.
  std::ofstream(dir / "error.log") << "firma 7";
  std::ofstream(dir / "odp.txt") << "Esc\n";
  EXPECT_EQ(run("26.01.001 026.01.033 2026 --ui=script:odp.txt", &out), 0);
  EXPECT_FALSE(fs::exists(dir / "error.log"));
  fs::remove_all(dir);
}
#endif
