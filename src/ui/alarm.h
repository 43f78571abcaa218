// The message dialog as the rest of the program sees it: every warning, error and
// question goes through ALARM. Front ends (win32, console, script) implement it;
// tests use a recording fake.
#pragma once

#include <string>
#include <vector>

namespace zuv::ui {

class MessageDialog {
 public:
  virtual ~MessageDialog() = default;
  // kind "1".."6" with an optional position suffix, title or title code, text with ';'
  // line breaks, the button labels of a question (kinds 4-6). Answers the 1-based button,
  // or 0 for Esc, the close box or the time-out.
  virtual int ALARM(const std::string& kind, const std::string& title, const std::string& text,
                    const std::vector<std::string>& buttons = {}) = 0;
};

}  // namespace zuv::ui
