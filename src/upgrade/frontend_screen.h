// The upgrade's progress screen on a front end (window, terminal or script).
#pragma once

#include "platform/gui/toolkit.h"
#include "upgrade/progress_screen.h"

namespace zuv::upgrade {

class FrontendScreen : public InstallScreen {
 public:
  // size: the owner's drawing area the screen covers.
  FrontendScreen(gui::Frontend& frontend, gui::Size size) : fe_(frontend), size_(size) {}
  ~FrontendScreen() override { close(); }
  void open(const ScreenFields& fields) override;
  void refresh(const ScreenFields& fields) override;
  void close() override;

 private:
  gui::InstallScreenDesc desc(const ScreenFields& f) const;
  gui::Frontend& fe_;
  gui::Size size_;
  bool open_ = false;
};

}  // namespace zuv::upgrade
