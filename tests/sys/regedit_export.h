// Test helper: what landed in the Windows registry, read by the system's own registry
// editor (regedit /E), never by our registry class. Windows and Wine only.
#pragma once
#ifdef _WIN32
#include <windows.h>
#undef RegOpenKeyEx
#undef RegCreateKeyEx
#undef RegQueryInfoKey
#undef RegEnumKeyEx
#undef RegEnumValue

#include <fstream>
#include <iterator>
#include <string>

#include "platform/os/codepage.h"

namespace zuv::testing {

// Exports key (and its subkeys) with regedit.exe and answers the export as UTF-8 text
// with CR LF turned into LF; "" when regedit could not export it.
inline std::string regedit_export(const std::string& key) {
  wchar_t tmp_dir[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp_dir);
  std::wstring file = std::wstring(tmp_dir) + L"zuv_regedit_export.reg";
  DeleteFileW(file.c_str());
  std::wstring cmd = L"regedit.exe /E \"" + file + L"\" \"" + os::widen(key) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return "";
  WaitForSingleObject(pi.hProcess, 60000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::ifstream in(file.c_str(), std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  DeleteFileW(file.c_str());
  size_t start = raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF ? 2 : 0;
  std::wstring w;
  for (size_t i = start; i + 1 < raw.size(); i += 2)
    w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8)));
  std::string text = os::narrow(w), out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

}  // namespace zuv::testing
#endif
