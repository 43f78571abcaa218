// A small release and database built by each test: the release's "str\" with the
// semaphore and EU tables and its version record "wb.dbf"; a database with its version
// record, a register of firms and one directory per firm. The step tables are the
// test's own: each firm step records its version; one firm can be made to fail.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/table/engine_setup.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "support/table_support.h"
#include "tables/table_access.h"
#include "upgrade/upgrade_driver.h"
#include "upgrade/upgrade_observer.h"

namespace zuv::upgrade::testing {

// What the fake steps saw, for the assertions.
struct StepLog {
  std::vector<std::string> calls;  // "STR_26_01_027", "I_26_01_017@firma2" ...
  long long fail_firm = -1;         // firm whose step fail_step raises an error
  std::string fail_step = "026.01.017";
  long long terr_firm = -1;         // firm whose steps add a report line
};
StepLog& step_log();

// The fake tables: structure steps at the release's versions, firm steps at a subset.
StepTables fake_tables();

class UpgradeTest : public ::testing::Test {
 protected:
  UpgradeTest();
  ~UpgradeTest() override;

  std::string rel;   // release directory, Windows text ending in '\'
  std::string db;    // database directory
  std::string prog;  // program directory

  table::WorkAreas areas;
  UpgradeEnv env{areas};
  // The operator's side, as the front ends give it; the tests set its parts.
  OperatorObserver ops;
  ScreenFields fields;

  static constexpr const char* kWersjaP = "26.01.033";
  static constexpr const char* kWersjaB = "026.01.033";

  void make_table(const std::string& path, const table::Structure& s,
                  const std::vector<std::map<std::string, table::Value>>& records, bool deleted = false);
  void make_register(const std::vector<int>& numbers, bool deleted = false);
  // A firm directory with the three core files and its version.
  void make_firm(int nr, const std::string& version, const std::string& ident = "");
  // The database's version record, the files that make it a database and the shared
  // tables (without the optional ones).
  void make_database(const std::string& version, const char* ok = "T");
  // Every shared catalogue table, its fields read off the key expressions (text, dates
  // under dtos, numbers under str); the PIT tables with the fields the repair uses.
  void make_shared_tables(bool with_optional);
  void make_pit_tables();
  std::string read_field(const std::string& table_path, const char* field);
  std::string bytes(const std::string& windows_path);
  bool exists(const std::string& windows_path);

  std::string run(const std::string& database_version, UpgradeOutcome* outcome = nullptr);

 private:
  zuv::testing::TableTempDir scratch_;
  tables::ScopedPauses pauses_;
};

// Every file under a directory with its bytes (relative name -> bytes).
std::map<std::string, std::string> snapshot(const std::string& native_dir);

}  // namespace zuv::upgrade::testing
