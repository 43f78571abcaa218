// The chooser button beside a directory field of the flow screens.
#pragma once

#include "ui/dialogs.h"
#include "platform/gui/flow_screen.h"

namespace zuv::flows {

// WEZ_KAT: the chooser starts at the field's directory (or "C:\" when the field is
// empty) and stays kept for the next choice; a directory chosen goes into the field.
void WEZ_KAT(ui::Dialogs& dialogs, gui::FlowScreenSession& screen, int field);

}  // namespace zuv::flows
