// The version records and the database pointer the flows read and write: "wersja.dbf"
// of a program directory (rok, zuv), "wersja.dbf" of a database (baza, zuv, ok, rok)
// and "baza.dbf" of a program directory (PATH). Also the few helpers every flow uses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "flows/flow_env.h"

namespace zuv::table {
class Table;
}

namespace zuv::flows {

struct ProgramVersion {
  std::string rok;  // the year the program serves
  std::string zuv;  // its version, "25.01.050"
};

struct DatabaseVersion {
  std::string baza;  // data version, "026.01.016"
  std::string zuv;   // version of the program that last upgraded it
  bool ok = false;   // the last upgrade finished
  std::string rok;
};

// A field as trimmed UTF-8 text: character fields from code page 852, numbers without
// decimals, logicals "T"/"F", dates yyyymmdd; "" when the table has no such field.
std::string field_text(const table::Table& t, std::string_view name);

// Each opens its table under alias (exclusively unless shared), reads the first
// record and closes it again; nullopt when the table does not open.
std::optional<ProgramVersion> read_program_version(table::WorkAreas& areas, const std::string& file,
                                                   std::string_view alias);
std::optional<DatabaseVersion> read_database_version(table::WorkAreas& areas, const std::string& file,
                                                     std::string_view alias, bool shared);
// The database directory of "baza.dbf", trimmed (may be empty).
std::optional<std::string> read_database_path(table::WorkAreas& areas, const std::string& file);

// Creates "baza.dbf" (PATH, character 60) in the program directory holding the
// database directory in code page 852. The table is built beside the old one and
// renamed over it, so a failure leaves the old pointer as it was.
bool write_database_path(table::WorkAreas& areas, const std::string& program_dir,
                         const std::string& database_dir);
// Sets rok of the program's "wersja.dbf".
bool write_program_year(table::WorkAreas& areas, const std::string& file, const std::string& year);

// The fifteen working directories of a program directory, parents first.
void make_program_directories(const std::string& program_dir);

bool file_here(const std::string& path);  // FILE
bool dir_here(const std::string& path);   // FEXISTS with "D"; a final "\" is allowed
double seconds_now(const FlowEnv& env);
void stage(const FlowEnv& env, const std::string& text);
// SA_BLEDY through the hook or the table layer's test: true when the directory failed.
bool disk_test_failed(FlowEnv& env, const std::string& directory, const std::string& kind);
// The template steps newer than the version that last upgraded the database, in order.
void run_template_steps(FlowEnv& env, const std::string& program_dir, const std::string& database_dir,
                        const std::string& last_version);

}  // namespace zuv::flows
