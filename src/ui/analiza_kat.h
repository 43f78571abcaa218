// ANALIZA_KAT: the check of a directory the operator typed for the program or the
// database, telling the operator what is wrong with it.
#pragma once

#include <string_view>

#include "ui/alarm.h"

namespace zuv::ui {

// Kind "P" checks the program's directory, anything else the database's. On the first
// fault found the operator is told through dialog and the answer is false.
bool ANALIZA_KAT(std::string_view directory, std::string_view kind, MessageDialog& dialog);

}  // namespace zuv::ui
