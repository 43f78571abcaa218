// The "Pierwsza instalacja programu" path: the screen with the program's and the
// database's directories, and its install action, which checks both, makes a new
// database from the release's templates or brings an existing one to the release,
// installs the program files and records the installation.
#pragma once

#include "flows/flow_env.h"
#include "platform/gui/flow_screen.h"

namespace zuv::flows {

// PIERWSZA_INSTALACJA: the screen until the operator leaves it or an installation
// has succeeded. Answers how the last attempt ended (None when none was made).
Outcome PIERWSZA_INSTALACJA(FlowEnv& env);

// INSTALUJ of the first installation: field 1 the program directory, field 2 the
// database's. A success ends the screen; every refusal leaves it open with the focus
// on the field to correct.
Outcome first_install(FlowEnv& env, gui::FlowScreenSession& screen);

}  // namespace zuv::flows
