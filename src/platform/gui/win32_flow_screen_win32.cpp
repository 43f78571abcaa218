// The screens of the two installation flows as a window over the main window's drawing
// area: a frame holding each field under its label with its chooser button, and the two
// push buttons at the foot. The flow acts on the session; this window draws it, follows
// what the flow sets (texts, focus, enabled) and reports what the operator did.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/gui/win32_window.h"
#include "platform/os/codepage.h"

namespace zuv::gui {

using namespace win32;

namespace {

constexpr int kBack = 3001, kInstall = 3002, kFirstField = 3100, kFirstChooser = 3200;

class FlowScreenWindow : public Window {
 public:
  FlowScreenWindow(Win32Frontend& fe, FlowScreenSession& s) : fe_(fe), s_(s), owner_(fe.app_window()) {
    const FlowScreenDesc& d = s.desc();
    normal_ = make_font(L"Arial", d.button_points, false, false);
    bold_ = make_font(L"Arial", d.button_points, true, false);
    field_font_ = make_font(L"Arial", d.field_points, false, false);
    DWORD style = WS_POPUP | WS_CLIPCHILDREN | (d.border ? WS_BORDER : 0);
    DWORD ex = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT | (d.topmost ? WS_EX_TOPMOST : 0);
    create(ex, style, d.name, area(), owner_);
    set_background(RGB(d.background.r, d.background.g, d.background.b));
    lay_out();
    s_.on_text = [this](int f) { show_text(f); };
    s_.on_focus = [this](int f) { follow_focus(f); };
    s_.on_enable = [this](bool e) {
      EnableWindow(hwnd(), e);
      // Back from the work: the flow has said where the operator goes next.
      if (e) follow_focus(s_.focus());
    };
  }
  ~FlowScreenWindow() override {
    s_.on_text = nullptr;
    s_.on_focus = nullptr;
    s_.on_enable = nullptr;
    destroy();
    for (HFONT f : {normal_, bold_, label_font_, field_font_}) DeleteObject(f);
    for (HICON i : {icon_, icon_over_})
      if (i) DestroyIcon(i);
  }

  void run() {
    // The dialogs of the flow centre on this screen and the progress panel lives in it.
    fe_.set_app_window(hwnd());
    show();
    SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    follow_focus(s_.focus());
    MSG m;
    while (!s_.finished()) {
      if (!GetMessageW(&m, nullptr, 0, 0)) {
        PostQuitMessage(static_cast<int>(m.wParam));
        s_.close();
        break;
      }
      if (m.message == WM_KEYDOWN && (m.hwnd == hwnd() || IsChild(hwnd(), m.hwnd)) && key(m.hwnd, m.wParam))
        continue;
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    fe_.set_app_window(owner_);
  }

 protected:
  LRESULT on_message(UINT msg, WPARAM w, LPARAM l) override {
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        DrawEdge(dc, &frame_, EDGE_ETCHED, BF_RECT);
        EndPaint(hwnd(), &ps);
        return 0;
      }
      case WM_COMMAND:
        command(LOWORD(w), HIWORD(w));
        return 0;
      case WM_CLOSE:
        s_.close();
        return 0;
      default:
        break;
    }
    return Window::on_message(msg, w, l);
  }

 private:
  // Over the owner's drawing area, or centred on the desktop when there is no owner.
  RECT area() {
    RECT r;
    if (owner_ && IsWindowVisible(owner_)) {
      GetClientRect(owner_, &r);
      MapWindowPoints(owner_, nullptr, reinterpret_cast<POINT*>(&r), 2);
      return r;
    }
    Where d = fe_.desktop();
    const Size size{630, 260};
    return fe_.to_screen({(d.width - size.w) / 2, (d.height - size.h) / 2}, size);
  }

