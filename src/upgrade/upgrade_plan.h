// What an upgrade of a database would do, found without changing anything: the
// structure steps, and for every firm of the register its version, the steps that
// would run and whether it gets the complete index rebuild.
#pragma once

#include <string>
#include <vector>

#include "upgrade/firm_dispatcher.h"
#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

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
