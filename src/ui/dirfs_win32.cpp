#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/os/codepage.h"

namespace zuv::ui {

std::vector<std::pair<std::string, int>> system_drives() {
  std::vector<std::pair<std::string, int>> out;
  wchar_t buf[200] = {};
  DWORD n = GetLogicalDriveStringsW(200, buf);
  if (n == 0 || n > 200) return out;
  for (const wchar_t* p = buf; *p; p += wcslen(p) + 1)
    out.emplace_back(os::narrow(p), static_cast<int>(GetDriveTypeW(p)));
  return out;
}

std::string system_current_drive() {
  wchar_t cwd[MAX_PATH] = {};
  if (GetCurrentDirectoryW(MAX_PATH, cwd) >= 2 && cwd[1] == L':')
    return std::string(1, static_cast<char>(cwd[0])) + ":\\";
  return "C:\\";
}

}  // namespace zuv::ui
