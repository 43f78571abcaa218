// zuvinst: the installer, started from a release's directory with three parameters.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "app/appexit.h"
#include "app/command_line.h"
#include "app/flow_wiring.h"
#include "app/silent_run.h"
#include "app/demo.h"
#include "app/operator_interrupt.h"
#include "app/headless_upgrade.h"
#include "app/program.h"
#include "app/wiring.h"
#include "platform/gui/frontends.h"
#include "platform/gui/script.h"
#include "platform/gui/silent.h"
#include "platform/error/error.h"
#include "platform/os/args.h"
#include "platform/os/codepage.h"
#include "platform/table/engine_setup.h"
#include "platform/table/work_areas.h"
#include "sys/errorsys.h"
#include "ui/dialogs.h"

namespace {

// Exit codes: 0 done, 1 the operator refused to close ZUV, 2 bad command line,
// 3 a script without an answer or a front end that cannot start.
int run(int argc, char** argv) {
  using namespace zuv;
  std::vector<std::string> args = os::utf8_args(argc, argv);
  std::string error;
  auto cl = app::parse_command_line(args, &error);
  std::string ui_name = cl ? cl->ui : app::default_ui();
  for (const auto& a : args)
    if (a.rfind("--ui=", 0) == 0) ui_name = a.substr(5);
  if (cl && cl->headless()) ui_name = "console";
  app::prepare_output(ui_name);
  if (!cl) {
    app::report_startup_error(ui_name, error + "\n\n" + app::usage_text());
    return 2;
  }
  if (cl->headless()) {
    // The engine alone: no windows, no questions; the tables are closed on the way out.
    static table::WorkAreas headless_areas;
    table::DBESYS(headless_areas, [](const std::string& message) { std::cerr << message << '\n'; });
    table::STARTINIT(headless_areas);
    return app::run_headless_upgrade(*cl, app::release_steps(), headless_areas, std::cout, std::cerr);
  }

  sys::HandlerServices handler;
  handler.engine_error = sys::engine_last_error();
  sys::ERRORSYS(handler);
  gui::SystemClock clock;
  std::unique_ptr<gui::Frontend> fe;
  gui::SilentFrontend* silent = nullptr;
  std::ofstream log;
  if (cl->silent) {
    if (!cl->log.empty()) {
      #ifdef _WIN32
      log.open(std::filesystem::path(os::widen(cl->log)), std::ios::app);
#else
      log.open(std::filesystem::path(cl->log), std::ios::app);
#endif
      if (!log) {
        std::cerr << "Nie mogę otworzyć pliku dziennika: " << cl->log << '\n';
        return app::kSilentRefused;
      }
    }
    auto s = std::make_unique<gui::SilentFrontend>(clock, cl->silent_dirs, log.is_open() ? &log : nullptr,
                                                   &std::cerr);
    silent = s.get();
    fe = std::move(s);
  } else {
    fe = gui::make_frontend(cl->ui, clock, &std::cout, &error);
  }
  if (!fe) {
    app::report_startup_error(cl->ui, error);
    return 3;
  }
  ui::Dialogs dialogs(*fe);
  // The table helpers' waits ask this front end whether the operator pressed Esc.
  app::ScopedFrontendInterrupt interrupt(*fe);
  // The run's tables live as long as the process: the exit routine commits and closes
  // them however the program ends.
  static table::WorkAreas areas;
  table::DBESYS(areas, [&](const std::string& message) { dialogs.ALARM("3", "B", message); });
  app::APPSYS();
  app::ExitRoutines::instance().add([] { app::close_work_areas(areas); });
  // APPEXIT on every way out from here on: a return, an exception, or exit() from deep
  // inside (it runs once however many of these fire).
  std::atexit([] { zuv::app::APPEXIT(); });
  app::ExitGuard exit_routine;
  app::Program program;
  app::Services services;
  app::wire_services(services);
  app::wire_flows(services, areas);
  services.startinit = [] { table::STARTINIT(areas); };
  try {
    if (silent) return app::run_silent(*cl, program, dialogs, *silent, services, areas);
    if (!cl->demo.empty()) {
      program.wersja_p = cl->params[0];
      program.wersja_b = cl->params[1];
      program.roczek = cl->params[2];
      if (cl->demo == "main") return app::MAIN(program, cl->params, dialogs, services) ==
                                             app::MainResult::Quit ? 1 : 0;
      if (!app::run_demo(cl->demo, program, dialogs)) {
        app::report_startup_error(cl->ui, "Nieznany pokaz: " + cl->demo);
        return 2;
      }
      return 0;
    }
    return app::MAIN(program, cl->params, dialogs, services) == app::MainResult::Quit ? 1 : 0;
  } catch (const gui::ScriptExhausted& e) {
    std::cerr << e.what() << '\n';
    return 3;
  } catch (const Break& b) {
    // A runtime error nobody recovered from: the error handler has had its say.
    if (silent) silent->note("Wynik: przerwane błędem: " + b.record.description);
    return silent ? app::kSilentRefused : 3;
  } catch (const std::exception& e) {
    if (silent) {
      silent->note(std::string("Wynik: błąd programu instalacyjnego: ") + e.what());
      return app::kSilentRefused;
    }
    app::report_startup_error(cl->ui, std::string("Błąd programu instalacyjnego: ") + e.what());
    return 3;
  }
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
