// The script front end: every dialog takes its answer from a list (a file, one answer a
// line, or a test) and is written to a transcript. A dialog left without an answer ends
// the run with ScriptExhausted, which names the dialog.
//
// Answers:
//   message or question  a button number; or keys: Esc Enter Tab ShiftTab Left Right Up
//                        Down F1 and 'x' (a letter); "zamknij" (close box); "czekaj"
//                        (let the time-out pass) or "czekaj N" (N seconds pass)
//   text entry           the text typed, then Enter; "=" keeps the proposal; "Esc"
//   directory chooser    a path typed, then OK; "Esc"; "idź PATH" (open the tree
//                        there); "nowy", "zmień", "kasuj" (the context menu on the
//                        marked directory)
//   flow screen          1 "Poprzedni ekran", 2 "Zainstaluj Program"; "pole N TEXT" types
//                        TEXT into field N; "katalog N" presses field N's chooser button;
//                        "Esc" or "zamknij" leaves the screen
//   main window          a button number (1 repair base, 2 repair program, 3 upgrade,
//                        4 first installation, 5 end) or keys as above
#pragma once

#include <deque>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/gui/toolkit.h"

namespace zuv::gui {

class ScriptExhausted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ScriptFrontend : public Frontend, private ProgressView {
 public:
  ScriptFrontend(Clock& clock, std::vector<std::string> answers = {});
  // One answer a line; '#' at the start of a line is a comment. Throws on a missing file.
  static std::vector<std::string> load_answers(const std::string& file);

  void add_answer(std::string a) { answers_.push_back(std::move(a)); }
  size_t answers_left() const { return answers_.size(); }
  const std::vector<std::string>& transcript() const { return transcript_; }
  std::string transcript_text() const;
  // Each transcript line is also written here as it happens.
  void echo_to(std::ostream* out) { echo_ = out; }
  int tones() const { return tones_; }
  // Keys waiting for the interrupt check ("Esc", "Enter", ...): each check takes one.
  void press_keys(const std::vector<std::string>& keys) { keys_.insert(keys_.end(), keys.begin(), keys.end()); }
  int interrupt_checks() const { return interrupt_checks_; }

  Where reference() override;
  Where desktop() override;
  void run_alarm(AlarmControl& session) override;
  std::unique_ptr<WaitWindow> open_wait(const AlarmDesc& desc) override;
  std::string run_entry(const EntryDesc& desc, EntryControl& session) override;
  void run_dirselect(DirChooserControl& chooser, bool fresh) override;
  ProgressView& progress_view() override { return *this; }
  void run_main_window(MainWindowControl& session) override;
  bool run_flow_screen(FlowScreenSession& session) override;
  void tone(int frequency, int units) override;
  bool check_interrupt() override;
  void show_install_screen(const InstallScreenDesc& desc) override;
  void close_install_screen() override;
  Size text_box(const std::string& utf8, const std::string& family, int points,
                    bool bold) override;

 private:
  std::string next(const std::string& what);
  void record(std::string line);
  bool apply_alarm_token(AlarmControl& s, const std::string& token);

  void create(const ProgressGeometry& g, const std::string& title) override;
  void set_title(const std::string& title) override;
  void clear() override;
  void fill(int width) override;
  void destroy() override;

  std::deque<std::string> answers_;
  std::vector<std::string> transcript_;
  std::ostream* echo_ = nullptr;
  ApproxMeasure measure_;
  int tones_ = 0;
  std::deque<std::string> keys_;
  int interrupt_checks_ = 0;
  bool main_window_ = false;
  int bar_width_ = 0;
};

}  // namespace zuv::gui
