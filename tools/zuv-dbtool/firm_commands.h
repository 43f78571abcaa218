// Firm-level commands of zuv-dbtool: rebuild every index of a firm directory and run
// the disk self-test in a directory.
#pragma once

#include <CLI/CLI.hpp>

namespace zuv::dbtool {

// Adds "reindex-firm DIR" and "disk-test DIR" to app.
void add_firm_commands(CLI::App& app);
// Runs the firm command that was chosen and answers its exit code; -1 when none was.
int run_firm_commands();

}  // namespace zuv::dbtool
