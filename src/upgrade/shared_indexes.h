// NTX_PUB: the indexes of the shared tables (the reference tables of "str\" and the
// shared data of "public\"), rebuilt at the end of every database upgrade, and the
// repair of the shared PIT tables for databases older than release 026.01.030.
#pragma once

#include <string>
#include <vector>

#include "platform/os/status.h"
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

// What NTX_PUB's failures say.
inline constexpr const char* kSharedIndexesFailed = "nie udało się zbudować indeksów tabel wspólnych (str\\, public\\)";
inline constexpr const char* kPitRepairFailed =
    "nie udało się naprawić tabel PIT (public\\fpit.dbf, wpit.dbf, pit_zap.dbf, wf.dbf)";

// NTX_PUB. With repair_pit false the PIT repair is left out (the driver's second
// argument). A failed index build (its table named; no shared compound index is then
// left behind at all) or a failed PIT repair answers a failure saying which.
[[nodiscard]] os::Status NTX_PUB(const UpgradeEnv& env, const std::string& database_dir, bool repair_pit = true);

// The PIT repair alone: duplicates removed, payment totals and links recomputed. False
// when a table could not be opened or a write did not take.
[[nodiscard]] bool repair_pit_tables(const UpgradeEnv& env, const std::string& database_dir);

}  // namespace zuv::upgrade
