// The message dialog as the rest of the program sees it: every warning, error and
// question goes through ALARM. The rules (kinds, title codes, default button, hot
// letters, time-outs, alignment, sizes) live here, once; the front ends (win32,
// console, script) only present the description that build_alarm() produces.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zuv::ui {

// Where a dialog is placed and who owns it.
struct Where {
  enum class Mode { AppWindow, Rect, Desktop } mode = Mode::AppWindow;
  int x = 0, y = 0, width = 0, height = 0;  // Rect: bottom-left origin on the desktop
  static Where desktop() { return {Mode::Desktop}; }
  static Where rect(int x, int y, int w, int h) { return {Mode::Rect, x, y, w, h}; }
  // Over a given window (its outer rectangle): placed on it, fonts scaled to it.
  static Where window(int x, int y, int w, int h) { return {Mode::AppWindow, x, y, w, h}; }
};

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

// ---- the shared description ------------------------------------------------------

enum class Align { Center, Left, Right };

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct Size {
  int w = 0, h = 0;
  bool operator==(const Size&) const = default;
};

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// Measures a text in a font; the win32 front end asks GDI, the others estimate.
class TextMeasure {
 public:
  virtual ~TextMeasure() = default;
  virtual Size text_box(const std::string& utf8, const std::string& family, int points,
                        bool bold) = 0;
};

// Estimates from average glyph sizes: enough for the text front ends and for tests.
class ApproxMeasure : public TextMeasure {
 public:
  Size text_box(const std::string& utf8, const std::string& family, int points,
                bool bold) override;
};

inline constexpr char kDefaultMark = '\x04';
inline constexpr const char* kCloseLabel = "Zamknij to okno";

struct AlarmSpec {
  char kind = '4';
  bool question = true;       // kinds 4-6
  bool wait_window = false;   // kind 1
  int icon = 101;
  Rgb panel;
  std::string title;
  std::vector<std::string> lines;
  Align align = Align::Center;
  std::vector<std::string> buttons;  // shown labels, the default mark removed
  int default_button = 1;            // 1-based; 0 for the wait window
  int timeout_seconds = 120;
  bool big_fonts = false;
  int text_points = 13, button_points = 11;
  // Geometry, bottom-left origin on the desktop.
  Size block, panel_size, dialog_size, button_size;
  Point dialog_pos;
};

// Everything the shared rules decide, given the call's arguments and the reference
// rectangle (the application window or the desktop) in desktop coordinates.
AlarmSpec build_alarm(const Where& where, const std::string& kind, const std::string& title,
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
char32_t first_char(const std::string& utf8);

std::vector<int> V1_PLUS_V2(const std::vector<std::vector<int>>& pairs);
void RUN_HELP();

// Keys the dialogs react to, as every front end reports them.
enum class Key {
  None, Esc, Enter, Tab, ShiftTab, Left, Right, Up, Down, F1, Space, Insert,
  Backspace, Delete, Home, End,  // editing a line of text
  Char
};

// One running message dialog: focus, result and deadline, driven by events from the
// front end and by its clock.
class AlarmSession {
 public:
  AlarmSession(const AlarmSpec& desc, double now);
  const AlarmSpec& desc() const { return desc_; }
  int focus() const { return focus_; }
  void set_focus(int button) { focus_ = button; }
  bool done() const { return done_; }
  int result() const { return result_; }
  double deadline() const { return deadline_; }
  // Returns true when the time-out has passed (the session then ends with 0).
  bool tick(double now);
  void key(Key k, char32_t ch = 0);
  void press(int button);
  void close_box();
  bool help_requested() const { return help_; }

 private:
  const AlarmSpec& desc_;
  double deadline_;
  int focus_;
  bool done_ = false;
  int result_ = 0;
  bool help_ = false;
};

}  // namespace zuv::ui
