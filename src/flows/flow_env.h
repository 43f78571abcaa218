// What the installation flows work with: the release's values, the dialogs, the run's
// tables, and the routines of the layers above and beside them (the database upgrade
// engine and the installation records), handed in as hooks so that the program wires
// the real ones and tests wire their own.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "steps/steps.h"
#include "upgrade/checked_start.h"

namespace zuv::ui {
class Dialogs;
}
namespace zuv::table {
class WorkAreas;
}

namespace zuv::flows {

// The program-wide values the flows read. Directories are Windows path texts ending
// in "\" (or empty); texts are UTF-8.
struct Release {
  std::string wersja_p;  // program version the release carries, "26.01.033"
  std::string wersja_b;  // database version it needs, "026.01.033"
  std::string roczek;    // the year it serves
  std::string cProgram;  // program directory recorded for the year, or ""
  std::string cBaza;     // database directory recorded for the year, or ""
  std::string release_dir = ".\\";  // the distribution: the process's current directory
};

// The database upgrade engine as the flows call it.
struct UpgradeHooks {
  // UPGRADE_NOWEJ_BAZY: "00" every firm done, "01" some failed, else a message.
  std::function<std::string(const std::string& program_dir, const std::string& database_dir,
                            const std::string& database_version)>
      upgrade_database;
  // PAKUJ_DO_ZIPA: the installation kit into the database's "install\".
  std::function<void(const std::string& database_dir)> pack_archive;
  // POKAZ_CZAS: the estimate before the start; false when the operator declines.
  std::function<bool(const std::string& database_dir, const std::string& version)> estimate;
  // ZAPISZ_PREDKOSC with the measured seconds, then the speed indicator back to 1.
  std::function<void(double elapsed_seconds, const std::string& database_dir)> store_duration;
  // PREPARE_INS with the heading when no progress screen exists, else its firm and
  // time fields back to "?".
  std::function<void(const std::string& heading)> prepare_screen;
  // The progress screen goes, if there is one.
  std::function<void()> close_screen;
  // The checked start before the flow's first change: "" to go on, else the refusal
  // for the operator. program_dir is "" where no program is installed yet.
  std::function<std::string(const std::string& database_dir, const std::string& program_dir,
                            upgrade::StartKind kind)>
      check_start;
  // Whether the run keeps what it changes for a later undo (--no-undo: not).
  bool keep_undo = true;
};

// The application shell's installation records.
struct ShellHooks {
  // REJESTRY: the registry records and the shortcuts.
  std::function<void(const std::string& program_dir, const std::string& database_dir,
                     const std::string& year)>
      rejestry;
  // MAKEDIR: a directory path level by level.
  std::function<bool(const std::string& path)> makedir;
};

struct FlowEnv {
  ui::Dialogs& dialogs;
  table::WorkAreas& areas;
  Release release;
  UpgradeHooks upgrade;
  ShellHooks shell;
  // SA_BLEDY: true when the directory failed the disk test (the operator was told).
  // Empty: the table layer's own test.
  std::function<bool(const std::string& directory, const std::string& kind)> self_test;
  // The template and screen-mask steps the deployment walks.
  std::span<const steps::TemplateStep> template_steps;
  // Hears each stage of the work as it begins (the unattended run logs them).
  std::function<void(const std::string& stage)> stage;
  // SECONDS; empty: the clock of the day.
  std::function<double()> seconds;
  // What the program's baza.dbf records as its database, when the workstations reach
  // it by another path than the one given here (a server's native path); "": the same.
  std::string recorded_database_path;
};

// How an attempt at installing ended; the unattended run turns it into its exit code.
// Refused: nothing was changed (or what was, was put back). Failed: the attempt
// stopped after the database had been changed.
enum class Outcome { None, Success, Partial, Refused, Failed };

}  // namespace zuv::flows
