// Command-line arguments as UTF-8 on both targets (Windows hands main() ANSI text, so
// the wide command line is read instead).
#pragma once

#include <string>
#include <vector>

namespace zuv::os {
std::vector<std::string> utf8_args(int argc, char** argv);
}
