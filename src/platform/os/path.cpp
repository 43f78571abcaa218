#include "platform/os/path.h"

#include "platform/os/codepage.h"

namespace zuv::os {

std::filesystem::path fs_path(std::string_view windows_path) {
#ifdef _WIN32
  return std::filesystem::path(widen(windows_path));
#else
  return std::filesystem::path(native_path(windows_path));
#endif
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

static size_t last_separator(std::string_view p) {
  size_t at = p.find_last_of("\\/");
  return at;
}

std::string_view file_name_part(std::string_view p) {
  size_t at = last_separator(p);
  if (at == std::string_view::npos) {
    // "C:name" keeps the drive out of the name.
    return p.size() >= 2 && p[1] == ':' ? p.substr(2) : p;
  }
  return p.substr(at + 1);
}

std::string_view directory_part(std::string_view p) {
  size_t at = last_separator(p);
  if (at == std::string_view::npos) return p.size() >= 2 && p[1] == ':' ? p.substr(0, 2) : std::string_view();
  return p.substr(0, at + 1);
}

std::string with_backslash(std::string directory) {
  if (!directory.empty() && directory.back() != '\\') directory += '\\';
  return directory;
}

}  // namespace zuv::os
