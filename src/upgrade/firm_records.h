// What is read of a firm and its register, and the version rules that decide what a run
// does with a firm: shared by the run, its plan, its checks and its recovery.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "steps/steps.h"
#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// Below this firm version every index of the firm is rebuilt after its steps.
inline constexpr const char* kFullReindexBelow = "014.01.015";
// Firms older than this in a database at least this new count as the database's.
inline constexpr const char* kOldestKeptFirmVersion = "023.01.001";

// What the dispatcher will do with a firm, decided from its recorded version alone.
struct FirmPlan {
  bool processed = false;        // the three core files exist
  std::string recorded_version;  // `baza` as found
  std::string version;           // after the adjustment to the database's version
  bool version_rewritten = false;
  bool current = false;          // at or past the release: nothing runs
  std::vector<std::string> steps;  // names of the steps that would run, in order
  bool full_reindex = false;
};

// The version rules of the dispatcher, shared by the run and the plan. began: the firm's
// conversion to this release began in an earlier run; it is carried on from its own
// version, never moved up to the database's.
FirmPlan plan_firm(const std::string& recorded_version, const std::string& database_version,
                   const std::string& wersja_b, std::span<const steps::FirmStep> firm_steps, bool began = false);

// Whether a data version has the form "026.01.016".
bool valid_data_version(const std::string& version);
// Why a firm's recorded version cannot be used ("" when it can).
std::string firm_version_fault(const std::string& recorded_version);

// The first of the firm's core files that is missing ("" when all are there).
std::string missing_core_file(const std::string& firm_dir);

// Whether "wersja.dbf", "firma.dbf" and "ks_dok.dbf" are all in the firm directory.
bool firm_has_core_files(const std::string& firm_dir);

// A table opened shared and read-only with the given settings, for looking without
// changing anything; nullptr when it cannot be had (the current handler sees why).
std::unique_ptr<table::Table> open_read_only(const std::string& path, const table::Settings& settings);
// A field of the current record, trimmed; "" at the end of the table or without the field.
std::string record_text(table::Table& t, const char* name);

// The `baza` (trimmed) of directory + "wersja.dbf" (a firm's or the database's), read
// from a shared, read-only open; nullopt when the version record cannot be read.
std::optional<std::string> read_recorded_version(table::WorkAreas& areas, const std::string& directory);
// Whether the directory's version record says the last upgrade finished (`ok` = "T");
// false when it cannot be read.
bool read_finished_flag(table::WorkAreas& areas, const std::string& directory);

// Reading the firm register: its firm numbers (deleted records left out), through the
// run's own open register ("ins") when it has one, else shared and read-only.
enum class RegisterRead { Read, Unreadable, NoNumberField, NumberNotNumeric };
RegisterRead read_register(table::WorkAreas& areas, const std::string& database_dir, std::vector<double>& numbers);

// Raises a runtime error through the current handler; under the driver's trap it
// breaks out of the firm. Thrown as a break when a handler answers anything else.
[[noreturn]] void firm_error(int gen_code, int os_code, const std::string& description, const std::string& file,
                             const std::string& operation);

}  // namespace zuv::upgrade
