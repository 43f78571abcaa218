// The upgrade's progress screen as a window: borderless, always on top, no task-list
// entry, over the owner's drawing area, with static texts that are rewritten in place.
#include <vector>

#include "platform/gui/win32_window.h"
#include "platform/os/codepage.h"

namespace zuv::gui {
namespace {

class InstallScreenWindow : public win32::Window {
 public:
  explicit InstallScreenWindow(const InstallScreenDesc& d, RECT where) {
    create(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, WS_POPUP | WS_BORDER, "", where, nullptr);
    set_background(RGB(d.background.r, d.background.g, d.background.b));
    font_ = win32::make_font(os::widen(d.font), d.points + 2, false, false);
    bold_ = win32::make_font(os::widen(d.font), d.points + 4, true, false);
    fixed_ = win32::make_font(os::widen(d.fixed_font), d.points + 2, true, false);
    const int w = d.size.w;
    heading_ = text(d.heading, 0, d.row(0), w, bold_, SS_CENTER);
    stage_ = text(d.stage, 0, d.row(1), w, font_, SS_CENTER);
    for (size_t i = 0; i < d.labels.size(); ++i) {
      text(d.labels[i], 20, d.row(static_cast<int>(i) + 2) + 20, d.value_x() - 24, font_, SS_RIGHT);
      values_.push_back(text(d.values[i], d.value_x(), d.row(static_cast<int>(i) + 2) + 20, w - d.value_x() - 20,
                             fixed_, SS_LEFT));
    }
    show();
  }
  ~InstallScreenWindow() override {
    destroy();
    for (HFONT f : {font_, bold_, fixed_})
      if (f) DeleteObject(f);
  }
  void update(const InstallScreenDesc& d) {
    SetWindowTextW(heading_, os::widen(d.heading).c_str());
    SetWindowTextW(stage_, os::widen(d.stage).c_str());
    for (size_t i = 0; i < values_.size() && i < d.values.size(); ++i)
      SetWindowTextW(values_[i], os::widen(d.values[i]).c_str());
  }

 private:
  HWND text(const std::string& s, int x, int y, int w, HFONT font, DWORD align) {
    HWND h = CreateWindowExW(0, L"STATIC", os::widen(s).c_str(), WS_CHILD | WS_VISIBLE | align, x, y, w, 22,
                             hwnd(), nullptr, win32::instance(), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return h;
  }
  HFONT font_ = nullptr, bold_ = nullptr, fixed_ = nullptr;
  HWND heading_ = nullptr, stage_ = nullptr;
  std::vector<HWND> values_;
};

}  // namespace

void Win32Frontend::show_install_screen(const InstallScreenDesc& desc) {
  if (auto* screen = static_cast<InstallScreenWindow*>(install_screen_.get())) {
    screen->update(desc);
  } else {
    // Over the owner's drawing area, or centred on the desktop when there is none.
    Where ref = reference();
    Point pos{ref.x + (ref.width - desc.size.w) / 2, ref.y + (ref.height - desc.size.h) / 2};
    install_screen_ = std::make_unique<InstallScreenWindow>(desc, to_screen(pos, desc.size));
  }
  idle(0);
}

void Win32Frontend::close_install_screen() { install_screen_.reset(); }

}  // namespace zuv::gui