  // Rows in units of a twelfth of the height; the fields and their frame stand above
  // the buttons, the whole centred in the height.
  void lay_out() {
    RECT c;
    GetClientRect(hwnd(), &c);
    const int width = c.right, height = c.bottom;
    const int u = std::max(16, height / 12);
    const int label_h = u + 4, field_h = u + u / 3, chooser = field_h + 4, button_h = u + u / 2;
    const int block = label_h + 2 + field_h;
    const int n = s_.field_count();
    const int frame_h = u / 2 + n * block + (n - 1) * u + u / 2 + 4;
    const int top = std::max(u / 2, (height - frame_h - u - button_h) / 2);
    frame_ = {u / 2, top, width - u / 2, top + frame_h};

    label_font_ = label_font(width - 2 * u);
    const int icon_size = chooser * 7 / 10;
    icon_ = load_icon(s_.desc().chooser_icon, icon_size);
    icon_over_ = load_icon(s_.desc().chooser_icon_hover, icon_size);
    int y = top + u / 2 + 2;
    for (int f = 1; f <= n; ++f) {
      const ScreenField& field = s_.desc().fields[static_cast<size_t>(f - 1)];
      HWND label = CreateWindowExW(0, L"STATIC", os::widen(field.label).c_str(),
                                   WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_LEFTNOWORDWRAP,
                                   u, y, width - 2 * u, label_h, hwnd(), nullptr, instance(), nullptr);
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(label_font_), TRUE);
      y += label_h + 2;
      HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", os::widen(s_.text(f)).c_str(),
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, u, y,
                                  width - 2 * u - chooser - u / 2, field_h, hwnd(),
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstField + f)), instance(), nullptr);
      SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(field_font_), TRUE);
      SendMessageW(edit, EM_SETLIMITTEXT, static_cast<WPARAM>(field.length), 0);
      fields_.push_back(edit);
      // Without the pictures (a program built without them) the button says what it does.
      HWND pick = CreateWindowExW(0, L"BUTTON", icon_ ? L"" : L"...",
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY | (icon_ ? BS_ICON : 0),
                                  width - u - chooser, y - 2, chooser, chooser, hwnd(),
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstChooser + f)), instance(), nullptr);
      if (icon_) {
        SendMessageW(pick, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon_));
        follow_mouse_icon(pick, icon_, icon_over_ ? icon_over_ : icon_);
      }
      choosers_.push_back(pick);
      y += field_h + u;
    }

    // Push buttons 0.4 of the width, each centred in its half.
    const int bw = width * 2 / 5, by = frame_.bottom + u;
    back_ = add_button(kScreenBack, kBack, (width / 2 - bw) / 2, by, bw, button_h, normal_);
    install_ = add_button(kScreenInstall, kInstall, width / 2 + (width / 2 - bw) / 2, by, bw, button_h, normal_);
    for (HWND b : {back_, install_}) follow_mouse(b, normal_, bold_);
  }

  // The labels keep to one line: the font steps down from its size until the longest
  // one fits the width.
  HFONT label_font(int width) const {
    HDC dc = GetDC(hwnd());
    HFONT font = nullptr;
    for (int points = s_.desc().label_points;; --points) {
      font = make_font(L"Arial", points, true, false);
      HGDIOBJ old = SelectObject(dc, font);
      bool fits = true;
      for (const ScreenField& f : s_.desc().fields) {
        std::wstring w = os::widen(f.label);
        SIZE size{};
        GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
        fits = fits && size.cx <= width;
      }
      SelectObject(dc, old);
      if (fits || points <= 7) break;
      DeleteObject(font);
    }
    ReleaseDC(hwnd(), dc);
    return font;
  }

  static HICON load_icon(int id, int size) {
    return static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
  }

  // Tab order: each field and its chooser, then the two push buttons.
  std::vector<HWND> order() const {
    std::vector<HWND> o;
    for (size_t i = 0; i < fields_.size(); ++i) {
      o.push_back(fields_[i]);
      o.push_back(choosers_[i]);
    }
    o.push_back(back_);
    o.push_back(install_);
    return o;
  }
  void move_focus(HWND from, int step) {
    auto o = order();
    auto at = std::find(o.begin(), o.end(), from);
    int i = at == o.end() ? 0 : static_cast<int>(at - o.begin()) + step;
    const int n = static_cast<int>(o.size());
    SetFocus(o[static_cast<size_t>(((i % n) + n) % n)]);
  }
  bool is_button(HWND h) const {
    return h == back_ || h == install_ || std::find(choosers_.begin(), choosers_.end(), h) != choosers_.end();
  }

  // The keys of the screen's buttons: Esc leaves, Enter presses, the arrows walk the
  // tab order (left and up forward, right and down back); Tab walks it everywhere.
  bool key(HWND target, WPARAM vk) {
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    switch (vk) {
      case VK_ESCAPE:
        s_.close();
        return true;
      case VK_TAB:
        move_focus(target, shift ? -1 : 1);
        return true;
      case VK_RETURN:
        if (!is_button(target)) return false;
        command(GetDlgCtrlID(target), BN_CLICKED);
        return true;
      case VK_LEFT:
      case VK_UP:
      case VK_RIGHT:
      case VK_DOWN:
        if (!is_button(target)) return false;
        move_focus(target, vk == VK_LEFT || vk == VK_UP ? 1 : -1);
        return true;
      default:
        return false;
    }
  }

  void command(int id, int code) {
    if (id == kBack || id == kInstall) {
      HWND b = id == kBack ? back_ : install_;
      if (code == BN_SETFOCUS || code == BN_KILLFOCUS)  // DP, PP
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(code == BN_SETFOCUS ? bold_ : normal_), TRUE);
      else if (code == BN_CLICKED && id == kBack)
        s_.press_back();
      else if (code == BN_CLICKED)
        s_.press_install();
    } else if (id > kFirstChooser && id <= kFirstChooser + s_.field_count()) {
      if (code == BN_CLICKED) s_.press_chooser(id - kFirstChooser);
    } else if (id > kFirstField && id <= kFirstField + s_.field_count() && code == EN_CHANGE && !showing_) {
      HWND edit = fields_[static_cast<size_t>(id - kFirstField - 1)];
      std::wstring w(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
      GetWindowTextW(edit, w.data(), static_cast<int>(w.size()));
      w.resize(wcslen(w.c_str()));
      showing_ = true;  // the session's echo must not move the caret
      s_.set_text(id - kFirstField, os::narrow(w));
      showing_ = false;
    }
  }

  void show_text(int f) {
    if (showing_ || f < 1 || f > static_cast<int>(fields_.size())) return;
    showing_ = true;
    SetWindowTextW(fields_[static_cast<size_t>(f - 1)], os::widen(s_.text(f)).c_str());
    showing_ = false;
  }

  void follow_focus(int f) {
    if (f >= 1 && f <= static_cast<int>(fields_.size())) {
      HWND edit = fields_[static_cast<size_t>(f - 1)];
      SetFocus(edit);
      SendMessageW(edit, EM_SETSEL, 0, -1);
    } else {
      SetFocus(hwnd());
    }
  }

  Win32Frontend& fe_;
  FlowScreenSession& s_;
  HWND owner_;
  HFONT normal_, bold_, label_font_ = nullptr, field_font_;
  HICON icon_ = nullptr, icon_over_ = nullptr;
  RECT frame_{};
  std::vector<HWND> fields_, choosers_;
  HWND back_ = nullptr, install_ = nullptr;
  bool showing_ = false;
};

}  // namespace

bool Win32Frontend::run_flow_screen(FlowScreenSession& session) {
  HWND owner = app_window();
  {
    FlowScreenWindow w(*this, session);
    w.run();
  }
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
  return true;
}

}  // namespace zuv::gui
