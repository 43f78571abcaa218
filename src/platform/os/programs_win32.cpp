#include "platform/os/programs.h"

namespace zuv::os {

ProgramRun run_program(const std::vector<std::string>&) { return {}; }

}  // namespace zuv::os
