// UPGRADE_NOWEJ_BAZY: carries a whole database (shared data and every firm) to the
// release. Exclusion from the suite rests on the semaphore, "str\nazwy.dbf" of the
// database held open exclusively for the whole run; a runtime error in one firm is
// reported and the next firm goes on.
#pragma once

#include <string>
#include <vector>

#include "steps/steps.h"
#include "upgrade/progress_screen.h"
#include "upgrade/upgrade_answers.h"
#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// The reference files refreshed from the release's "str\" on every run, in order.
const std::vector<std::string>& reference_files();

// What a run left for its caller beyond the answer.
struct UpgradeOutcome {
  int firms = 0;                    // records of the register
  std::vector<long long> failed;    // numbers of the firms that failed
  std::vector<std::string> skipped; // "Firma nr: N pominięta: brak pliku NAZWA", one per firm
  std::string error_log;            // the error log written, "" when none
  // The answer is an error outside the firms (the run stopped; the database stays
  // unfinished), not a refusal made before anything changed.
  bool error = false;
};

// The shared-data step, supplied by the program (the release's PUB_26_01_001).
using SharedStepFn = void (*)(steps::StepContext&, const std::string& database_dir);

// UPGRADE_NOWEJ_BAZY: program directory, database directory and the database's version
// before the run; the progress screen's fields. Answers "00", "01" or a refusal text.
std::string UPGRADE_NOWEJ_BAZY(const UpgradeEnv& env, const std::string& program_dir, const std::string& database_dir,
                               const std::string& database_version, ScreenFields& fields,
                               SharedStepFn shared_step = nullptr, UpgradeOutcome* outcome = nullptr);

}  // namespace zuv::upgrade
