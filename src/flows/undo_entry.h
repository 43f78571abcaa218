// "Cofnij instalację": the console's way to the undo of this release's installation. The
// operator names the program's directory; its database comes from its baza.dbf; the
// undo's plan is shown and confirmed before anything changes.
#pragma once

#include "flows/flow_env.h"

namespace zuv::flows {

// The screen, until the operator leaves it. Answers how the last attempt ended.
Outcome UNDO_INSTALLATION(FlowEnv& env);

}  // namespace zuv::flows
