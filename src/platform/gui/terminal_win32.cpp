#include <windows.h>

#include <algorithm>

#include "platform/gui/terminal.h"
#include "platform/os/codepage.h"
#include "platform/os/unicode.h"

namespace zuv::gui {

namespace {

class WinTerminal : public Terminal {
 public:
  WinTerminal() {
    in_ = GetStdHandle(STD_INPUT_HANDLE);
    out_ = GetStdHandle(STD_OUTPUT_HANDLE);
    // A program of the GUI subsystem that attached to a console afterwards may have no
    // usable standard handles: the console's own are opened then.
    if (in_ == nullptr || in_ == INVALID_HANDLE_VALUE || GetFileType(in_) == FILE_TYPE_UNKNOWN)
      in_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (out_ == nullptr || out_ == INVALID_HANDLE_VALUE || GetFileType(out_) == FILE_TYPE_UNKNOWN)
      out_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode;
    console_in_ = GetConsoleMode(in_, &mode) != 0;
    console_out_ = GetConsoleMode(out_, &mode) != 0;
  }
  bool interactive() override { return console_in_; }

  bool read_key(int timeout_ms, Key& key, char32_t& ch) override {
    key = Key::None;
    ch = 0;
    if (!console_in_) {
      std::string line;
      if (!read_line(timeout_ms, line)) return false;
      if (line.empty()) key = Key::Enter;
      else if (line == "\x1b") key = Key::Esc;
      else { key = Key::Char; ch = os::first_char(line); }
      return true;
    }
    DWORD start = GetTickCount();
    while (true) {
      DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms) - std::min<DWORD>(GetTickCount() - start, timeout_ms);
      if (WaitForSingleObject(in_, wait) != WAIT_OBJECT_0) return true;
      INPUT_RECORD rec;
      DWORD n = 0;
      if (!ReadConsoleInputW(in_, &rec, 1, &n) || n == 0) return false;
      if (rec.EventType != KEY_EVENT || !rec.Event.KeyEvent.bKeyDown) continue;
      const auto& k = rec.Event.KeyEvent;
      bool shift = (k.dwControlKeyState & SHIFT_PRESSED) != 0;
      switch (k.wVirtualKeyCode) {
        case VK_ESCAPE: key = Key::Esc; return true;
        case VK_RETURN: key = Key::Enter; return true;
        case VK_TAB: key = shift ? Key::ShiftTab : Key::Tab; return true;
        case VK_LEFT: key = Key::Left; return true;
        case VK_RIGHT: key = Key::Right; return true;
        case VK_UP: key = Key::Up; return true;
        case VK_DOWN: key = Key::Down; return true;
        case VK_F1: key = Key::F1; return true;
        case VK_INSERT: key = Key::Insert; return true;
        case VK_SPACE: key = Key::Space; return true;
        default: break;
      }
      if (k.uChar.UnicodeChar) {
        key = Key::Char;
        ch = k.uChar.UnicodeChar;
        return true;
      }
    }
  }

  bool read_line(int timeout_ms, std::string& line) override {
    (void)timeout_ms;
    line.clear();
    if (console_in_) {
      wchar_t buf[512];
      DWORD n = 0;
      if (!ReadConsoleW(in_, buf, 511, &n, nullptr)) return false;
      std::wstring w(buf, n);
      while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r')) w.pop_back();
      line = os::narrow(w);
    } else {
      char c;
      DWORD n = 0;
      bool any = false;
      while (ReadFile(in_, &c, 1, &n, nullptr) && n == 1) {
        any = true;
        if (c == '\n') break;
        line += c;
      }
      if (!any) return false;
      if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    if (!line.empty() && line[0] == 27) line = "\x1b";
    return true;
  }

  void write(const std::string& s) override {
    DWORD n = 0;
    if (console_out_) {
      std::wstring w = os::widen(s);
      WriteConsoleW(out_, w.data(), static_cast<DWORD>(w.size()), &n, nullptr);
    } else {
      WriteFile(out_, s.data(), static_cast<DWORD>(s.size()), &n, nullptr);
    }
  }

 private:
  HANDLE in_, out_;
  bool console_in_ = false, console_out_ = false;
};

}  // namespace

std::unique_ptr<Terminal> make_stdio_terminal() { return std::make_unique<WinTerminal>(); }

}  // namespace zuv::gui
