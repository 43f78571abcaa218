#include "upgrade/frontend_screen.h"

namespace zuv::upgrade {

gui::InstallScreenDesc FrontendScreen::desc(const ScreenFields& f) const {
  gui::InstallScreenDesc s;
  s.heading = f.heading;
  s.stage = f.stage;
  s.values = {f.firm, f.now, f.time_left, f.end_time, f.firms_left};
  s.size = size_;
  return s;
}

void FrontendScreen::open(const ScreenFields& fields) {
  open_ = true;
  fe_.show_install_screen(desc(fields));
}

void FrontendScreen::refresh(const ScreenFields& fields) {
  if (open_) fe_.show_install_screen(desc(fields));
}

void FrontendScreen::close() {
  if (open_) fe_.close_install_screen();
  open_ = false;
}

}  // namespace zuv::upgrade
