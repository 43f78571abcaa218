// The main window of the installer: five push buttons beside a picture. Layout, tab
// order, the keyboard rules of its KEYHANDLER and the bold focus mark (DP/PP) are
// decided here; the front ends draw and report events.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/alarm.h"

namespace zuv::ui {

using gui::MainButton;
using gui::MainWindowDesc;

class MainWindowSession : public gui::MainWindowControl {
 public:
  // Button order is creation order and tab order: repair base, repair program,
  // upgrade, first installation, end.
  MainWindowSession(MainWindowDesc desc, std::vector<std::string> captions,
                    std::vector<std::function<void()>> actions);

  void layout(Size client) override;
  const MainWindowDesc& desc() const override { return desc_; }
  std::vector<MainButton>& buttons() override { return buttons_; }
  Point picture_pos() const override { return pic_pos_; }
  Size picture_size() const override { return pic_size_; }

  int focus() const override { return focus_; }
  void set_focus(int b) override;  // applies PP to the old button and DP to the new
  // KEYHANDLER: Esc closes the window, Enter presses the focused button, Left/Up go to
  // the next button in tab order (the one above), Right/Down to the previous one.
  void key(Key k) override;
  void press(int b) override;
  void close() override { closed_ = true; }
  void end() { koniec_ = true; }  // "Zakończ instalację"
  bool finished() const override { return closed_ || koniec_; }
  bool enabled() const override { return enabled_; }
  void set_enabled(bool e) {
    enabled_ = e;
    if (on_enable) on_enable(e);
  }

 private:
  MainWindowDesc desc_;
  std::vector<MainButton> buttons_;
  Point pic_pos_;
  Size pic_size_;
  int focus_ = 3;
  bool closed_ = false;
  bool koniec_ = false;
  bool enabled_ = true;
};

}  // namespace zuv::ui
