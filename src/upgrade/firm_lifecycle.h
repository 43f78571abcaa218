// A firm's whole way through a run: what the register walk finds of it, its steps under
// the recovery notes (MAKE_WINFIR), and its finish, after which the run's note lists it
// and the firm's own note goes. Runtime errors of a firm end that firm only: the trap
// here turns them into the description the run reports.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "steps/steps.h"
#include "upgrade/run_note.h"
#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// MAKE_WINFIR. values carries the run's private values; terr is reset here.
// brought_through, when given, is called once the firm's work is done and before its
// recovery note goes; when it answers false the note stays, so that a run cut off later
// still knows which steps this firm went through. With finish_later, the firm's last
// part (waiting for its steps' result to reach the disk, then brought_through and the
// note's removal) is handed back there instead of run: the caller runs it later, under
// the same trap, and the firm is not done until it has.
void MAKE_WINFIR(const UpgradeEnv& env, steps::RunValues& values, const std::string& firm_dir,
                 const std::string& program_dir, std::string& error_text, const std::string& database_dir,
                 const std::string& database_version, const std::function<bool()>& brought_through = {},
                 std::function<void()>* finish_later = nullptr);


// One firm as the register walk meets it.
struct FirmTurn {
  double nr = 0;
  std::string dir;
  std::string missing;           // a core file the firm lacks: it is left as it is, and said
  bool brought_through = false;  // a cut-off run brought it through; only its note may be left
  long long number() const;
  bool has_work() const { return missing.empty() && !brought_through; }
  // The report's line for a firm left out ("" when it is not).
  std::string skipped_line() const;
};
// A firm the note lists is passed over only where its own version record agrees.
FirmTurn firm_turn(const UpgradeEnv& env, const RunNote& note, const std::string& database_dir, double nr);

// Runs work under the per-firm trap: the error's description when it broke out.
std::optional<std::string> trapped_error(const std::string& firm_dir, const std::function<void()>& work);

// The firm carried through in this process, its finish handed back (see MAKE_WINFIR):
// the run's note lists the firm before the firm's own note goes.
void carry_firm(const UpgradeEnv& env, steps::RunValues& values, const FirmTurn& turn, const std::string& program_dir,
                std::string& error_text, const std::string& database_dir, const std::string& database_version,
                RunNote& note, std::function<void()>& finish);
// The firm's work without its notes, for a worker; true once the work is done.
bool carry_firm_in_worker(const UpgradeEnv& env, steps::RunValues& values, const FirmTurn& turn,
                          const std::string& worker_dir, std::string& error_text, const std::string& database_version);
// The firm's work was done elsewhere (by a worker): the run notes it, then its note goes.
void firm_done_elsewhere(const std::string& database_dir, RunNote& note, const FirmTurn& turn);

}  // namespace zuv::upgrade
