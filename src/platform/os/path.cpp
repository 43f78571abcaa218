#include "platform/os/path.h"

namespace zuv::os {

std::string native_path(std::string_view windows_path) {
#ifdef _WIN32
  return std::string(windows_path);
#else
  std::string out(windows_path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
#endif
}

}  // namespace zuv::os
