// Choosing a front end by name: "gui", "console", or "script:FILE".
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "platform/gui/toolkit.h"

namespace zuv::gui {

// nullptr with a Polish reason in *error when the name is wrong, the file cannot be
// read, or the front end does not exist on this system.
std::unique_ptr<Frontend> make_frontend(const std::string& name, Clock& clock,
                                        std::ostream* transcript, std::string* error);

#ifdef _WIN32
std::unique_ptr<Frontend> make_win32_frontend(Clock& clock);
#endif

}  // namespace zuv::gui
