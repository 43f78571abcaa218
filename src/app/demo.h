// Single dialogs on demand, for screenshots and for trying a front end by hand.
#pragma once

#include <string>

#include "app/program.h"

namespace zuv::app {

// false when the name is unknown. Names: alarm5, alarm3, edtstr, dirselect, licznik.
bool run_demo(const std::string& name, Program& p, ui::Dialogs& d);

}  // namespace zuv::app
