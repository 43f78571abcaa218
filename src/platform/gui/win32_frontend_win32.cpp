// The window front end: real Win32 windows for every dialog. Each dialog runs its own
// message loop until its session says done; keys meant for the dialog's buttons are
// taken from the loop before they reach the controls, as the dialogs' key handlers
// decide, and everything else is dispatched normally.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>

#include "platform/gui/frontends.h"
#include "platform/gui/win32_window.h"
#include "platform/os/codepage.h"

namespace zuv::gui {

using namespace win32;

namespace {

constexpr int kButtonBase = 1000;

COLORREF rgb(const Rgb& c) { return RGB(c.r, c.g, c.b); }

// The panel with the text lines: a framed box in the panel colour.
void paint_panel(HDC dc, RECT r, const Rgb& colour, HFONT font,
                 const std::vector<std::string>& lines, Align align) {
  HBRUSH b = CreateSolidBrush(rgb(colour));
  FillRect(dc, &r, b);
  DeleteObject(b);
  DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(32, 32, 32));
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);
  int y = r.top + 4;
  UINT fmt = DT_SINGLELINE | DT_NOPREFIX |
             (align == Align::Left ? DT_LEFT : align == Align::Right ? DT_RIGHT : DT_CENTER);
  for (const auto& l : lines) {
    RECT lr{r.left + 7, y, r.right - 7, y + tm.tmHeight};
    std::wstring w = os::widen(l);
    DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &lr, fmt);
    y += tm.tmHeight;
  }
  SelectObject(dc, old);
}

Key key_of(const MSG& m) {
  bool shift = GetKeyState(VK_SHIFT) < 0;
  switch (m.wParam) {
    case VK_ESCAPE: return Key::Esc;
    case VK_RETURN: return Key::Enter;
    case VK_TAB: return shift ? Key::ShiftTab : Key::Tab;
    case VK_LEFT: return Key::Left;
    case VK_RIGHT: return Key::Right;
    case VK_UP: return Key::Up;
    case VK_DOWN: return Key::Down;
    case VK_F1: return Key::F1;
    case VK_SPACE: return Key::Space;
    case VK_INSERT: return Key::Insert;
    default: return Key::None;
  }
}

bool belongs_to(HWND child, HWND top) { return child == top || IsChild(top, child); }

// ---- message dialog ---------------------------------------------------------------

