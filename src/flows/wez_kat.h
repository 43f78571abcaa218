// The chooser button beside a directory field of the flow screens.
#pragma once

#include <functional>
#include <string>

#include "flows/flow_env.h"
#include "platform/gui/flow_screen.h"
#include "ui/dialogs.h"

namespace zuv::flows {

// WEZ_KAT: the chooser starts at the field's directory (or "C:\" when the field is
// empty) and stays kept for the next choice; a directory chosen goes into the field.
void WEZ_KAT(ui::Dialogs& dialogs, gui::FlowScreenSession& screen, int field);

// A screen named name with one directory field (prompt, the release's program directory
// proposed) and its chooser, until the operator leaves it; its action runs act. Answers
// how the last act ended (None when none was made).
Outcome program_directory_screen(FlowEnv& env, const std::string& name, const std::string& prompt,
                                 const std::function<Outcome(gui::FlowScreenSession&)>& act);

}  // namespace zuv::flows
