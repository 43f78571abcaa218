// What one database upgrade runs with: the run's tables, the release it brings, the
// step tables it walks, and whom it tells what it does (an observer; nobody in a test).
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/table/work_areas.h"
#include "steps/steps.h"

namespace zuv::upgrade {

class UpgradeObserver;

// The step tables a run walks: the release's own in the program, others in tests.
struct StepTables {
  std::span<const steps::StructureStep> structure;
  std::span<const steps::FirmStep> firm;
  // The release's files the steps copy or read (relative to its directory); none when
  // null, beyond the version record and the semaphore every run needs.
  const std::vector<std::string>* release_files = nullptr;
};

// The speed indicator: the duration column the measured time is stored in. 3 for an
// ordinary upgrade, 5 once a firm needed the complete index rebuild, 1 after storing.
struct SpeedIndicator {
  int wskaznik = 3;
  void raise_to(int column) {
    if (wskaznik < column) wskaznik = column;
  }
};

struct UpgradeEnv {
  explicit UpgradeEnv(table::WorkAreas& work_areas) : areas(work_areas) {}
  table::WorkAreas& areas;
  std::string release_dir = ".\\";  // the distribution directory, ending in '\'
  std::string wersja_p;             // program version the release carries
  std::string wersja_b;             // database version it needs
  StepTables steps;
  UpgradeObserver* observer = nullptr;     // nobody when null
  std::string* nazwa_sieciowa = nullptr;  // the program-wide workstation name
  SpeedIndicator* speed = nullptr;
  // SECONDS and TIME: the clock of the run (tests pass their own).
  std::function<double()> seconds;
  std::function<std::string()> time_of_day;

  // Firm steps keep what they change for an undo after a cut. Only a benchmark turns
  // this off, to weigh what the keeping costs.
  bool undo_kept = true;
  // Firms upgraded at once, each in a child process of its own, where the system has
  // them (the headless command's --workers); 1 upgrades them one after the other.
  int workers = 1;
  // Whether the run keeps the state before it for an undo (the disk it needs counts it).
  bool keep_undo = true;

  // The observer, or one that says nothing.
  UpgradeObserver& told() const;
  void run_step(std::string_view name, const std::function<void()>& run) const;
  void progress(double n = 1) const;
  void progress_restart(double maximum, const std::string& text) const;
  double now_seconds() const;
  std::string now_hms() const;
};

// Firm directory of register number nr: database directory + "firma" + the number.
std::string firm_directory(const std::string& database_dir, double nr, const char* prefix = "firma");

}  // namespace zuv::upgrade