class AlarmWindow : public Window {
 public:
  AlarmWindow(Win32Frontend& fe, const AlarmDesc& desc, AlarmControl* session)
      : fe_(fe), desc_(desc), session_(session) {
    text_font_ = make_font(L"Times New Roman", desc.text_points, false, false);
    button_font_ = make_font(L"Arial", desc.button_points, false, false);
    bold_font_ = make_font(L"Arial", desc.button_points, true, false);
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    DWORD ex = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    HWND owner = fe.app_window();
    RECT outer = fe.to_screen(desc.dialog_pos, desc.dialog_size);
    create(ex, style, desc.title, outer, owner);
    set_icon(desc.icon);
    RECT c;
    GetClientRect(hwnd(), &c);
    // Frames differ between systems: when this one's title bar leaves too little room
    // for the text and the buttons, the window grows rather than cutting them off.
    int need = 10 + desc.panel_size.h + (desc.wait_window ? 10 : 12 + desc.button_size.h + 12);
    if (c.bottom < need) {
      RECT o;
      GetWindowRect(hwnd(), &o);
      SetWindowPos(hwnd(), nullptr, o.left, o.top - (need - c.bottom) / 2, o.right - o.left,
                   o.bottom - o.top + need - c.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
      GetClientRect(hwnd(), &c);
    }
    panel_ = {10, 10, c.right - 10, 10 + desc.panel_size.h};
    if (!desc.wait_window) {
      int n = static_cast<int>(desc.buttons.size());
      int bw = desc.button_size.w, bh = desc.button_size.h;
      int row = n * (bw + 20) - 20;
      int x = (c.right - row) / 2;
      int y = panel_.bottom + std::max<int>(8, (c.bottom - panel_.bottom - bh) / 2);
      for (int i = 0; i < n; ++i) {
        HWND b = add_button(desc.buttons[i], kButtonBase + i + 1, x + i * (bw + 20), y, bw, bh,
                            button_font_);
        buttons_.push_back(b);
      }
    }
  }
  ~AlarmWindow() override {
    destroy();
    DeleteObject(text_font_);
    DeleteObject(button_font_);
    DeleteObject(bold_font_);
  }

  void run() {
    show();
    // The focus mark is drawn from the start, not only after the first key.
    SendMessageW(hwnd(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    focus_button(session_->focus());
    MSG m;
    while (!session_->done()) {
      if (!PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        session_->tick(fe_.clock().seconds());
        continue;
      }
      if (m.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(m.wParam));
        session_->close_box();
        break;
      }
      if (m.message == WM_KEYDOWN && belongs_to(m.hwnd, hwnd())) {
        Key k = key_of(m);
        if (k != Key::None && k != Key::Space) {
          session_->key(k);
          if (!session_->done()) focus_button(session_->focus());
          continue;
        }
      }
      if (m.message == WM_CHAR && belongs_to(m.hwnd, hwnd())) {
        if (m.wParam >= 32) session_->key(Key::Char, static_cast<char32_t>(m.wParam));
        continue;
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
      session_->tick(fe_.clock().seconds());
    }
  }

  void show_wait() { show(); UpdateWindow(hwnd()); }

 protected:
  LRESULT on_message(UINT msg, WPARAM w, LPARAM l) override {
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        if (desc_.panel_size.w) paint_panel(dc, panel_, desc_.panel, text_font_, desc_.lines, desc_.align);
        EndPaint(hwnd(), &ps);
        return 0;
      }
      case WM_COMMAND: {
        int id = LOWORD(w) - kButtonBase;
        if (id >= 1 && id <= static_cast<int>(buttons_.size())) {
          if (HIWORD(w) == BN_CLICKED) session_->press(id);
          else if (HIWORD(w) == BN_SETFOCUS) {
            SendMessageW(buttons_[id - 1], WM_SETFONT, reinterpret_cast<WPARAM>(bold_font_), TRUE);  // DP
            session_->set_focus(id);
          } else if (HIWORD(w) == BN_KILLFOCUS) {
            SendMessageW(buttons_[id - 1], WM_SETFONT, reinterpret_cast<WPARAM>(button_font_), TRUE);  // PP
          }
        }
        return 0;
      }
      case WM_CLOSE:
        // The wait window only hides; a dialog ends with 0.
        if (session_) session_->close_box();
        else ShowWindow(hwnd(), SW_HIDE);
        return 0;
      default:
        return Window::on_message(msg, w, l);
    }
  }

 private:
  void focus_button(int b) {
    if (b >= 1 && b <= static_cast<int>(buttons_.size())) SetFocus(buttons_[b - 1]);
  }

  Win32Frontend& fe_;
  const AlarmDesc& desc_;
  AlarmControl* session_;
  HFONT text_font_, button_font_, bold_font_;
  RECT panel_{};
  std::vector<HWND> buttons_;
};

class Win32Wait : public WaitWindow {
 public:
  Win32Wait(Win32Frontend& fe, const AlarmDesc& desc) : desc_(desc), w_(fe, desc_, nullptr) {
    w_.show_wait();
  }

