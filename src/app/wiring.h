// What the entry point needs from the system around the shell: an output for the
// chosen front end, a way to report start-up errors, and the real services.
#pragma once

#include <string>

#include "app/program.h"

namespace zuv::app {

// Windows: a program of the GUI subsystem has no console; the text front ends attach
// to the caller's console or open one.
void prepare_output(const std::string& ui);
// A message box for the window front end, standard error otherwise.
void report_startup_error(const std::string& ui, const std::string& text);
// The services the program has (process list, registry, engine hooks); the stand-ins
// of Services stay where none is available yet.
void wire_services(Services& s);

}  // namespace zuv::app
