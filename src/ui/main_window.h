// The main window of the installer: five push buttons beside a picture. Layout, tab
// order, the keyboard rules of its KEYHANDLER and the bold focus mark (DP/PP) are
// decided here; the front ends draw and report events.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/alarm.h"

namespace zuv::ui {

struct MainButton {
  std::string caption;
  Point pos;  // bottom-left origin in the drawing area
  Size size;
  bool bold = false;  // DP on, PP off
  std::function<void()> on_activate;
};

struct MainWindowSpec {
  std::string title;
  Size outer{630, 260};
  Point pos;  // top-left on the desktop: centred
  Rgb background{208, 208, 167};
  int icon = 100;
  int bitmap = 200;
  int button_points = 12;
  int h_org = 370;
};

class MainWindowSession {
 public:
  // Button order is creation order and tab order: repair base, repair program,
  // upgrade, first installation, end.
  MainWindowSession(MainWindowSpec desc, std::vector<std::string> captions,
                    std::vector<std::function<void()>> actions);

  // Places the picture and the buttons for a drawing area of this size.
  void layout(Size client);
  const MainWindowSpec& desc() const { return desc_; }
  std::vector<MainButton>& buttons() { return buttons_; }
  Point picture_pos() const { return pic_pos_; }
  Size picture_size() const { return pic_size_; }

  int focus() const { return focus_; }  // 1-based
  void set_focus(int b);                // applies PP to the old button and DP to the new
  // KEYHANDLER: Esc closes the window, Enter presses the focused button, Left/Up go to
  // the next button in tab order (the one above), Right/Down to the previous one.
  void key(Key k);
  void press(int b);
  void close() { closed_ = true; }
  void end() { koniec_ = true; }  // "Zakończ instalację"
  bool finished() const { return closed_ || koniec_; }
  bool enabled() const { return enabled_; }
  void set_enabled(bool e) {
    enabled_ = e;
    if (on_enable) on_enable(e);
  }
  // A front end that draws real windows follows these.
  std::function<void(bool)> on_enable;
  std::function<void(int)> on_focus;

 private:
  MainWindowSpec desc_;
  std::vector<MainButton> buttons_;
  Point pic_pos_;
  Size pic_size_;
  int focus_ = 3;
  bool closed_ = false;
  bool koniec_ = false;
  bool enabled_ = true;
};

}  // namespace zuv::ui
