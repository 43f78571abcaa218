// The headless database upgrade: the upgrade engine alone on one database, for a file
// server without a screen. No upgrade-entry checks, no deployment, no registry.
#pragma once

#include <ostream>
#include <string>

#include "app/command_line.h"
#include "platform/table/work_areas.h"
#include "upgrade/upgrade_driver.h"

namespace zuv::app {

// The release's steps as the program links them (release_steps.cpp).
struct ReleaseSteps {
  upgrade::StepTables tables;
  upgrade::SharedStepFn shared = nullptr;
  bool available = false;
};
ReleaseSteps release_steps();

// Exit codes of the headless upgrade.
enum HeadlessExit { kHeadlessDone = 0, kHeadlessFirmsFailed = 1, kHeadlessRefused = 2, kHeadlessError = 3 };

// A directory as the operator typed it (Windows or native form) as the logic keeps
// it: '\' separators and a closing '\'.
std::string directory_text(const std::string& given);

// Runs the upgrade (or, with --plan, only prints it) as the command line asks. The
// progress line goes to err, refusals to err, the failed firms to out.
int run_headless_upgrade(const CommandLine& cl, const ReleaseSteps& steps, table::WorkAreas& areas, std::ostream& out,
                         std::ostream& err, const std::string& release_dir = ".\\");

}  // namespace zuv::app
