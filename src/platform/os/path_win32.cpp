#include "platform/os/path.h"

namespace zuv::os {

std::string native_path(std::string_view windows_path) { return std::string(windows_path); }

}  // namespace zuv::os
