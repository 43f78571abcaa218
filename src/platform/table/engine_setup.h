// Start-up of the table layer: the engines with their default, the Polish collation,
// and the run-time settings every table operation relies on.
#pragma once

#include <functional>
#include <string>

#include "platform/table/work_areas.h"

namespace zuv::table {

// Shows a message with an "OK" button (usable before any window exists).
using Alert = std::function<void(const std::string& message)>;

// Loads and builds "DBFNTX" (DBFDBE + NTXDBE) and "FOXCDX" (FOXDBE + CDXDBE), each step
// tested and reported through alert when it fails (set-up then goes on), makes
// "FOXCDX" the default and makes the Polish collation current.
void DBESYS(WorkAreas& areas, const Alert& alert);

// Fixes the run-time settings, in their order: type-ahead 100 keys, century on, date
// format "yyyy.mm.dd", 0 decimals shown, deleted records hidden, exact comparison,
// switch 39 "OFF", no scoreboard, soft seek, printer off, exclusive opening, no
// cancelling from the keyboard.
void STARTINIT(WorkAreas& areas);

}  // namespace zuv::table
