// What an upgrade of a database would do, found without changing anything: the
// structure steps, and for every firm of the register its version, the steps that
// would run and whether it gets the complete index rebuild.
#pragma once

#include <string>
#include <vector>

#include "upgrade/firm_records.h"
#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// Release structure steps older than this need the release's "xml\" in "str\xml\".
inline constexpr const char* kXmlCopiedBelow = "026.01.016";
inline constexpr const char* kRateIndexBuiltBelow = "026.01.007";
// The shared-data step runs for databases older than this.
inline constexpr const char* kSharedStepBelow = "026.01.001";

// What a run does beside the firms, decided from the version it starts from: the one
// decision the run carries out and its plan shows.
struct SharedWork {
  std::vector<const steps::StructureStep*> structure;
  bool copies_xml = false;
  // A database already past 026.01.007 (its last run ended "01") may still hold firms
  // below it, whose step 007 reads rates by date: the rate index the reference refresh
  // deleted is built before the firms.
  bool rate_index_first = false;
  bool shared_step = false;
  bool pit_repair = false;
};
SharedWork shared_work(const StepTables& steps, const std::string& database_version);

struct FirmPlanEntry {
  long long number = 0;
  std::string directory;
  std::string reason;   // why the firm is left out ("" when it is looked at)
  std::string failure;  // why the run will fail the firm ("" when it will not)
  FirmPlan plan;
};

struct UpgradePlan {
  std::string database_version;  // as recorded
  std::string carried_on_from;   // the version an unfinished run of this release began at
  std::vector<std::string> structure_steps;
  bool copies_xml = false;
  bool shared_step = false;
  bool pit_repair = false;
  std::string refusal;  // the driver's refusal when the register is empty or unreadable
  std::vector<FirmPlanEntry> firms;
};

// Reads the register and the firms' version records (shared, read-only).
UpgradePlan plan_upgrade(const UpgradeEnv& env, const std::string& database_dir, const std::string& database_version);

// The plan as the operator reads it, one line per item.
std::string format_plan(const UpgradePlan& plan, const std::string& database_dir);

}  // namespace zuv::upgrade
