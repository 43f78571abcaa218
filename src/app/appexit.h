// The tables' part of the exit routine (APPEXIT).
#pragma once

#include "platform/table/work_areas.h"

namespace zuv::app {

// Every work area in use is committed and closed or, when its commit fails, rolled
// back and closed, whatever happens to the others: a table left open would stay held
// for the other workstations. Errors become a silent break, one table at a time.
void close_work_areas(table::WorkAreas& areas);

}  // namespace zuv::app