 private:
  AlarmDesc desc_;
  AlarmWindow w_;
};

// ---- text entry ------------------------------------------------------------------

class EntryWindow : public Window {
 public:
  EntryWindow(Win32Frontend& fe, const EntryDesc& desc, EntryControl& s)
      : fe_(fe), desc_(desc), session_(s) {
    prompt_font_ = make_font(L"Times New Roman", desc.prompt_points, false, false);
    button_font_ = make_font(L"Arial", desc.button_points, true, false);
    field_font_ = make_font(L"Arial", 10, false, false);
    red_ = CreateSolidBrush(rgb(desc.field_error));
    Where ref = fe.reference();
    Point pos{ref.x + (ref.width - desc.dialog_size.w) / 2, ref.y + (ref.height - desc.dialog_size.h) / 2};
    create(WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT,
           WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, desc.title,
           fe.to_screen(pos, desc.dialog_size), fe.app_window());
    set_icon(desc.icon);
    RECT c;
    GetClientRect(hwnd(), &c);
    int need = 10 + desc.prompt_size.h + 12 + desc.field_size.h + 14 + desc.button_size.h + 12;
    if (c.bottom < need) {
      RECT o;
      GetWindowRect(hwnd(), &o);
      SetWindowPos(hwnd(), nullptr, o.left, o.top, o.right - o.left, o.bottom - o.top + need - c.bottom,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      GetClientRect(hwnd(), &c);
    }
    panel_ = {10, 10, c.right - 10, 10 + desc.prompt_size.h};
    int fy = panel_.bottom + 12;
    field_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", os::widen(desc.proposal).c_str(),
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 10, fy,
                             c.right - 20, desc.field_size.h, hwnd(), reinterpret_cast<HMENU>(10),
                             instance(), nullptr);
    SendMessageW(field_, WM_SETFONT, reinterpret_cast<WPARAM>(field_font_), TRUE);
    if (desc.length > 0) SendMessageW(field_, EM_SETLIMITTEXT, desc.length, 0);
    int bw = desc.button_size.w, bh = desc.button_size.h;
    int by = fy + desc.field_size.h + std::max<int>(10, (c.bottom - fy - desc.field_size.h - bh) / 2);
    int gap = 60;
    int x = (c.right - (2 * bw + gap)) / 2;
    cancel_ = add_button(kEntryCancel, kButtonBase + 1, x, by, bw, bh, button_font_);
    ok_ = add_button(kEntryAccept, kButtonBase + 2, x + bw + gap, by, bw, bh, button_font_);
  }
  ~EntryWindow() override {
    destroy();
    DeleteObject(prompt_font_);
    DeleteObject(button_font_);
    DeleteObject(field_font_);
    DeleteObject(red_);
  }

  std::string run() {
    show();
    SetFocus(field_);
    SendMessageW(field_, EM_SETSEL, 0, -1);
    MSG m;
    while (!done_) {
      if (!GetMessageW(&m, nullptr, 0, 0)) {
        PostQuitMessage(static_cast<int>(m.wParam));
        session_.cancel();
        break;
      }
      if (m.message == WM_KEYDOWN && belongs_to(m.hwnd, hwnd())) {
        Key k = key_of(m);
        if (k == Key::Esc) { attempt(false); continue; }
        if (k == Key::Enter) {
          // KLAWISZE in the field accepts; on a button Enter presses it.
          if (m.hwnd == cancel_) attempt(false);
          else attempt(true);
          continue;
        }
        if (m.hwnd == ok_ || m.hwnd == cancel_) {
          // The buttons' handler: Right/Down to the next control, Left/Up back.
          if (k == Key::Right || k == Key::Down || k == Key::Tab) { move(+1, m.hwnd); continue; }
          if (k == Key::Left || k == Key::Up || k == Key::ShiftTab) { move(-1, m.hwnd); continue; }
        } else if (k == Key::Tab || k == Key::ShiftTab) {
          move(k == Key::Tab ? +1 : -1, m.hwnd);
          continue;
        }
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    return session_.result();
  }

 protected:
  LRESULT on_message(UINT msg, WPARAM w, LPARAM l) override {
    switch (msg) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        if (desc_.prompt_size.w) paint_panel(dc, panel_, desc_.prompt_panel, prompt_font_, desc_.prompt_lines, Align::Left);
        EndPaint(hwnd(), &ps);
        return 0;
      }
      case WM_CTLCOLOREDIT:
        if (flash_ && reinterpret_cast<HWND>(l) == field_) {
          SetBkColor(reinterpret_cast<HDC>(w), rgb(desc_.field_error));
          return reinterpret_cast<LRESULT>(red_);
        }
        break;
      case WM_COMMAND:
        if (LOWORD(w) == kButtonBase + 1 && HIWORD(w) == BN_CLICKED) attempt(false);
        else if (LOWORD(w) == kButtonBase + 2 && HIWORD(w) == BN_CLICKED) attempt(true);
        return 0;
      case WM_CLOSE:
        attempt(false);
        return 0;
      default:
        break;
    }
    return Window::on_message(msg, w, l);
  }

