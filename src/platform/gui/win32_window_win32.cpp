#include "platform/gui/win32_window.h"

#include "platform/os/codepage.h"

namespace zuv::gui::win32 {

namespace {
const wchar_t* kClass = L"ZuvOkno";

void register_class() {
  static bool done = false;
  if (done) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClass;
  RegisterClassExW(&wc);
  done = true;
}
// Enter and leave need the button's own messages: its procedure is wrapped, and the
// wrapper's data ride on window properties.
LRESULT CALLBACK hover_proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto old = reinterpret_cast<WNDPROC>(GetPropW(h, L"ZuvProc"));
  auto change = [h](const wchar_t* font, const wchar_t* icon) {
    if (HANDLE f = GetPropW(h, font)) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
    if (HANDLE i = GetPropW(h, icon)) SendMessageW(h, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(i));
  };
  if (msg == WM_MOUSEMOVE && !GetPropW(h, L"ZuvOver")) {
    TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE, h, 0};
    TrackMouseEvent(&t);
    SetPropW(h, L"ZuvOver", reinterpret_cast<HANDLE>(1));
    change(L"ZuvBold", L"ZuvIconOver");
  } else if (msg == WM_MOUSELEAVE) {
    RemovePropW(h, L"ZuvOver");
    change(L"ZuvNormal", L"ZuvIcon");
  } else if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    for (const wchar_t* p : {L"ZuvProc", L"ZuvOver", L"ZuvBold", L"ZuvNormal", L"ZuvIcon", L"ZuvIconOver"})
      RemovePropW(h, p);
  }
  return CallWindowProcW(old, h, msg, w, l);
}

void wrap(HWND b) {
  SetPropW(b, L"ZuvProc", reinterpret_cast<HANDLE>(GetWindowLongPtrW(b, GWLP_WNDPROC)));
  SetWindowLongPtrW(b, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&hover_proc));
}
}  // namespace

void follow_mouse(HWND b, HFONT normal, HFONT bold) {
  SetPropW(b, L"ZuvBold", bold);
  SetPropW(b, L"ZuvNormal", normal);
  wrap(b);
}

void follow_mouse_icon(HWND b, HICON normal, HICON hover) {
  SetPropW(b, L"ZuvIcon", normal);
  SetPropW(b, L"ZuvIconOver", hover);
  wrap(b);
}

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

HFONT make_font(const std::wstring& family, int points, bool bold, bool italic) {
  HDC dc = GetDC(nullptr);
  int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(nullptr, dc);
  return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic, FALSE, FALSE,
                     EASTEUROPE_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, family.c_str());
}

HMENU make_menu(const std::vector<std::pair<std::string, UINT>>& entries) {
  HMENU m = CreatePopupMenu();
  for (const auto& [label, id] : entries) {
    if (label.empty()) {
      AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    std::string text;
    for (char c : label) {
      if (c == '&') text += "&&";
      else if (c == '~') text += '&';
      else text += c;
    }
    AppendMenuW(m, MF_STRING, id, os::widen(text).c_str());
  }
  return m;
}

Window::~Window() { destroy(); }

void Window::create(DWORD ex_style, DWORD style, const std::string& title, RECT r, HWND parent) {
  register_class();
  hwnd_ = CreateWindowExW(ex_style, kClass, os::widen(title).c_str(), style, r.left, r.top,
                          r.right - r.left, r.bottom - r.top, parent, nullptr, instance(), nullptr);
  if (!hwnd_) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::proc));
}

void Window::destroy() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  if (background_) DeleteObject(background_);
  background_ = nullptr;
}

void Window::show() {
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

void Window::set_icon(int id) {
  HICON big = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 32, 32, 0));
  HICON small = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
  if (big) SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (small) SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void Window::set_background(COLORREF c) {
  if (background_) DeleteObject(background_);
  background_ = CreateSolidBrush(c);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

HWND Window::add_button(const std::string& label, int id, int x, int y, int w, int h, HFONT font) {
  HWND b = CreateWindowExW(0, L"BUTTON", os::widen(label).c_str(),
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, x, y, w, h,
                           hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance(), nullptr);
  SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return b;
}

LRESULT Window::on_message(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_ERASEBKGND && background_) {
    RECT r;
    GetClientRect(hwnd_, &r);
    FillRect(reinterpret_cast<HDC>(w), &r, background_);
    return 1;
  }
  if (msg == WM_CTLCOLORSTATIC && background_) {
    SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
    return reinterpret_cast<LRESULT>(background_);
  }
  return DefWindowProcW(hwnd_, msg, w, l);
}

LRESULT CALLBACK Window::proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self) return DefWindowProcW(h, msg, w, l);
  return self->on_message(msg, w, l);
}

}  // namespace zuv::gui::win32
