// The disk access self-test: proves in a scratch directory that the target supports
// everything the served program does with its tables, and names the first step that
// failed.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/table/work_areas.h"
#include "ui/alarm.h"

namespace zuv::tables {

// Runs the nineteen steps in directory + name (create and remove files and the
// directory, create, open, append, export, index, relate, delete, reindex, pack,
// zap, commit, close, add fields, clean up). Answers 0 when all passed, else the
// number of the step at which a runtime error occurred. on_step, when given, hears of
// each step as it begins. The work areas "test" and "test0" are closed on return.
int TEST_ZUV(table::WorkAreas& areas, std::string_view directory, std::string_view name,
             const std::function<void(int step)>& on_step = {});

// The self-test of a directory with its wait window and, on failure, the error
// message. kind "P": the local program directory; any other (the callers pass "B"):
// the database directory on the server. True when an error was found and shown.
bool SA_BLEDY(ui::MessageDialog& dialog, table::WorkAreas& areas, std::string_view directory,
              std::string_view kind);

}  // namespace zuv::tables
