#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/gui/win32_window.h"
#include "platform/os/codepage.h"

namespace zuv::gui {

using namespace win32;

namespace {

constexpr int kFirstButton = 2000;

Key main_key(WPARAM vk) {
  switch (vk) {
    case VK_ESCAPE: return Key::Esc;
    case VK_RETURN: return Key::Enter;
    case VK_TAB: return GetKeyState(VK_SHIFT) < 0 ? Key::ShiftTab : Key::Tab;
    case VK_LEFT: return Key::Left;
    case VK_RIGHT: return Key::Right;
    case VK_UP: return Key::Up;
    case VK_DOWN: return Key::Down;
    default: return Key::None;
  }
}

class MainWindow : public Window {
 public:
  MainWindow(Win32Frontend& fe, MainWindowControl& s) : s_(s) {
    const auto& desc = s.desc();
    normal_ = make_font(L"Arial", desc.button_points, false, false);
    bold_ = make_font(L"Arial", desc.button_points, true, false);
    RECT r{desc.pos.x, desc.pos.y, desc.pos.x + desc.outer.w, desc.pos.y + desc.outer.h};
    create(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
           desc.title, r, nullptr);
    set_icon(desc.icon);
    set_background(RGB(desc.background.r, desc.background.g, desc.background.b));
    picture_ = static_cast<HBITMAP>(LoadImageW(instance(), MAKEINTRESOURCEW(desc.bitmap), IMAGE_BITMAP, 0, 0, 0));
    RECT c;
    GetClientRect(hwnd(), &c);
    s.layout({c.right, c.bottom});
    height_ = c.bottom;
    for (size_t i = 0; i < s.buttons().size(); ++i) {
      const auto& b = s.buttons()[i];
      buttons_.push_back(add_button(b.caption, kFirstButton + static_cast<int>(i) + 1, b.pos.x,
                                    height_ - b.pos.y - b.size.h, b.size.w, b.size.h, normal_));
      follow_mouse(buttons_.back(), normal_, bold_);
    }
    fe.set_app_window(hwnd());
    s.on_focus = [this](int b) { follow_focus(b); };
    s.on_enable = [this](bool e) {
      EnableWindow(hwnd(), e);
      for (HWND b : buttons_) EnableWindow(b, e);
    };
  }
  ~MainWindow() override {
    s_.on_focus = nullptr;
    s_.on_enable = nullptr;
    destroy();
    DeleteObject(normal_);
    DeleteObject(bold_);
    if (picture_) DeleteObject(picture_);
  }

  void run() {
    show();
    // The focus mark is drawn from the start, not only after the first key.
    SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    follow_focus(s_.focus());
    MSG m;
    while (!s_.finished()) {
      if (!GetMessageW(&m, nullptr, 0, 0)) break;
      if (m.message == WM_KEYDOWN && (m.hwnd == hwnd() || IsChild(hwnd(), m.hwnd))) {
        Key k = main_key(m.wParam);
        if (k != Key::None) {
          s_.key(k);
          continue;
        }
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }

 protected:
  LRESULT on_message(UINT msg, WPARAM w, LPARAM l) override {
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        if (picture_) {
          HDC mem = CreateCompatibleDC(dc);
          HGDIOBJ old = SelectObject(mem, picture_);
          BITMAP bm;
          GetObject(picture_, sizeof(bm), &bm);
          // Fitted into its rectangle with its proportions kept, centred.
          Point p = s_.picture_pos();
          Size sz = s_.picture_size();
          double k = std::min(static_cast<double>(sz.w) / bm.bmWidth, static_cast<double>(sz.h) / bm.bmHeight);
          int w2 = static_cast<int>(bm.bmWidth * k), h2 = static_cast<int>(bm.bmHeight * k);
          int x = p.x + (sz.w - w2) / 2, y = height_ - p.y - sz.h + (sz.h - h2) / 2;
          SetStretchBltMode(dc, HALFTONE);
          StretchBlt(dc, x, y, w2, h2, mem, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
          SelectObject(mem, old);
          DeleteDC(mem);
        }
        EndPaint(hwnd(), &ps);
        return 0;
      }
      case WM_COMMAND: {
        int id = LOWORD(w) - kFirstButton;
        if (id < 1 || id > static_cast<int>(buttons_.size())) break;
        if (HIWORD(w) == BN_CLICKED) s_.press(id);
        else if (HIWORD(w) == BN_SETFOCUS && s_.focus() != id && !following_) s_.set_focus(id);
        return 0;
      }
      case WM_CLOSE:
        s_.close();
        return 0;
      default:
        break;
    }
    return Window::on_message(msg, w, l);
  }

 private:
  // DP on the focused button, PP on the rest, and the input focus itself.
  void follow_focus(int b) {
    following_ = true;
    for (size_t i = 0; i < buttons_.size(); ++i)
      SendMessageW(buttons_[i], WM_SETFONT,
                   reinterpret_cast<WPARAM>(static_cast<int>(i) + 1 == b ? bold_ : normal_), TRUE);
    if (b >= 1 && b <= static_cast<int>(buttons_.size())) SetFocus(buttons_[b - 1]);
    following_ = false;
  }

  MainWindowControl& s_;
  HFONT normal_, bold_;
  HBITMAP picture_ = nullptr;
  std::vector<HWND> buttons_;
  int height_ = 0;
  bool following_ = false;
};

}  // namespace

void Win32Frontend::run_main_window(MainWindowControl& session) {
  {
    MainWindow w(*this, session);
    w.run();
  }
  set_app_window(nullptr);
}

}  // namespace zuv::gui
