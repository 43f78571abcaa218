#include <windows.h>

#include <cstdio>
#include <iostream>

#include "app/wiring.h"
#include "platform/os/codepage.h"

namespace zuv::app {

void prepare_output(const std::string& ui) {
  if (ui == "gui") return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) AllocConsole();
  FILE* f = nullptr;
  freopen_s(&f, "CONOUT$", "w", stdout);
  freopen_s(&f, "CONOUT$", "w", stderr);
  freopen_s(&f, "CONIN$", "r", stdin);
  std::ios::sync_with_stdio(true);
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

void wire_services(Services&) {}

}  // namespace zuv::app
