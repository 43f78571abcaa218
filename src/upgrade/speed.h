// The estimate of an upgrade's duration before it starts, from the durations measured on
// this workstation in earlier upgrades, and the storing of the measured duration. The
// workstation table ("str\nazwy.dbf" of the database) keeps one record per workstation:
// field 1 the name, fields from the fourth on the durations in seconds, one column per
// kind of upgrade (the speed indicator names the column).
#pragma once

#include <string>

#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// The duration as the estimate dialog words it: "1 godz. 2 min. 5 sek. ", parts of
// zero left out.
std::string duration_words(double seconds);

// POKAZ_CZAS: true to go on (also when nothing is known), false when the operator
// declines. last_program_version: the program that last upgraded the database.
bool POKAZ_CZAS(const UpgradeEnv& env, const std::string& database_dir, const std::string& last_program_version);

// ZAPISZ_PREDKOSC: stores the elapsed seconds in the indicator's column of this
// workstation's record; does nothing when the table cannot be opened or locked.
void ZAPISZ_PREDKOSC(const UpgradeEnv& env, double elapsed_seconds, const std::string& database_dir);

}  // namespace zuv::upgrade
