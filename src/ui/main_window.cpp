#include "ui/main_window.h"

namespace zuv::ui {

MainWindowSession::MainWindowSession(MainWindowDesc desc, std::vector<std::string> captions,
                                     std::vector<std::function<void()>> actions)
    : desc_(std::move(desc)) {
  for (size_t i = 0; i < captions.size(); ++i) {
    MainButton b;
    b.caption = captions[i];
    if (i < actions.size()) b.on_activate = actions[i];
    buttons_.push_back(std::move(b));
  }
  set_focus(buttons_.size() >= 3 ? 3 : 1);
}

void MainWindowSession::layout(Size client) {
  const int W = client.w, H = client.h;
  const int u = desc_.h_org / 12, g = u / 2, b = static_cast<int>(W * 0.4);
  pic_pos_ = {2 * u + b, H / 2 - u};
  pic_size_ = {W - b - 3 * u, H / 2};
  const Point places[] = {{u, u}, {u, 2 * u + g}, {u, 3 * u + 2 * g}, {u, 4 * u + 3 * g},
                          {3 * u + b, u}};
  for (size_t i = 0; i < buttons_.size() && i < 5; ++i) {
    buttons_[i].pos = places[i];
    buttons_[i].size = {b, u};
  }
}

void MainWindowSession::set_focus(int b) {
  if (b < 1 || b > static_cast<int>(buttons_.size())) return;
  if (focus_ >= 1 && focus_ <= static_cast<int>(buttons_.size())) buttons_[focus_ - 1].bold = false;
  focus_ = b;
  buttons_[focus_ - 1].bold = true;
  if (on_focus) on_focus(focus_);
}

void MainWindowSession::key(Key k) {
  const int n = static_cast<int>(buttons_.size());
  if (!enabled_ || n == 0) return;
  switch (k) {
    case Key::Esc: close(); break;
    case Key::Enter: press(focus_); break;
    case Key::Left: case Key::Up: case Key::Tab: set_focus(focus_ % n + 1); break;
    case Key::Right: case Key::Down: case Key::ShiftTab: set_focus((focus_ + n - 2) % n + 1); break;
    default: break;
  }
}

void MainWindowSession::press(int b) {
  if (!enabled_ || b < 1 || b > static_cast<int>(buttons_.size())) return;
  auto& action = buttons_[b - 1].on_activate;
  if (!action) return;  // the repair buttons have no action
  set_focus(b);
  action();
}

}  // namespace zuv::ui
