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
#include "upgrade/undo_area.h"

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
  explicit Shown(const CommandLine& cl)
      : native_(given_natively({cl.undoing() ? cl.undo_db : cl.upgrade_db, cl.program_dir})) {}
  std::string operator()(const std::string& text) const { return shown_as_given(native_, text); }

 private:
  bool native_;
};

// The undo of this release's installation, or (--forget-undo) the end of what it kept.
int run_headless_undo(const CommandLine& cl, std::ostream& out, std::ostream& err) {
  const std::string database_dir = directory_text(cl.undo_db);
  const std::string program_dir = directory_text(cl.program_dir);
  const Shown shown(cl);
  if (!os::directory_exists(std::string_view(database_dir))) {
    err << "Katalog bazy danych " << cl.undo_db << " nie istnieje.\n";
    return upgrade::kUndoRefused;
  }
  if (cl.forget_undo) {
    if (cl.plan) {
      out << "Zostałby usunięty zachowany stan sprzed instalacji w " << shown(database_dir + upgrade::kUndoDir)
          << " i " << shown(program_dir + upgrade::kUndoDir) << ".\n";
      return upgrade::kUndoDone;
    }
    if (std::string why = upgrade::forget_undo(database_dir, program_dir); !why.empty()) {
      err << lines_of(shown(why)) << '\n';
      return upgrade::kUndoFailed;
    }
    out << "Usunięto zachowany stan sprzed instalacji; jej cofnięcie nie jest już możliwe.\n";
    return upgrade::kUndoDone;
  }
  SambaGuardResult samba;
  if (!cl.plan) {
    samba = guard_samba_share(os::native_path(database_dir), {cl.no_samba_check, cl.smb_credentials}, err);
    if (!samba.refusal.empty()) {
      err << lines_of(shown(samba.refusal)) << '\n';
      return upgrade::kUndoRefused;
    }
  }
  const std::string release = upgrade::undo_release(cl.params.at(0), cl.params.at(1), cl.params.at(2));
  const upgrade::UndoResult result = upgrade::undo_installation(database_dir, program_dir, release, cl.plan);
  (result.code == upgrade::kUndoDone ? out : err) << lines_of(shown(result.message)) << '\n';
  return result.code;
}

// The size of what the run keeps for an undo, for the operator.
std::string undo_note(const std::string& database_dir, const std::string& program_dir) {
  std::uint64_t bytes = 0;
  for (const std::string& dir : {database_dir, program_dir})
    bytes += upgrade::read_undo_area(dir + upgrade::kUndoDir).kept_bytes;
  return "Stan sprzed instalacji zachowany w " + database_dir + upgrade::kUndoDir + " i " + program_dir +
         upgrade::kUndoDir + " (" + std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB); cofnięcie: --undo-db.";
}

// What the run would keep for an undo, as the plan tells it.
std::string undo_plan_line(const CommandLine& cl, const std::string& database_dir, const std::string& program_dir) {
  if (cl.no_undo) return "Zapis do cofnięcia instalacji: brak (--no-undo).";
  const std::string release = upgrade::undo_release(cl.params.at(0), cl.params.at(1), cl.params.at(2));
  std::uint64_t bytes = 0;
  bool retry = false;
  for (const std::string& dir : {database_dir, program_dir}) {
    const upgrade::UndoAreaInfo info = upgrade::read_undo_area(dir + upgrade::kUndoDir);
    if (info.present && info.release == release) bytes += info.kept_bytes, retry = true;
  }
  return "Zapis do cofnięcia instalacji: " + database_dir + upgrade::kUndoDir + " i " + program_dir +
         upgrade::kUndoDir + (retry ? ", już " + std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB z poprzedniego uruchomienia"
                                    : "") +
         "; rośnie o dawną treść zmienianych plików (prawie tyle, ile zajmują aktualizowane firmy).";
}

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
  if (cl.undoing()) return run_headless_undo(cl, out, err);
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
  env.keep_undo = !cl.no_undo;

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
    // Beside the plan, not in it: the plan's own lines are read by scripts.
    if (plan.refusal.empty()) err << shown(undo_plan_line(cl, database_dir, program_dir)) << '\n';
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
  const std::string release = upgrade::undo_release(env.wersja_p, env.wersja_b, cl.params.at(2));
  const std::string keeping = cl.no_undo ? upgrade::forget_other_undo(database_dir, program_dir, release)
                                         : upgrade::start_undo_keeping(database_dir, program_dir, release);
  if (!keeping.empty()) {
    err << lines_of(shown(keeping)) << '\n';
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
    upgrade::stop_undo_keeping();
    err << "Aktualizacja bazy przerwana błędem: " << b.record.description;
    if (!b.record.fileName.empty()) err << " (" << b.record.fileName << ")";
    err << '\n';
    return kHeadlessError;
  }
  line.close();
  areas.close_all();
  // The fingerprint is taken whatever the end: a retry starts by dropping it.
  const std::string fingerprint = upgrade::finish_undo_keeping();
  for (const std::string& skipped : outcome.skipped) out << skipped << '\n';
  const upgrade::UpgradeEnd end = upgrade::upgrade_end(result);
  if (end == upgrade::UpgradeEnd::Done) {
    if (!fingerprint.empty()) {
      err << "Baza danych zaktualizowana, ale nie można zapisać stanu do jej cofnięcia: " << shown(fingerprint) << '\n';
      return kHeadlessError;
    }
    out << "Baza danych zaktualizowana: " << outcome.firms << " firm.\n";
    if (!cl.no_undo) out << shown(undo_note(database_dir, program_dir)) << '\n';
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
