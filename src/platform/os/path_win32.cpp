#include "platform/os/path.h"

namespace zuv::os {

std::string native_path(std::string_view windows_path) { return std::string(windows_path); }

std::string native_key(const std::string& native) {
  std::string key = native;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    else if (c == '/') c = '\\';
  return key;
}

}  // namespace zuv::os
