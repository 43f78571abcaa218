// The console front end: the same dialogs in a terminal. Buttons are numbered and
// answer to their number and to their first letter; arrows move the mark; Esc and the
// time-outs answer 0; the progress bar is redrawn only when it grows.
#pragma once

#include <memory>

#include "platform/gui/terminal.h"
#include "platform/gui/toolkit.h"

namespace zuv::gui {

class ConsoleFrontend : public Frontend, private ProgressView {
 public:
  ConsoleFrontend(Clock& clock, std::unique_ptr<Terminal> term);

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
  void create(const ProgressGeometry& g, const std::string& title) override;
  void set_title(const std::string& title) override;
  void clear() override;
  void fill(int width) override;
  void destroy() override;

  enum class LineEnd { Enter, Esc, Closed };
  // A line typed at the terminal in raw mode, preset with text: Left, Right, Home and
  // End move, Backspace and Delete erase, Esc ends at once. The preset stands selected
  // as in a window's field: the first letter typed replaces it, a cursor key keeps it.
  LineEnd edit_line(const std::string& prompt, std::string& text, int max_chars);
  void box(const std::string& title, const std::vector<std::string>& lines, Align align);
  void draw_buttons(const std::vector<std::string>& labels, int focus, bool redraw);
  void draw_bar();

  std::unique_ptr<Terminal> term_;
  bool screen_shown_ = false;
  ApproxMeasure measure_;
  bool in_main_ = false;
  int bar_fill_w_ = 0, bar_chars_ = 0, bar_drawn_ = -1, bar_percent_ = 0;
  bool bar_open_ = false;
  // The install screen's firm line: beside the bar in a terminal, a line of its own
  // per firm elsewhere.
  std::string firm_line_, firm_named_;
  std::string bar_title_;
};

}  // namespace zuv::gui
