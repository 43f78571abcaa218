// The "Aktualizacja programu" path: the screen in which the operator names the
// installed program's directory, and its install action, which checks the program,
// its database and the versions on both sides before anything is changed, and then
// runs the work in a fixed order.
#pragma once

#include "flows/flow_env.h"
#include "platform/gui/flow_screen.h"

namespace zuv::flows {

// UPGRADE: the screen, until the operator leaves it. Answers how the last attempt
// at installing ended (None when none was made).
Outcome UPGRADE(FlowEnv& env);

// The screen's install action (INSTALUJ of the upgrade): field 1 holds the program
// directory. Every refusal is told to the operator and changes nothing.
Outcome upgrade_install(FlowEnv& env, gui::FlowScreenSession& screen);

// The work once the database upgrade has answered (the outcome orders): "00" files,
// registry, archive; "01" archive, files, registry; anything else an error to show.
// The registry is written only once the program files are in place. database_upgraded:
// the upgrade ran, so a failure now comes after the database was changed.
Outcome finish_upgrade(FlowEnv& env, const std::string& result, const std::string& program_dir,
                       const std::string& database_dir, const std::string& last_version, double started,
                       bool database_upgraded);

// The minimum installed program version an upgrade starts from.
inline constexpr const char* kMinimumVersion = "25.01.050";

}  // namespace zuv::flows
