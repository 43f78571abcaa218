#include "support/display.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zuv::testing {

#ifdef _WIN32
namespace {

bool probe(std::string* why) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZuvDisplayProbe";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, wc.lpszClassName, L"Próba ekranu", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                           nullptr, nullptr, wc.hInstance, nullptr);
  if (!w) {
    *why = "no window can be created (no display?)";
    return false;
  }
  ShowWindow(w, SW_SHOW);
  SetForegroundWindow(w);
  SetFocus(w);
  bool focused = false;
  DWORD start = GetTickCount();
  while (!focused && GetTickCount() - start < 5000) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    focused = GetFocus() == w || GetForegroundWindow() == w;
    if (!focused) {
      SetForegroundWindow(w);
      SetFocus(w);
      Sleep(50);
    }
  }
  DestroyWindow(w);
  if (!focused) *why = "a window shown did not take the focus within 5 s (no display? run under xvfb-run)";
  return focused;
}

}  // namespace

bool display_usable(std::string* why) {
  static std::string reason;
  static const bool usable = probe(&reason);
  if (why) *why = reason;
  return usable;
}
#else
bool display_usable(std::string* why) {
  if (why) why->clear();
  return true;  // the console tests need none
}
#endif

}  // namespace zuv::testing
