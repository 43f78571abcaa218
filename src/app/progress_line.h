// The progress of a run without windows on standard error, as a person reads it: in a
// terminal one line redrawn in place and cut to the terminal's width (a longer one
// would wrap, and every redraw would leave a line behind); in a log or a pipe (cron)
// one line per stage and per firm, without carriage returns.
#pragma once

#include <ostream>
#include <string>

#include "upgrade/progress_screen.h"

namespace zuv::app {

class ProgressLine : public upgrade::InstallScreen {
 public:
  // columns: the terminal's width; 0 when standard error is no terminal.
  ProgressLine(std::ostream& err, int columns) : err_(err), columns_(columns) {}
  ~ProgressLine() override { close(); }
  void open(const upgrade::ScreenFields& f) override;
  void refresh(const upgrade::ScreenFields& f) override;
  void close() override;

 private:
  std::ostream& err_;
  int columns_;
  bool drawn_ = false;     // a line is waiting in place for its redraw
  std::string last_;       // what was written last (terminal) / the firm last named (log)
};

// The width of the terminal on standard error; 0 when it is no terminal.
int stderr_terminal_columns();

}  // namespace zuv::app
