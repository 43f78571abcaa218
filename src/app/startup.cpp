#include <cstdlib>

#include "app/program.h"
#include "platform/base/discard.h"
#include "platform/error/call_context.h"
#include "platform/error/error.h"
#include "platform/gui/console.h"
#include "platform/os/codepage.h"
#include "platform/os/environment.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace zuv::app {

namespace {

std::string env(Services& s, const std::string& name) {
  if (s.getenv) return s.getenv(name);
  return os::get_env(name);  // wide on Windows: a profile path with Polish letters survives
}

// MEMOWRIT under an error callback that only breaks: any failure means "not writable".
bool desktop_writable(const std::string& desktop) {
  // The operator's own "z.txt" must survive the probe: take the first free name.
  std::string probe = desktop + "z.txt";
  for (int n = 1; (os::file_exists(probe) || os::directory_exists(probe)) && n < 1000; ++n)
    probe = desktop + "z" + std::to_string(n) + ".txt";
  try {
    GuardedBlock guard;
    const std::string_view text = "Ala ma kota";
    os::Result<std::size_t> written = os::write_file(probe, text);
    if (!os::file_exists(probe)) return false;
    // Whatever was written goes again, so a short write leaves nothing behind either.
    os::Status removed = os::delete_file(probe);
    return written.ok() && written.value == text.size() && removed.ok();
  } catch (const Break&) {
    return false;
  }
}

void not_yet(ui::Dialogs& d, const std::string& what) {
  d.ALARM("2", "I", what + " nie jest jeszcze dostępna;w tej wersji programu instalacyjnego.");
}

}  // namespace

void read_folders(Program& p, Services& s) {
  StartupRegistry none;
  StartupRegistry& reg = s.registry ? *s.registry : none;

  // 7. The operator's folders.
  if (auto sf = reg.shell_folders()) {
    p.cPulpit = sf->desktop.value_or("");
    p.cMenu = sf->programs.value_or("");
  } else {
    std::string profile = env(s, "USERPROFILE");
    if (!profile.empty()) {
      profile = os::with_backslash(profile);
      if (os::directory_exists(profile + "Desktop")) p.cPulpit = profile + "Desktop";
      std::string menu = profile + "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
      if (os::directory_exists(menu)) p.cMenu = menu;
    }
  }

  // 8. The installation record of the year.
  bool program_missing = true;
  if (auto rec = reg.install_record(p.roczek)) {
    program_missing = !rec->program.has_value();
    p.cProgram = rec->program.value_or("");
    p.cBaza = rec->baza.value_or("");
  }

  // 9. A desktop we cannot write to gets no shortcut.
  if (!p.cPulpit.empty()) {
    p.cPulpit = os::with_backslash(p.cPulpit);
    if (!desktop_writable(p.cPulpit)) p.cPulpit.clear();
  }

  // 10, 11.
  p.cMenu = os::with_backslash(p.cMenu);
  p.cProgram = os::with_backslash(p.cProgram);
  p.cBaza = os::with_backslash(p.cBaza);
  if (program_missing) {
    p.cProgram.clear();
    p.cBaza.clear();
  }
  // 12. The registry reader already hands over UTF-8, our in-memory form.
}

bool start_up(Program& p, const std::vector<std::string>& params, ui::Dialogs& d, Services& s) {
  // 1-4.
  p = Program{};
  if (s.startinit) s.startinit();
  p.wersja_p = params.size() > 0 ? params[0] : "";
  p.wersja_b = params.size() > 1 ? params[1] : "";
  p.roczek = params.size() > 2 ? params[2] : "";

  // 5. The list of firms that failed last time.
  if (s.del_file) {
    s.del_file(".\\error.log");
  } else if (os::file_exists(".\\error.log")) {
    base::let_go(os::delete_file(".\\error.log"),
                 "start-up goes on regardless; an upgrade that fails writes its own list over it");
  }

  // 6. Not while ZUV itself runs.
  while (s.is_zuv_running && s.is_zuv_running()) {
    int a = d.ALARM(ui::Where::desktop(), "5", "Uwaga!!",
                    "Program instalacyjny wymaga zamknięcia;wszystkich programów ZUV!;Czy "
                    "kontynuujesz instalację?",
                    {"Kontynuuję", "Rezygnuję"});
    if (a != 1) return false;
  }

  // 7-12.
  read_folders(p, s);
  return true;
}

MainResult MAIN(Program& p, const std::vector<std::string>& params, ui::Dialogs& d,
                Services& s) {
  CallContext routine("MAIN");
  if (!start_up(p, params, d, s)) return MainResult::Quit;

  // 13. The main window.
  gui::Frontend& fe = d.frontend();
  ui::Where desk = fe.desktop();
  ui::MainWindowDesc desc;
  desc.title = "Instalacja programu ZUV wersja " + p.wersja_p;
  desc.pos = {(desk.width - desc.outer.w) / 2, (desk.height - desc.outer.h) / 2};
  desc.button_points = p.fh12;
  desc.h_org = p.h_org;

  ui::MainWindowSession* self = nullptr;
  auto run_flow = [&](int button, const Flow& flow, const char* routine, const std::string& name) {
    return [&, button, name, flow, routine] {
      self->set_enabled(false);
      {
        CallContext context(routine);
        if (flow) flow(p, d);
        else not_yet(d, name);
      }
      self->set_enabled(true);
      self->set_focus(button);
    };
  };
  std::vector<std::string> captions = {"Napraw Bazę danych", "Napraw instalację Programu",
                                       "Aktualizacja programu", "Pierwsza instalacja programu",
                                       "Zakończ instalację"};
  std::vector<std::function<void()>> actions = {
      nullptr, nullptr, run_flow(3, s.upgrade, "UPGRADE", "Aktualizacja programu"),
      run_flow(4, s.first_install, "PIERWSZA_INSTALACJA", "Pierwsza instalacja programu"),
      [&] { self->end(); }};
  // At a terminal the undo of this release's installation is one more button, after the
  // others so that theirs keep their numbers; the window of Windows keeps its five.
  if (s.undo && dynamic_cast<gui::ConsoleFrontend*>(&fe)) {
    captions.push_back("Cofnij instalację");
    actions.push_back(run_flow(6, s.undo, "COFNIJ", "Cofnij instalację"));
  }
  ui::MainWindowSession session(desc, captions, actions);
  self = &session;
  session.set_focus(3);
  fe.run_main_window(session);
  return MainResult::Closed;
}

ExitRoutines& ExitRoutines::instance() {
  static ExitRoutines r;
  return r;
}

void ExitRoutines::add(std::function<void()> routine) { routines_.push_back(std::move(routine)); }

void ExitRoutines::run() {
  if (ran_) return;
  ran_ = true;
  for (auto it = routines_.rbegin(); it != routines_.rend(); ++it) {
    try {
      GuardedBlock guard;  // errors while closing become a silent break
      (*it)();
    } catch (...) {
      // The next routine still runs: one table that will not close must not keep the
      // others open.
    }
  }
}

void ExitRoutines::reset_for_tests() {
  routines_.clear();
  ran_ = false;
}

void APPEXIT() { ExitRoutines::instance().run(); }

// The debugger hook of the platform has nothing to do here.
void APPSYS() {}

}  // namespace zuv::app
