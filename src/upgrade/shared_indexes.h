// NTX_PUB: the indexes of the shared tables (the reference tables of "str\" and the
// shared data of "public\"), rebuilt at the end of every database upgrade, and the
// repair of the shared PIT tables for databases older than release 026.01.030.
#pragma once

#include <string>
#include <vector>

#include "tables/catalogue.h"
#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

struct SharedIndexEntry {
  std::string table;      // without extension
  std::string directory;  // "str\" or "public\"
  bool only_if_present = false;
  tables::TagList tags;
};

// The catalogue of the shared tables, in build order.
const std::vector<SharedIndexEntry>& shared_index_catalogue();

// The database version from which the PIT tables need no repair.
inline constexpr const char* kPitRepairedFrom = "026.01.030";

// NTX_PUB. With repair_pit false the PIT repair is left out (the driver's second
// argument). Answers the summed failure codes of the index builds (0: all built; on
// failure no shared compound index is left behind at all), or kPitRepairFailed.
[[nodiscard]] int NTX_PUB(const UpgradeEnv& env, const std::string& database_dir, bool repair_pit = true);

// The PIT repair alone: duplicates removed, payment totals and links recomputed. False
// when a table could not be opened or a write did not take.
[[nodiscard]] bool repair_pit_tables(const UpgradeEnv& env, const std::string& database_dir);

// NTX_PUB's answer when the indexes were built but the PIT repair failed.
inline constexpr int kPitRepairFailed = 1000;

}  // namespace zuv::upgrade
