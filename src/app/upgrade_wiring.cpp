// The one place where the flows meet the database upgrade engine and the release's
// template steps: one engine environment per flow run, with the front end's progress
// screen, Esc check and progress window.
#include <memory>

#include "app/flow_wiring.h"
#include "app/headless_upgrade.h"
#include "app/operator_interrupt.h"
#include "ui/dialogs.h"
#include "upgrade/backup_archive.h"
#include "upgrade/checked_start.h"
#include "upgrade/frontend_screen.h"
#include "upgrade/speed.h"
#include "upgrade/upgrade_driver.h"
#include "upgrade/upgrade_observer.h"

namespace zuv::app {
namespace {

// The speed indicator lives as long as the program: a complete index rebuild in one
// run decides the column the run's duration is stored in.
upgrade::SpeedIndicator& program_speed() {
  static upgrade::SpeedIndicator speed;
  return speed;
}

struct EngineRun {
  EngineRun(Program& p, ui::Dialogs& d, table::WorkAreas& areas)
      : dialogs(d), env(areas), interrupt(d.frontend()), steps(release_steps()) {
    env.wersja_p = p.wersja_p;
    env.wersja_b = p.wersja_b;
    env.steps = steps.tables;
    observer.dialog = &d;
    observer.esc = &interrupt;
    observer.licznik = &d.licznik();
    env.observer = &observer;
    env.nazwa_sieciowa = &p.nazwa_sieciowa;
    env.speed = &program_speed();
    fields.heading = "Instalacja programu ZUV (wersja " + p.wersja_p + ")";
  }
  // PREPARE_INS when there is no screen yet; otherwise its firm and time fields anew.
  void prepare(const std::string& heading) {
    if (!screen) {
      fields.heading = heading;
      make_screen();
      screen->open(fields);
      return;
    }
    fields.firm = "?";
    fields.time_left = "?";
    screen->refresh(fields);
  }
  // The driver opens the screen itself with its own heading.
  void make_screen() {
    screen = std::make_unique<upgrade::FrontendScreen>(dialogs.frontend(), gui::Size{630, 370});
    observer.screen = screen.get();
  }
  void close() {
    observer.screen = nullptr;
    screen.reset();
  }

  ui::Dialogs& dialogs;
  upgrade::UpgradeEnv env;
  upgrade::OperatorObserver observer;
  FrontendInterrupt interrupt;
  ReleaseSteps steps;
  upgrade::ScreenFields fields;
  std::unique_ptr<upgrade::FrontendScreen> screen;
};

}  // namespace

flows::UpgradeHooks upgrade_hooks(Program& p, ui::Dialogs& d, table::WorkAreas& areas) {
  auto run = std::make_shared<EngineRun>(p, d, areas);
  flows::UpgradeHooks h;
  h.upgrade_database = [run](const std::string& program_dir, const std::string& database_dir,
                             const std::string& database_version) {
    if (!run->steps.available)
      return std::string("Aktualizacja bazy danych nie jest dostępna;w tej wersji programu instalacyjnego.");
    if (!run->screen) run->make_screen();
    return upgrade::UPGRADE_NOWEJ_BAZY(run->env, program_dir, database_dir, database_version, run->fields,
                                       run->steps.shared);
  };
  h.pack_archive = [run](const std::string& database_dir) { upgrade::PAKUJ_DO_ZIPA(run->env, database_dir); };
  h.estimate = [run](const std::string& database_dir, const std::string& version) {
    return upgrade::POKAZ_CZAS(run->env, database_dir, version);
  };
  h.store_duration = [run](double elapsed, const std::string& database_dir) {
    upgrade::ZAPISZ_PREDKOSC(run->env, elapsed, database_dir);
    run->env.speed->wskaznik = 1;
  };
  h.prepare_screen = [run](const std::string& heading) { run->prepare(heading); };
  h.close_screen = [run] { run->close(); };
  h.check_start = [run](const std::string& database_dir, const std::string& program_dir, upgrade::StartKind kind) {
    return upgrade::check_start(run->env, database_dir, program_dir, kind);
  };
  return h;
}

std::span<const steps::TemplateStep> release_template_steps() { return steps::template_steps(); }

}  // namespace zuv::app
