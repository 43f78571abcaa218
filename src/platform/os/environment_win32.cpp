#include <windows.h>

#include <cstdlib>

#include "platform/os/codepage.h"
#include "platform/os/environment.h"

namespace zuv::os {

std::string get_env(std::string_view name) {
  std::wstring n = widen(name);
  DWORD size = GetEnvironmentVariableW(n.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  DWORD got = GetEnvironmentVariableW(n.c_str(), value.data(), size);
  if (got == 0 || got >= size) return {};
  value.resize(got);
  return narrow(value);
}

bool set_env(std::string_view name, std::string_view value) {
  std::wstring n = widen(name);
  if (n.empty() || n.find(L'=') != std::wstring::npos) return false;
  std::wstring v = widen(value);
  if (!SetEnvironmentVariableW(n.c_str(), value.empty() ? nullptr : v.c_str())) return false;
  // Keep the C runtime's copy (getenv, _wgetenv) in step with the process block.
  _wputenv_s(n.c_str(), v.c_str());
  return true;
}

std::string host_name() {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(buf, &n) ? narrow(std::wstring_view(buf, n)) : std::string();
}

}  // namespace zuv::os