 private:
  void move(int dir, HWND from) {
    HWND order[] = {field_, cancel_, ok_};
    int i = 0;
    for (int k = 0; k < 3; ++k)
      if (order[k] == from) i = k;
    SetFocus(order[(i + dir + 3) % 3]);
  }
  void attempt(bool accept) {
    if (!accept) {
      session_.cancel();
      done_ = true;
      return;
    }
    std::wstring w(static_cast<size_t>(GetWindowTextLengthW(field_)) + 1, L'\0');
    GetWindowTextW(field_, w.data(), static_cast<int>(w.size()));
    w.resize(wcslen(w.c_str()));
    if (session_.accept(os::narrow(w)) == EntryControl::Outcome::Accepted) {
      done_ = true;
      return;
    }
    // A refused text: the field flashes red with a tone and the dialog stays.
    flash_ = true;
    InvalidateRect(field_, nullptr, TRUE);
    UpdateWindow(field_);
    fe_.tone(500, 1);
    Sleep(200);
    flash_ = false;
    InvalidateRect(field_, nullptr, TRUE);
    SetFocus(field_);
  }

  Win32Frontend& fe_;
  const EntryDesc& desc_;
  EntryControl& session_;
  HFONT prompt_font_, button_font_, field_font_;
  HBRUSH red_;
  HWND field_ = nullptr, ok_ = nullptr, cancel_ = nullptr;
  RECT panel_{};
  bool done_ = false;
  bool flash_ = false;
};

// ---- progress --------------------------------------------------------------------

class ProgressWindow : public Window, public ProgressView {
 public:
  explicit ProgressWindow(Win32Frontend& fe) : fe_(fe) {}
  ~ProgressWindow() override { destroy_all(); }

  void create(const ProgressGeometry& g, const std::string& title) override {
    destroy_all();
    g_ = g;
    font_ = make_font(L"Times New Roman", g.points, false, true);
    HWND parent = g.parent ? static_cast<HWND>(g.parent) : fe_.app_window();
    if (!parent) {
      // Nothing to stand in: a small window of its own holds the panel.
      own_ = std::make_unique<Window>();
      Size outer{g.pos.x * 2 + g.panel.w + 16, g.pos.y * 2 + g.panel.h + 40};
      Where d = fe_.desktop();
      own_->create(0, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, "Postęp prac",
                   fe_.to_screen({(d.width - outer.w) / 2, (d.height - outer.h) / 2}, outer), nullptr);
      own_->set_icon(100);
      own_->show();
      parent = own_->hwnd();
    }
    RECT pc;
    GetClientRect(parent, &pc);
    int top = pc.bottom - g.pos.y - g.panel.h;
    group_ = CreateWindowExW(WS_EX_TRANSPARENT, L"BUTTON", os::widen(title).c_str(),
                             WS_CHILD | WS_VISIBLE | BS_GROUPBOX, g.pos.x, top, g.panel.w, g.panel.h,
                             parent, nullptr, instance(), nullptr);
    SendMessageW(group_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    Window::create(0, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_BORDER, "",
                   RECT{g.pos.x + g.bar_pos.x, top + g.panel.h - g.bar_pos.y - g.bar.h,
                        g.pos.x + g.bar_pos.x + g.bar.w, top + g.panel.h - g.bar_pos.y},
                   parent);
    filled_ = 0;
    UpdateWindow(group_);
    UpdateWindow(hwnd());
  }
  void set_title(const std::string& title) override {
    if (group_) SetWindowTextW(group_, os::widen(title).c_str());
  }
  void clear() override { filled_ = 0; redraw(); }
  void fill(int width) override { filled_ = width; redraw(); }
  void destroy() override { destroy_all(); }

 protected:
  LRESULT on_message(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd(), &ps);
      RECT c;
      GetClientRect(hwnd(), &c);
      HBRUSH back = CreateSolidBrush(RGB(236, 236, 236));
      FillRect(dc, &c, back);
      DeleteObject(back);
      RECT f{c.left, c.top, c.left + std::min<int>(filled_, c.right), c.bottom};
      HBRUSH fillb = CreateSolidBrush(RGB(47, 93, 138));
      FillRect(dc, &f, fillb);
      DeleteObject(fillb);
      EndPaint(hwnd(), &ps);
      return 0;
    }
    return Window::on_message(msg, w, l);
  }

