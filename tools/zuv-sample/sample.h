// zuv-sample: a release directory, the program directory of the previous version and
// a database of an older version, written deterministically from a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/table/work_areas.h"
#include "prng.h"

namespace zuv::sample {

// The release the sample's distribution carries (the README's main command:
// zuvinst 26.01.033 026.01.033 2026).
inline constexpr const char* kProgramVersion = "26.01.033";
inline constexpr const char* kDatabaseVersion = "026.01.033";
inline constexpr const char* kYear = "2026";
// The installed program being upgraded, at the lowest version the upgrade accepts.
inline constexpr const char* kInstalledVersion = "25.01.050";

// Firm versions of the sample besides the database's own.
inline constexpr const char* kOldFirmVersion = "013.01.010";    // full index rebuild
inline constexpr const char* kBelow23FirmVersion = "022.01.040";
inline constexpr const char* kAfterStep7Version = "026.01.007";
inline constexpr const char* kAfterStep16Version = "026.01.016";

struct Options {
  std::string out;                         // the directory written into
  int firms = 5;
  int records = 2000;                      // records per large table
  std::string db_version = "022.01.050";
  std::uint64_t seed = 1;
  int old_firms = 1;
  int broken_firms = 0;
  std::string db_path;                     // recorded in the program's "baza.dbf"; "" = out + "baza\"
};

// One registration of the firm register and what its directory holds.
struct FirmPlan {
  int number = 0;
  int ordinal = 0;           // 1-based among the live firms
  bool deleted = false;      // a deleted registration without a directory
  bool broken = false;       // a damaged table makes its first conversion step fail
  std::string version;       // the firm's "wersja.dbf"
  bool vat_payer = true;
  bool lump_sum = false;     // "ryczalt" = "R"
  bool has_sld_buff = true;
  bool has_idw_lst = true;
  bool empty_ksef_nip = false;
  bool empty_v_oss = false;  // a v_oss.dbf of the bare header (2,000 bytes or less)
  bool empty_ksef_w_xml = false;
};

// The register in record order.
std::vector<FirmPlan> plan_firms(const Options& options);

void write_release(const Options& options, const std::string& directory, table::WorkAreas& areas);
void write_program(const Options& options, const std::string& directory, const std::string& database_path);
// The database's shared part (everything but the firm directories).
void write_database_shared(const Options& options, const std::string& directory, const std::vector<FirmPlan>& firms,
                           table::WorkAreas& areas);
// common_from: the directory of a firm already written whose copies of the tables no
// step reads are taken; "" writes them.
void write_firm(const Options& options, const FirmPlan& firm, const std::string& firm_directory,
                table::WorkAreas& areas, const std::string& common_from);

// The template directory "str\" of the release (Era::Release) or of the old database.
void write_templates(const std::string& directory, bool release, table::WorkAreas& areas, Prng prng);

// The shared tables of "public\": with sample data and their indexes (a database) or
// empty (the release's templates; areas may then be null).
void write_public_tables(const std::string& directory, bool with_data, int firms, table::WorkAreas* areas, Prng prng);

// The code page 852 text of a print template, with its version line.
std::string template_text(const std::string& name, const std::string& version);

}  // namespace zuv::sample
