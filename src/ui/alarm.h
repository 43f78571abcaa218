// The message dialog as the rest of the program sees it: every warning, error and
// question goes through ALARM. The rules (kinds, title codes, default button, hot
// letters, time-outs, alignment, sizes) live here, once; the front ends (win32,
// console, script) only present the description that build_alarm() produces.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/gui/dialog_desc.h"

namespace zuv::ui {

// The description a front end presents, and the geometry it is made of, live with
// the toolkit interface.
using gui::Align;
using gui::AlarmDesc;
using gui::ApproxMeasure;
using gui::Key;
using gui::Point;
using gui::Rgb;
using gui::Size;
using gui::TextMeasure;
using gui::Where;

class MessageDialog {
 public:
  virtual ~MessageDialog() = default;
  // kind "1".."6" with an optional position suffix, title or title code, text with ';'
  // line breaks, the button labels of a question (kinds 4-6). Answers the 1-based button,
  // or 0 for Esc, the close box or the time-out.
  virtual int ALARM(const std::string& kind, const std::string& title, const std::string& text,
                    const std::vector<std::string>& buttons = {}) = 0;
  // The full form: placement and, for kinds "1" to "3", a time-out other than 120 s.
  virtual int ALARM(const Where& where, const std::string& kind, const std::string& title,
                    const std::string& text, const std::vector<std::string>& buttons,
                    std::optional<int> timeout_seconds = std::nullopt) {
    (void)where;
    (void)timeout_seconds;
    return ALARM(kind, title, text, buttons);
  }
};

inline constexpr char kDefaultMark = '\x04';
inline constexpr const char* kCloseLabel = "Zamknij to okno";

// Everything the shared rules decide, given the call's arguments and the reference
// rectangle (the application window or the desktop) in desktop coordinates.
AlarmDesc build_alarm(const Where& where, const std::string& kind, const std::string& title,
                      const std::string& text, const std::vector<std::string>& buttons,
                      std::optional<int> timeout_seconds, const Where& reference,
                      TextMeasure& measure);

std::string title_from_code(const std::string& title);
// Splits on ';' (a trailing ';' ends the last line, it does not add an empty one) and
// takes the "\L"/"\R" marker off the front.
std::vector<std::string> split_lines(std::string text, Align* align = nullptr);

// The 1-based label whose first letter matches ch (case folded, Polish letters
// included), or 0.
int hot_letter(const std::vector<std::string>& labels, char32_t ch);
char32_t upper_pl(char32_t c);

std::vector<int> V1_PLUS_V2(const std::vector<std::vector<int>>& pairs);
void RUN_HELP();

// One running message dialog: focus, result and deadline, driven by events from the
// front end and by its clock.
class AlarmSession : public gui::AlarmControl {
 public:
  AlarmSession(const AlarmDesc& desc, double now);
  const AlarmDesc& desc() const override { return desc_; }
  int focus() const override { return focus_; }
  void set_focus(int button) override { focus_ = button; }
  bool done() const override { return done_; }
  int result() const override { return result_; }
  double deadline() const override { return deadline_; }
  // Returns true when the time-out has passed (the session then ends with 0).
  bool tick(double now) override;
  void key(Key k, char32_t ch = 0) override;
  void press(int button) override;
  void close_box() override;
  bool help_requested() const override { return help_; }

 private:
  const AlarmDesc& desc_;
  double deadline_;
  int focus_;
  bool done_ = false;
  int result_ = 0;
  bool help_ = false;
};

}  // namespace zuv::ui
