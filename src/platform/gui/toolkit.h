// What a front end must do to present the dialogs. The rules of every dialog live in
// src/ui; a front end gets a description (dialog_desc.h) or a running dialog behind
// one of its control interfaces, and reports events. Nothing here includes ui/.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/dialog_desc.h"
#include "platform/gui/flow_screen.h"
#include "platform/gui/install_screen_desc.h"

namespace zuv::gui {

// Seconds since an arbitrary start; tests replace it to pass time-outs without waiting.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual double seconds() = 0;
  virtual void sleep_cs(int hundredths) = 0;
};

class SystemClock : public Clock {
 public:
  double seconds() override;
  void sleep_cs(int hundredths) override;
};

// A kind "1" window: open while the object lives.
class WaitWindow {
 public:
  virtual ~WaitWindow() = default;
};

class Frontend : public TextMeasure {
 public:
  explicit Frontend(Clock& clock) : clock_(clock) {}
  Clock& clock() { return clock_; }

  // The reference rectangles of ALARM (desktop coordinates, bottom-left origin): the
  // current application window (mode AppWindow) or, when there is none, the desktop.
  virtual Where reference() = 0;
  virtual Where desktop() = 0;

  // Runs the dialog until the session is done (button, Esc, close box, time-out).
  virtual void run_alarm(AlarmControl& session) = 0;
  virtual std::unique_ptr<WaitWindow> open_wait(const AlarmDesc& desc) = 0;
  // Runs until the session accepts or cancels; returns its result.
  virtual std::string run_entry(const EntryDesc& desc, EntryControl& session) = 0;
  // Shows the chooser until chooser.done(); `fresh` when the tree was just built.
  virtual void run_dirselect(DirChooserControl& chooser, bool fresh) = 0;
  // The kept chooser window goes away.
  virtual void drop_dirselect(DirChooserControl&) {}
  virtual ProgressView& progress_view() = 0;
  virtual void run_main_window(MainWindowControl& session) = 0;
  // Runs a flow screen until it is finished; false when this front end has no screen
  // of its own (the dialogs then put one together from the message dialog and the
  // text entry).
  virtual bool run_flow_screen(FlowScreenSession&) { return false; }
  virtual void tone(int frequency, int units) = 0;
  // The operator's interrupt check (NIC) over this front end: waits a hundredth of a
  // second for an event, hands the waiting events to their controls, and answers true
  // when one of them was Esc. Long work calls it between its steps.
  virtual bool check_interrupt() {
    clock_.sleep_cs(1);
    return false;
  }
  // The upgrade's progress screen: shown (or redrawn with new values) until closed.
  virtual void show_install_screen(const InstallScreenDesc& desc) { (void)desc; }
  virtual void close_install_screen() {}
  // Lets the windows live for a while (messages handled) without a dialog of its own.
  virtual void idle(int milliseconds) { clock_.sleep_cs(milliseconds / 10); }

 private:
  Clock& clock_;
};

}  // namespace zuv::gui

namespace zuv::gui {

// Time that moves only when told to (sleep included): time-outs in tests pass at once.
class ManualClock : public Clock {
 public:
  double seconds() override { return now_; }
  void sleep_cs(int hundredths) override { now_ += hundredths / 100.0; }
  void advance(double s) { now_ += s; }

 private:
  double now_ = 1000.0;
};

// A key name as the script and the console spell it ("Esc", "Enter", "Left", ...):
// Key::None when the name is unknown.
Key key_from_name(const std::string& name);

}  // namespace zuv::gui
