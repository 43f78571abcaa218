#include "app/native_display.h"

namespace zuv::app {

bool given_natively(const std::vector<std::string>& directories) {
#ifdef _WIN32
  (void)directories;
  return false;
#else
  for (const std::string& dir : directories)
    if (!dir.empty() && dir.front() == '/') return true;
  return false;
#endif
}

std::string shown_as_given(bool native, const std::string& text) {
  if (!native) return text;
  std::string shown;
  for (char c : text) {
    if (c == '\\') c = '/';
    if (c == '/' && !shown.empty() && shown.back() == '/') continue;
    shown += c;
  }
  return shown;
}

}  // namespace zuv::app
