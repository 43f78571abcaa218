// The installation kit kept in the database: one ZIP archive per program version in
// "install\", made from the distribution directory after an upgrade or a first
// installation, so that workstations and repairs can install without the medium.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// The kit's file masks, relative to the distribution directory, in archive order.
const std::vector<std::string>& kit_masks();

inline constexpr const char* kDefaultCommentSuffix = "Trevanor-NK";

// The archive of the program version: database directory + "install\" + wersja_p + ".zip".
std::string kit_archive_name(const std::string& database_dir, const std::string& wersja_p);

// PAKUJ_DO_ZIPA: nothing when the version's archive exists; otherwise "install\" is
// emptied (older versions' archives go) and the kit packed.
void PAKUJ_DO_ZIPA(const UpgradeEnv& env, const std::string& database_dir);

// MAKEZIP: archive name, masks (".\" standing for the distribution directory) and the
// comment's suffix. True when the archive was saved; a file that cannot be added
// leaves no archive.
bool MAKEZIP(const UpgradeEnv& env, const std::string& archive, const std::vector<std::string>& masks,
             const std::string& comment_suffix = kDefaultCommentSuffix);

// ZIPBLEDY: the repair of a damaged archive (its central directory rebuilt from the
// local headers). True when the archive was repaired.
bool ZIPBLEDY(const std::string& archive);

// fileComment: the archive's comment; a damaged archive is handed to ZIPBLEDY first.
std::optional<std::string> archive_comment(const std::string& archive);

}  // namespace zuv::upgrade
