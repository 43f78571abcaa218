#include <windows.h>
#include <tlhelp32.h>

#include "platform/os/codepage.h"
#include "platform/os/process.h"

namespace zuv::os {

std::optional<std::vector<std::vector<std::string>>> running_process_names() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<std::vector<std::string>> out;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry))
    out.push_back({narrow(entry.szExeFile)});
  CloseHandle(snap);
  return out;
}

}  // namespace zuv::os

namespace zuv::os {
unsigned long current_process_id() { return GetCurrentProcessId(); }
}  // namespace zuv::os
