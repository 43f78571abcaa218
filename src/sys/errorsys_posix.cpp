#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "sys/errorsys.h"

namespace zuv::sys {

// Windows' texts for the codes the program meets, so the box reads the same on Linux.
std::string DOSERRORMESSAGE(int os_code) {
  switch (os_code) {
    case 2: return "The system cannot find the file specified.";
    case 3: return "The system cannot find the path specified.";
    case 5: return "Access is denied.";
    case 19: return "The media is write protected.";
    case 32: return "The process cannot access the file because it is being used by another process.";
    case 33: return "The process cannot access the file because another process has locked a portion of the file.";
    case 80: return "The file exists.";
    case 112: return "There is not enough space on the disk.";
    default: return "Error " + std::to_string(os_code) + ".";
  }
}

namespace {
// A terminal prompt; without a terminal the box cancels where it can (the error goes to
// the recovery section) and otherwise acknowledges.
class TerminalErrorBox : public ErrorBox {
 public:
  BoxAnswer show(const std::string& title, const std::string& text, BoxButtons buttons, BoxIcon) override {
    std::string shown = text;
    for (char& c : shown)
      if (c == '\r') c = '\n';
    std::fprintf(stderr, "\n*** %s ***\n%s\n", title.c_str(), shown.c_str());
    struct Choice {
      const char* label;
      BoxAnswer answer;
    };
    std::vector<Choice> choices;
    switch (buttons) {
      case BoxButtons::AbortRetryIgnore: choices = {{"Abort", BoxAnswer::Abort}, {"Retry", BoxAnswer::Retry}, {"Ignore", BoxAnswer::Ignore}}; break;
      case BoxButtons::RetryCancel: choices = {{"Retry", BoxAnswer::Retry}, {"Cancel", BoxAnswer::Cancel}}; break;
      case BoxButtons::OkCancel: choices = {{"OK", BoxAnswer::Ok}, {"Cancel", BoxAnswer::Cancel}}; break;
      case BoxButtons::Ok: choices = {{"OK", BoxAnswer::Ok}}; break;
    }
    BoxAnswer fallback = buttons == BoxButtons::Ok ? BoxAnswer::Ok
                         : buttons == BoxButtons::AbortRetryIgnore ? BoxAnswer::Abort
                                                                   : BoxAnswer::Cancel;
    if (!isatty(STDIN_FILENO)) return fallback;
    for (;;) {
      for (size_t i = 0; i < choices.size(); ++i) std::fprintf(stderr, "  %zu) %s\n", i + 1, choices[i].label);
      std::fprintf(stderr, "> ");
      std::string line;
      if (!std::getline(std::cin, line)) return fallback;
      size_t n = 0;
      try {
        n = std::stoul(line);
      } catch (...) {
        n = 0;
      }
      if (n >= 1 && n <= choices.size()) return choices[n - 1].answer;
    }
  }
};
}  // namespace

ErrorBox& platform_error_box() {
  static TerminalErrorBox box;
  return box;
}

}  // namespace zuv::sys