 private:
  void redraw() {
    if (!hwnd()) return;
    InvalidateRect(hwnd(), nullptr, FALSE);
    UpdateWindow(hwnd());
  }
  void destroy_all() {
    Window::destroy();
    if (group_) DestroyWindow(group_);
    group_ = nullptr;
    own_.reset();
    if (font_) DeleteObject(font_);
    font_ = nullptr;
  }

  Win32Frontend& fe_;
  ProgressGeometry g_;
  HWND group_ = nullptr;
  HFONT font_ = nullptr;
  int filled_ = 0;
  std::unique_ptr<Window> own_;
};

}  // namespace

// ---- the front end -------------------------------------------------------------

Win32Frontend::Win32Frontend(Clock& clock) : Frontend(clock) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  progress_ = std::make_unique<ProgressWindow>(*this);
}

Win32Frontend::~Win32Frontend() {
  for (auto& [k, f] : measure_fonts_) DeleteObject(f);
}

Where Win32Frontend::desktop() {
  RECT r;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
  return Where{Where::Mode::Desktop, 0, 0, r.right - r.left, r.bottom - r.top};
}

Where Win32Frontend::reference() {
  HWND app = app_window();
  if (!app || !IsWindowVisible(app)) return desktop();
  RECT r;
  GetWindowRect(app, &r);
  Where d = desktop();
  return Where{Where::Mode::AppWindow, r.left, d.height - r.bottom, r.right - r.left,
                   r.bottom - r.top};
}

RECT Win32Frontend::to_screen(Point pos, Size size) {
  Where d = desktop();
  int top = d.height - pos.y - size.h;
  return RECT{pos.x, top, pos.x + size.w, top + size.h};
}

Size Win32Frontend::text_box(const std::string& utf8, const std::string& family, int points,
                             bool bold) {
  // Font matching is slow enough to notice when done per text line: one font per style.
  auto key = family + "|" + std::to_string(points) + (bold ? "b" : "");
  HFONT& f = measure_fonts_[key];
  if (!f) f = make_font(os::widen(family), points, bold, false);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, f);
  std::wstring w = os::widen(utf8);
  SIZE s{0, 0};
  GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &s);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return {s.cx, s.cy};
}

void Win32Frontend::run_alarm(AlarmControl& session) {
  HWND previous = app_window();
  HWND had_focus = GetFocus();
  {
    AlarmWindow w(*this, session.desc(), &session);
    w.run();
  }
  if (previous && IsWindow(previous)) {
    SetActiveWindow(previous);
    if (had_focus && IsWindow(had_focus)) SetFocus(had_focus);
  }
}

std::unique_ptr<WaitWindow> Win32Frontend::open_wait(const AlarmDesc& desc) {
  return std::make_unique<Win32Wait>(*this, desc);
}

std::string Win32Frontend::run_entry(const EntryDesc& desc, EntryControl& session) {
  HWND had_focus = GetFocus();
  std::string r;
  {
    EntryWindow w(*this, desc, session);
    r = w.run();
  }
  if (had_focus && IsWindow(had_focus)) SetFocus(had_focus);
  return r;
}

ProgressView& Win32Frontend::progress_view() {
  return *static_cast<ProgressWindow*>(progress_.get());
}

void Win32Frontend::tone(int frequency, int units) {
  // One unit of the classic tone is a clock tick, 1/18.2 s.
  Beep(static_cast<DWORD>(frequency), static_cast<DWORD>(units * 55));
}

void Win32Frontend::idle(int milliseconds) {
  DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
  MSG m;
  while (static_cast<int>(end - GetTickCount()) > 0) {
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) return;
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

std::unique_ptr<Frontend> make_win32_frontend(Clock& clock) {
  return std::make_unique<Win32Frontend>(clock);
}

}  // namespace zuv::gui
