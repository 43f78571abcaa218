// The terminal under the console front end: single keys with a time limit (raw mode
// when stdin is a terminal), whole lines, and output. Keys come back decoded.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/dialog_desc.h"

namespace zuv::gui {

class Terminal {
 public:
  virtual ~Terminal() = default;
  // True when a person types at a terminal; false for a pipe or a file.
  virtual bool interactive() = 0;
  // One key within timeout_ms (-1: no limit). Returns false at the end of the input;
  // key is Key::None when the time ran out.
  virtual bool read_key(int timeout_ms, Key& key, char32_t& ch) = 0;
  // One line, echoed, without its line end. A line that starts with Esc comes back as
  // the single character "\x1b". Returns false at the end of the input.
  virtual bool read_line(int timeout_ms, std::string& line) = 0;
  virtual void write(const std::string& utf8) = 0;
  // The terminal's width in characters; 0 when unknown (no terminal).
  virtual int columns() { return 0; }
};

std::unique_ptr<Terminal> make_stdio_terminal();
#ifndef _WIN32
// A terminal on other descriptors (a pseudo-terminal in the tests).
std::unique_ptr<Terminal> make_fd_terminal(int in, int out);
#endif

}  // namespace zuv::gui
