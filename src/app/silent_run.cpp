#include "app/silent_run.h"

#include <sstream>

#include "app/flow_wiring.h"
#include "app/native_display.h"
#include "app/samba_guard.h"
#include "flows/first_install.h"
#include "flows/upgrade_entry.h"
#include "platform/os/clock.h"
#include "platform/os/path.h"

namespace zuv::app {

int run_silent(const CommandLine& cl, Program& p, ui::Dialogs& d, gui::SilentFrontend& fe, Services& services,
               table::WorkAreas& areas) {
  const bool upgrade = cl.silent_flow == "upgrade";
  std::string line = "zuvinst " + cl.params[0] + " " + cl.params[1] + " " + cl.params[2] + " --silent --" +
                     cl.silent_flow;
  for (const auto& dir : cl.silent_dirs) line += " " + dir;
  fe.note(line);
  const double started = os::seconds_since_midnight();

  if (!start_up(p, cl.params, d, services)) {
    fe.note("Wynik: odmowa (program ZUV pracuje)");
    return kSilentRefused;
  }
  flows::FlowEnv env = flow_env(p, d, areas);
  env.stage = [&fe, &cl](const std::string& text) { fe.note("Etap: " + shown_as_given(given_natively(cl.silent_dirs), text)); };
  if (!cl.db_path.empty())
    env.recorded_database_path = cl.db_path.back() == '\\' ? cl.db_path : cl.db_path + "\\";
  // An upgrade of a database under a Samba share holds it against the workstations
  // from its checked start to the end of the run.
  SambaGuardResult samba;
  if (upgrade && env.upgrade.check_start) {
    env.upgrade.check_start = [&, check = env.upgrade.check_start](const std::string& database_dir,
                                                                   const std::string& program_dir,
                                                                   upgrade::StartKind kind) {
      std::ostringstream notes;
      samba = guard_samba_share(os::native_path(database_dir), {cl.no_samba_check, cl.smb_credentials}, notes);
      if (!notes.str().empty()) fe.note(notes.str().substr(0, notes.str().size() - 1));
      return samba.refusal.empty() ? check(database_dir, program_dir, kind) : samba.refusal;
    };
  }
  env.upgrade.keep_undo = !cl.no_undo;
  flows::Outcome outcome = upgrade ? flows::UPGRADE(env) : flows::PIERWSZA_INSTALACJA(env);

  double elapsed = os::seconds_since_midnight() - started;
  if (elapsed < 0) elapsed += 86400;
  const std::string took = " (" + std::to_string(static_cast<long>(elapsed + 0.5)) + " s)";
  switch (outcome) {
    case flows::Outcome::Success:
      fe.note("Wynik: sukces" + took);
      return kSilentSuccess;
    case flows::Outcome::Partial:
      fe.note("Wynik: część firm nie została zainstalowana" + took);
      return kSilentFirmsFailed;
    case flows::Outcome::Failed:
      fe.note("Wynik: błąd po zmianie bazy danych" + took);
      return kSilentFailedAfterChange;
    default:
      fe.note("Wynik: odmowa" + took);
      return kSilentRefused;
  }
}

}  // namespace zuv::app
