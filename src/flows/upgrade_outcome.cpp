// What follows the database upgrade, in the order its answer calls for: after a partial
// run the kit is archived first, so the failed firms can be repaired from it whatever
// happens to the rest. The registry and the shortcuts name the new version only once
// its files are in place: a deployment that fails leaves them, and the old program, as
// they were.
#include "flows/deployment.h"
#include "flows/records.h"
#include "flows/upgrade_entry.h"
#include "ui/dialogs.h"
#include "upgrade/undo_area.h"
#include "upgrade/upgrade_driver.h"

namespace zuv::flows {

namespace {

void close_progress(FlowEnv& env) {
  env.dialogs.LICZNIK("DEL");
  if (env.upgrade.close_screen) env.upgrade.close_screen();
}

void store_duration(FlowEnv& env, double started, const std::string& database_dir) {
  double elapsed = seconds_now(env) - started;
  // The clock of the day starts again at midnight; an upgrade may run across it.
  if (elapsed < 0) elapsed += 86400;
  if (env.upgrade.store_duration) env.upgrade.store_duration(elapsed, database_dir);
}

void registry(FlowEnv& env, const std::string& program_dir, const std::string& database_dir) {
  stage(env, "Rejestr systemu i skróty");
  if (env.shell.rejestry) env.shell.rejestry(program_dir, database_dir, env.release.roczek);
}

void archive(FlowEnv& env, const std::string& database_dir) {
  stage(env, "Archiwum pakietu instalacyjnego w " + database_dir + "install\\");
  if (env.upgrade.pack_archive) env.upgrade.pack_archive(database_dir);
}

Outcome deployment_failed(FlowEnv& env, const std::string& why, bool database_upgraded) {
  stage(env, "Koniec: pliki programu nie zostały zainstalowane");
  env.dialogs.ALARM("3", "Błąd instalacji", why + ";Program pozostał w poprzedniej wersji.");
  close_progress(env);
  return database_upgraded ? Outcome::Failed : Outcome::Refused;
}

}  // namespace

Outcome finish_upgrade(FlowEnv& env, const std::string& result, const std::string& program_dir,
                       const std::string& database_dir, const std::string& last_version, double started,
                       bool database_upgraded) {
  const upgrade::UpgradeEnd end = upgrade::upgrade_end(result);
  if (end == upgrade::UpgradeEnd::Done) {
    if (disk_test_failed(env, program_dir, "P")) {
      close_progress(env);
      return Outcome::Refused;
    }
    if (std::string failed = WIN2WIN(env, program_dir, database_dir, last_version); !failed.empty())
      return deployment_failed(env, failed, database_upgraded);
    registry(env, program_dir, database_dir);
    archive(env, database_dir);
    close_progress(env);
    store_duration(env, started, database_dir);
    // The state before the run is named only once the fingerprint of the end is taken.
    if (upgrade::undo_keeping()) {
      if (std::string why = upgrade::finish_undo_keeping(); !why.empty())
        stage(env, "Nie można zapisać stanu do cofnięcia instalacji: " + why);
      else
        stage(env, "Stan sprzed instalacji zachowany w " + database_dir + upgrade::kUndoDir + " i " + program_dir +
                       upgrade::kUndoDir + "; cofnięcie: zuvinst " + env.release.wersja_p + " " +
                       env.release.wersja_b + " " + env.release.roczek + " --undo-db " + database_dir +
                       " --program " + program_dir);
    }
    stage(env, "Koniec: instalacja zakończona powodzeniem");
    env.dialogs.ALARM("2", "Powodzenie!", "Instalacja zakończona powodzeniem.");
    return Outcome::Success;
  }
  if (end == upgrade::UpgradeEnd::FirmsFailed) {
    if (disk_test_failed(env, program_dir, "P")) {
      close_progress(env);
      return Outcome::Refused;
    }
    archive(env, database_dir);
    if (std::string failed = WIN2WIN(env, program_dir, database_dir, last_version); !failed.empty())
      return deployment_failed(env, failed, database_upgraded);
    registry(env, program_dir, database_dir);
    stage(env, "Koniec: część firm nie została zainstalowana");
    env.dialogs.ALARM("3", "Ostrzeżenie!", "Część firm nie została zainstalowana.;Zobacz raport z instalacji");
    close_progress(env);
    store_duration(env, started, database_dir);
    return Outcome::Partial;
  }
  stage(env, "Koniec: błąd instalacji");
  env.dialogs.ALARM("3", "Błąd instalacji", result);
  close_progress(env);
  return upgrade::is_upgrade_error(result) ? Outcome::Failed : Outcome::Refused;
}

}  // namespace zuv::flows
