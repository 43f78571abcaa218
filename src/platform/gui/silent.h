// The unattended front end: no window and no operator. Every question gets its default
// button, a text entry its proposal, the directory chooser no choice; a flow screen is
// filled with the given directories and its install button pressed once. Every dialog
// (title, text, buttons, answer) and every stage goes to the log and to standard error.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/gui/toolkit.h"

namespace zuv::gui {

class SilentFrontend : public Frontend, private ProgressView {
 public:
  // fields: the texts for the fields of the flow screen, in order. log may be null.
  SilentFrontend(Clock& clock, std::vector<std::string> fields, std::ostream* log, std::ostream* err);

  // One line to the log and to standard error.
  void note(const std::string& line);
  // The message dialogs shown, in order, each with its answer.
  const std::vector<std::string>& dialogs_shown() const { return shown_; }

  Where reference() override;
  Where desktop() override;
  void run_alarm(AlarmControl& session) override;
  std::unique_ptr<WaitWindow> open_wait(const AlarmDesc& desc) override;
  std::string run_entry(const EntryDesc& desc, EntryControl& session) override;
  void run_dirselect(DirChooserControl& chooser, bool fresh) override;
  ProgressView& progress_view() override { return *this; }
  void run_main_window(MainWindowControl& session) override;
  bool run_flow_screen(FlowScreenSession& session) override;
  void tone(int, int) override {}
  Size text_box(const std::string& utf8, const std::string& family, int points, bool bold) override;

  // A question asked again and again with nobody to change its cause (ZUV still
  // running) is answered as its time-out would after this many rounds, a second apart.
  static constexpr int kRepeatLimit = 60;

 private:
  void create(const ProgressGeometry& g, const std::string& title) override;
  void set_title(const std::string& title) override;
  void clear() override {}
  void fill(int width) override;
  void destroy() override {}

  std::vector<std::string> fields_;
  std::ostream* log_;
  std::ostream* err_;
  ApproxMeasure measure_;
  std::vector<std::string> shown_;
  std::string last_question_;
  int repeats_ = 0;
  int bar_width_ = 0, bar_quarter_ = 0;
};

}  // namespace zuv::gui
