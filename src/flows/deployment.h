// The deployment of a release's program files over an installed program (WIN2WIN),
// after the database upgrade has succeeded or partly succeeded; the removal of the
// old fonts (USUN_FONTY) and the installation stamp in the database (DATA_AKTUALIZACJI).
#pragma once

#include <string>

#include "flows/flow_env.h"

namespace zuv::flows {

// Replaces the program files in program_dir with the release's, records the new
// program version in the database, stamps the installation and runs the template
// steps newer than last_version (the program version that last upgraded the
// database, read before its upgrade). Answers "" when the new program is in place;
// otherwise why not (naming the file), the old program then being as it was and
// nothing after the copies done.
std::string WIN2WIN(FlowEnv& env, const std::string& program_dir, const std::string& database_dir,
                    const std::string& last_version);

// Unloads and deletes every file of directory (ending in "\"), fonts included.
void USUN_FONTY(const std::string& directory);

// "public\pub_dat.dbf" of the database: the date, time and version of this
// installation, the download dates emptied. Skipped when the table or its record is
// held.
void DATA_AKTUALIZACJI(table::WorkAreas& areas, const std::string& database_dir, const std::string& version);

}  // namespace zuv::flows
