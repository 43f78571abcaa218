// What a front end must do to present the dialogs. The rules of every dialog live in
// src/ui; a front end gets a description or a running session and reports events.
#pragma once

#include <memory>
#include <string>

#include "ui/alarm.h"
#include "ui/dirselect.h"
#include "ui/edtstr.h"
#include "ui/flow_screen.h"
#include "ui/licznik.h"
#include "ui/main_window.h"

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

class Frontend : public ui::TextMeasure {
 public:
  explicit Frontend(Clock& clock) : clock_(clock) {}
  Clock& clock() { return clock_; }

  // The reference rectangles of ALARM (desktop coordinates, bottom-left origin): the
  // current application window (mode AppWindow) or, when there is none, the desktop.
  virtual ui::Where reference() = 0;
  virtual ui::Where desktop() = 0;

  // Runs the dialog until the session is done (button, Esc, close box, time-out).
  virtual void run_alarm(ui::AlarmSession& session) = 0;
  virtual std::unique_ptr<WaitWindow> open_wait(const ui::AlarmSpec& desc) = 0;
  // Runs until the session accepts or cancels; returns its result.
  virtual std::string run_entry(const ui::EntrySpec& desc, ui::EntrySession& session) = 0;
  // Shows the chooser until chooser.done(); `fresh` when the tree was just built.
  virtual void run_dirselect(ui::DirChooser& chooser, bool fresh) = 0;
  // The kept chooser window goes away.
  virtual void drop_dirselect(ui::DirChooser&) {}
  virtual ui::ProgressView& progress_view() = 0;
  virtual void run_main_window(ui::MainWindowSession& session) = 0;
  // Runs a flow screen until it is finished. The default puts it together from the
  // message dialog and the text entry, for front ends without a screen of their own.
  virtual void run_flow_screen(ui::FlowScreenSession& session);
  virtual void tone(int frequency, int units) = 0;
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
ui::Key key_from_name(const std::string& name);

}  // namespace zuv::gui
