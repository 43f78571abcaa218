// The checked start: read-only checks made before a run changes its first file, so
// that a refusal leaves the release, the database and the program as they were.
#pragma once

#include <string>

#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// What the run is about to do with the database.
enum class StartKind {
  Upgrade,           // an installed program and its database (upgrade flow, headless)
  ExistingDatabase,  // a first installation bringing an existing database to the release
  NewDatabase,       // a first installation making the database from the templates
};

// "" when the run may go on; otherwise the refusal as the operator reads it (';' breaks
// the line), naming the file and the value at fault. program_dir is the installed
// program's directory, "" where there is none yet. Changes nothing on the disk.
std::string check_start(const UpgradeEnv& env, const std::string& database_dir, const std::string& program_dir,
                        StartKind kind);

}  // namespace zuv::upgrade
