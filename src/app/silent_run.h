// The unattended run: start-up without the main window, then one flow with the given
// directories, every question answered with its default button.
#pragma once

#include "app/command_line.h"
#include "app/program.h"
#include "platform/gui/silent.h"

namespace zuv::table {
class WorkAreas;
}

namespace zuv::app {

// Exit codes of the unattended run.
inline constexpr int kSilentSuccess = 0, kSilentFirmsFailed = 1, kSilentRefused = 2, kSilentFailedAfterChange = 3;

int run_silent(const CommandLine& cl, Program& p, ui::Dialogs& d, gui::SilentFrontend& fe, Services& services,
               table::WorkAreas& areas);

}  // namespace zuv::app
