// The console front end: the same dialogs in a terminal. Buttons are numbered and
// answer to their number and to their first letter; arrows move the mark; Esc and the
// time-outs answer 0; the progress bar is redrawn only when it grows.
#pragma once

#include <memory>

#include "platform/gui/terminal.h"
#include "platform/gui/toolkit.h"

namespace zuv::gui {

class ConsoleFrontend : public Frontend, private ui::ProgressView {
 public:
  ConsoleFrontend(Clock& clock, std::unique_ptr<Terminal> term);

  ui::Where reference() override;
  ui::Where desktop() override;
  void run_alarm(ui::AlarmSession& session) override;
  std::unique_ptr<WaitWindow> open_wait(const ui::AlarmSpec& desc) override;
  std::string run_entry(const ui::EntrySpec& desc, ui::EntrySession& session) override;
  void run_dirselect(ui::DirChooser& chooser, bool fresh) override;
  ui::ProgressView& progress_view() override { return *this; }
  void run_main_window(ui::MainWindowSession& session) override;
  void run_flow_screen(ui::FlowScreenSession& session) override;
  void tone(int frequency, int units) override;
  ui::Size text_box(const std::string& utf8, const std::string& family, int points,
                    bool bold) override;

 private:
  void create(const ui::ProgressGeometry& g, const std::string& title) override;
  void set_title(const std::string& title) override;
  void clear() override;
  void fill(int width) override;
  void destroy() override;

  void box(const std::string& title, const std::vector<std::string>& lines, ui::Align align);
  void draw_buttons(const std::vector<std::string>& labels, int focus, bool redraw);
  void draw_bar();

  std::unique_ptr<Terminal> term_;
  ui::ApproxMeasure measure_;
  bool in_main_ = false;
  int bar_fill_w_ = 0, bar_chars_ = 0, bar_drawn_ = -1, bar_percent_ = 0;
  std::string bar_title_;
};

}  // namespace zuv::gui
