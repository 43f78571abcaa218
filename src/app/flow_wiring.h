// The two flow buttons of the main window and the unattended run reach the flows
// through here: the program-wide values, the installation records and the database
// upgrade engine are put together into the flows' environment.
#pragma once

#include <span>

#include "app/program.h"
#include "flows/flow_env.h"

namespace zuv::table {
class WorkAreas;
}

namespace zuv::app {

// The flows' environment for one run of a flow; valid while p, d and areas live.
flows::FlowEnv flow_env(Program& p, ui::Dialogs& d, table::WorkAreas& areas);

// Services::upgrade and Services::first_install run the flows.
void wire_flows(Services& s, table::WorkAreas& areas);

// The database upgrade engine as the flows call it (upgrade_wiring.cpp).
flows::UpgradeHooks upgrade_hooks(Program& p, ui::Dialogs& d, table::WorkAreas& areas);
// The template and screen-mask steps of the release (upgrade_wiring.cpp).
std::span<const steps::TemplateStep> release_template_steps();

}  // namespace zuv::app
