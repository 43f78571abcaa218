// What a run tells its operator and asks of him. Every call has a silent default, as a
// headless run or a test needs; the front ends give what they have.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "upgrade/progress_screen.h"

namespace zuv::ui {
class MessageDialog;
class Licznik;
}  // namespace zuv::ui
namespace zuv::tables {
class OperatorInterrupt;
}

namespace zuv::upgrade {

class UpgradeObserver {
 public:
  virtual ~UpgradeObserver() = default;
  // The progress screen: opened once per run, refreshed as firms and times change.
  virtual void open_screen(const ScreenFields&) {}
  virtual void refresh_screen(const ScreenFields&) {}
  // The progress window: begun with its length and text (anew when it is up), advanced.
  virtual void progress_begin(double maximum, const std::string& text) {
    static_cast<void>(maximum), static_cast<void>(text);
  }
  virtual void progress_restart(double maximum, const std::string& text) { progress_begin(maximum, text); }
  virtual void progress(double n) { static_cast<void>(n); }
  // Between firms: whether the operator pressed Esc and confirmed that the run stops.
  virtual bool stop_asked() { return false; }
  // Before an upgrade: whether the operator goes on after hearing how long it will take.
  virtual bool accept_duration(int column, const std::string& words) {
    static_cast<void>(column), static_cast<void>(words);
    return true;
  }
  // Esc while a record lock is waited for; nullptr where nobody can press it.
  virtual tables::OperatorInterrupt* interrupt() { return nullptr; }
  // Around every step the run makes (a release step by its name, "INDEKSUJ",
  // "NTX_PUB", ...); it must call run exactly once.
  virtual void step(std::string_view name, const std::function<void()>& run) {
    static_cast<void>(name);
    run();
  }
};

// The operator's side as the front ends have it: a dialog, the Esc check, the progress
// window and the progress screen, each absent where the front end has none; a
// benchmark's timing around the steps.
class OperatorObserver : public UpgradeObserver {
 public:
  ui::MessageDialog* dialog = nullptr;
  tables::OperatorInterrupt* esc = nullptr;
  ui::Licznik* licznik = nullptr;
  InstallScreen* screen = nullptr;
  std::function<void(std::string_view name, const std::function<void()>& run)> around_step;

  void open_screen(const ScreenFields& fields) override;
  void refresh_screen(const ScreenFields& fields) override;
  void progress_begin(double maximum, const std::string& text) override;
  void progress_restart(double maximum, const std::string& text) override;
  void progress(double n) override;
  bool stop_asked() override;
  bool accept_duration(int column, const std::string& words) override;
  tables::OperatorInterrupt* interrupt() override { return esc; }
  void step(std::string_view name, const std::function<void()>& run) override;
};

}  // namespace zuv::upgrade
