#include "app/headless_upgrade.h"

#include "app/native_display.h"
#include "app/progress_line.h"
#include "app/samba_guard.h"
#include "lib/files.h"
#include "platform/os/path.h"
#include "platform/os/files.h"
#include "platform/error/error.h"
#include "upgrade/checked_start.h"
#include "upgrade/firm_records.h"
#include "upgrade/progress_screen.h"
#include "upgrade/upgrade_driver.h"
#include "upgrade/upgrade_observer.h"
#include "upgrade/upgrade_plan.h"

namespace zuv::app {
namespace {

std::string lines_of(std::string message) {
  for (char& c : message)
    if (c == ';') c = '\n';
  return message;
}

// The run's messages show the directories in the form they were given.
class Shown {
 public:
  explicit Shown(const CommandLine& cl) : native_(given_natively({cl.upgrade_db, cl.program_dir})) {}
  std::string operator()(const std::string& text) const { return shown_as_given(native_, text); }

 private:
  bool native_;
};

}  // namespace

std::string directory_text(const std::string& given) {
  std::string d = given;
  for (char& c : d)
    if (c == '/') c = '\\';
  if (!d.empty() && d.back() != '\\') d += '\\';
  return d;
}

int run_headless_upgrade(const CommandLine& cl, const ReleaseSteps& steps, table::WorkAreas& areas, std::ostream& out,
                         std::ostream& err, const std::string& release_dir) {
  const std::string database_dir = directory_text(cl.upgrade_db);
  const std::string program_dir = directory_text(cl.program_dir);
  const Shown shown(cl);
  if (!steps.available) {
    err << "Ten program nie zawiera kroków aktualizacji wydania; aktualizacja bazy jest niemożliwa.\n";
    return kHeadlessError;
  }
  if (!os::directory_exists(std::string_view(database_dir))) {
    err << "Katalog bazy danych " << cl.upgrade_db << " nie istnieje.\n";
    return kHeadlessRefused;
  }
  // Workstations working through a Samba share are seen and kept out for the whole run
  // (the hold lives until this function returns); a plan changes nothing and needs
  // neither.
  SambaGuardResult samba;
  if (!cl.plan) {
    samba = guard_samba_share(os::native_path(database_dir), {cl.no_samba_check, cl.smb_credentials}, err);
    if (!samba.refusal.empty()) {
      err << lines_of(shown(samba.refusal)) << '\n';
      return kHeadlessRefused;
    }
  }
  ProgressLine line(err, stderr_terminal_columns());
  std::string nazwa_sieciowa;
  upgrade::SpeedIndicator speed;
  upgrade::UpgradeEnv env(areas);
  env.release_dir = release_dir;
  env.wersja_p = cl.params.at(0);
  env.wersja_b = cl.params.at(1);
  env.steps = steps.tables;
  upgrade::OperatorObserver observer;
  observer.screen = &line;
  env.observer = &observer;
  env.nazwa_sieciowa = &nazwa_sieciowa;
  env.speed = &speed;
  env.workers = cl.workers;

  // The checked start: whatever would refuse the run refuses it before its first change.
  const std::string refusal = upgrade::check_start(env, database_dir, program_dir, upgrade::StartKind::Upgrade);
  const std::string database_version = upgrade::read_recorded_version(areas, database_dir).value_or("");
  if (cl.plan) {
    upgrade::UpgradePlan plan;
    if (refusal.empty()) {
      plan = upgrade::plan_upgrade(env, database_dir, database_version);
    } else {
      plan.database_version = database_version;
      plan.refusal = refusal;
    }
    out << shown(upgrade::format_plan(plan, database_dir));
    return plan.refusal.empty() ? kHeadlessDone : kHeadlessRefused;
  }
  if (!refusal.empty()) {
    err << lines_of(shown(refusal)) << '\n';
    return kHeadlessRefused;
  }

  // As the program's start does: the error log of an earlier run says nothing of this one.
  if (!lib::DEL_FILE(release_dir + "error.log")) {
    err << "Nie można usunąć pliku " << release_dir << "error.log z poprzedniej aktualizacji.\n";
    return kHeadlessRefused;
  }
  upgrade::ScreenFields fields;
  upgrade::UpgradeOutcome outcome;
  std::string result;
  try {
    // Errors outside the firms have no operator to ask here: they stop the run.
    GuardedBlock stop;
    result = upgrade::UPGRADE_NOWEJ_BAZY(env, program_dir, database_dir, database_version, fields, steps.shared,
                                         &outcome);
  } catch (const Break& b) {
    line.close();
    areas.close_all();
    err << "Aktualizacja bazy przerwana błędem: " << b.record.description;
    if (!b.record.fileName.empty()) err << " (" << b.record.fileName << ")";
    err << '\n';
    return kHeadlessError;
  }
  line.close();
  for (const std::string& skipped : outcome.skipped) out << skipped << '\n';
  const upgrade::UpgradeEnd end = upgrade::upgrade_end(result);
  if (end == upgrade::UpgradeEnd::Done) {
    out << "Baza danych zaktualizowana: " << outcome.firms << " firm.\n";
    return kHeadlessDone;
  }
  if (end == upgrade::UpgradeEnd::FirmsFailed) {
    out << "Nie udało się zaktualizować firm:";
    for (long long n : outcome.failed) out << ' ' << n;
    out << "\nOpis błędów: " << shown(outcome.error_log) << '\n';
    return kHeadlessFirmsFailed;
  }
  err << lines_of(shown(result)) << '\n';
  return outcome.error ? kHeadlessError : kHeadlessRefused;
}

}  // namespace zuv::app
