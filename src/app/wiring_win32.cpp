#include <windows.h>

#include <cstdio>
#include <iostream>

#include "app/services.h"
#include "app/wiring.h"
#include "platform/os/codepage.h"

namespace zuv::app {

namespace {
bool usable(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}
}  // namespace

void prepare_output(const std::string& ui) {
  if (ui == "gui") return;
  // Redirected handles (a pipe, a file) are kept; only missing ones go to a console,
  // the caller's when there is one.
  bool in = usable(STD_INPUT_HANDLE), out = usable(STD_OUTPUT_HANDLE), err = usable(STD_ERROR_HANDLE);
  if (in && out && err) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) AllocConsole();
  FILE* f = nullptr;
  if (!out) freopen_s(&f, "CONOUT$", "w", stdout);
  if (!err) freopen_s(&f, "CONOUT$", "w", stderr);
  if (!in) freopen_s(&f, "CONIN$", "r", stdin);
  std::cout.clear();
  std::cerr.clear();
  std::cin.clear();
  SetConsoleOutputCP(CP_UTF8);
}

void report_startup_error(const std::string& ui, const std::string& text) {
  if (ui == "gui") {
    MessageBoxW(nullptr, os::widen(text).c_str(), L"Instalacja programu ZUV", MB_OK | MB_ICONERROR);
    return;
  }
  std::cerr << text << std::flush;
}

void wire_services(Services& s) { wire_common_services(s); }

}  // namespace zuv::app
