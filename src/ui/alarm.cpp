// ALARM, the message dialog: the rules that turn a call into the description a front end shows.
#include "ui/alarm.h"

#include <algorithm>
#include <cmath>

#include "platform/os/unicode.h"

namespace zuv::ui {

char32_t upper_pl(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  switch (c) {
    case U'ą': return U'Ą';
    case U'ć': return U'Ć';
    case U'ę': return U'Ę';
    case U'ł': return U'Ł';
    case U'ń': return U'Ń';
    case U'ó': return U'Ó';
    case U'ś': return U'Ś';
    case U'ź': return U'Ź';
    case U'ż': return U'Ż';
    default: return c;
  }
}

std::string title_from_code(const std::string& title) {
  static const std::pair<const char*, const char*> codes[] = {
      {"U", "Uwaga!"},       {"Z", "Potwierdź!"}, {"ZD", "Zdecyduj co robić!"},
      {"P", "Podsumowanie"}, {"I", "Informacja"}, {"B", "Błąd!"},
      {"O", "Ostrzeżenie!"}};
  for (auto& [code, text] : codes)
    if (title == code) return text;
  return title;
}

std::vector<std::string> split_lines(std::string text, Align* align) {
  Align a = Align::Center;
  if (text.size() >= 2 && text[0] == '\\' && (text[1] == 'L' || text[1] == 'R')) {
    a = text[1] == 'L' ? Align::Left : Align::Right;
    text.erase(0, 2);
  }
  if (align) *align = a;
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  if (text.back() != ';') text += ';';
  size_t start = 0;
  for (size_t p; (p = text.find(';', start)) != std::string::npos; start = p + 1)
    lines.push_back(text.substr(start, p - start));
  return lines;
}

int hot_letter(const std::vector<std::string>& labels, char32_t ch) {
  if (ch == 0) return 0;
  char32_t want = upper_pl(ch);
  for (size_t i = 0; i < labels.size(); ++i)
    if (!labels[i].empty() && upper_pl(os::first_char(labels[i])) == want)
      return static_cast<int>(i) + 1;
  return 0;
}

std::vector<int> V1_PLUS_V2(const std::vector<std::vector<int>>& pairs) {
  int a = 0, b = 0;
  for (const auto& p : pairs) {
    if (p.size() > 0) a += p[0];
    if (p.size() > 1) b += p[1];
  }
  return {a, b};
}

void RUN_HELP() {}

AlarmDesc build_alarm(const Where& where, const std::string& kind_arg, const std::string& title,
                      const std::string& text, const std::vector<std::string>& buttons,
                      std::optional<int> timeout_seconds, const Where& reference,
                      TextMeasure& measure) {
  AlarmDesc s;
  std::string kind = kind_arg.empty() ? "4" : kind_arg;
  s.kind = (kind[0] >= '1' && kind[0] <= '6') ? kind[0] : '4';
  s.question = s.kind >= '4';
  s.wait_window = s.kind == '1';
  s.icon = (s.kind == '1' || s.kind == '4') ? 101 : (s.kind == '2' || s.kind == '5') ? 102 : 103;
  s.panel = (s.kind == '3' || s.kind == '6') ? Rgb{255, 184, 160} : Rgb{208, 208, 167};
  s.title = title_from_code(title.empty() ? " " : title);
  s.lines = split_lines(text.empty() ? " " : text, &s.align);

  if (s.question) {
    std::vector<std::string> labels = buttons;
    if (labels.empty()) labels = {"Potwierdzam", "Rezygnuję"};
    s.default_button = 1;
    for (size_t i = 0; i < labels.size(); ++i) {
      auto& l = labels[i];
      if (l.find(kDefaultMark) != std::string::npos) {
        s.default_button = static_cast<int>(i) + 1;  // the last marked one wins
        l.erase(std::remove(l.begin(), l.end(), kDefaultMark), l.end());
      }
    }
    s.buttons = labels;
    s.timeout_seconds = 1000;
  } else {
    if (s.kind != '1') s.buttons = {kCloseLabel};
    s.default_button = s.kind == '1' ? 0 : 1;
    s.timeout_seconds = timeout_seconds.value_or(120);
  }

  // Fonts: larger on the whole desktop; grow (never shrink) with a large owner window.
  s.big_fonts = where.mode == Where::Mode::Desktop;
  int tp = s.big_fonts ? 14 : 13, bp = s.big_fonts ? 12 : 11;
  if (reference.mode == Where::Mode::AppWindow && reference.width > 0 && reference.height > 0) {
    double ratio = std::max(std::min(reference.width / 808.0, reference.height / 556.0), 1.0);
    tp = static_cast<int>(tp * ratio);
    bp = static_cast<int>(bp * ratio);
  }
  s.text_points = tp;
  s.button_points = bp;

  // Sizes.
  bool empty_text = s.lines.size() == 1 && s.lines[0] == " " && text.empty();
  Size block{0, 0};
  if (!empty_text) {
    for (const auto& l : s.lines) {
      Size b = measure.text_box(l.empty() ? " " : l, "Times New Roman", tp, false);
      block.w = std::max(block.w, b.w);
      block.h += b.h;
    }
  }
  s.block = block;
  Size panel = (block.w || block.h) ? Size{block.w + 10, block.h + 5} : Size{0, 0};
  if (s.wait_window) {
    s.dialog_size = {panel.w + 28, panel.h + 54};
  } else {
    int widest = 0, tall = 0;
    for (const auto& l : s.buttons) {
      Size b = measure.text_box(l, "Arial", bp, false);
      widest = std::max(widest, b.w);
      tall = std::max(tall, b.h);
    }
    s.button_size = {widest + 36, tall + 10};
    int row = static_cast<int>(s.buttons.size()) * (s.button_size.w + 20);
    if (row > panel.w) panel.w = row;
    s.dialog_size = {panel.w + 28, panel.h + 74};
  }
  s.panel_size = panel;

  // Placement: the dialog's centre goes on the anchor.
  const Where& r = where.mode == Where::Mode::Rect ? where : reference;
  double ax = r.x + r.width / 2.0, ay = r.y + r.height * 0.35;
  if (kind.size() > 1) {
    std::string suffix = kind.substr(1);
    size_t bar = suffix.find('|');
    int row = std::atoi(suffix.substr(0, bar).c_str());
    int col = bar == std::string::npos ? 0 : std::atoi(suffix.substr(bar + 1).c_str());
    // The reference window's font cell: its "10.Arial" averages 7 x 16 pixels.
    const int fw = 7, fh = 16;
    ax = r.x + (col ? col * fw : r.width / 2.0);
    ay = r.y + (row ? r.height - row * fh : r.height / 2.0);
  }
  s.dialog_pos = {static_cast<int>(ax - s.dialog_size.w / 2.0),
                  static_cast<int>(ay - s.dialog_size.h / 2.0)};
  return s;
}

AlarmSession::AlarmSession(const AlarmDesc& desc, double now)
    : desc_(desc), deadline_(now + desc.timeout_seconds), focus_(desc.default_button) {}

bool AlarmSession::tick(double now) {
  if (done_ || now <= deadline_) return false;
  done_ = true;
  result_ = 0;
  return true;
}

void AlarmSession::press(int button) {
  if (button < 1 || button > static_cast<int>(desc_.buttons.size())) return;
  result_ = button;  // "Zamknij to okno" is button 1 as well
  done_ = true;
}

void AlarmSession::close_box() {
  result_ = 0;
  done_ = true;
}

void AlarmSession::key(Key k, char32_t ch) {
  int n = static_cast<int>(desc_.buttons.size());
  switch (k) {
    case Key::Esc: close_box(); break;
    case Key::Enter: press(focus_); break;
    case Key::F1: RUN_HELP(); help_ = true; break;
    case Key::Right: case Key::Down: case Key::Tab:
      if (n) focus_ = focus_ % n + 1;
      break;
    case Key::Left: case Key::Up: case Key::ShiftTab:
      if (n) focus_ = (focus_ + n - 2) % n + 1;
      break;
    case Key::Char:
      // Messages have no label list: their one button answers to no letter.
      if (desc_.question) {
        if (int b = hot_letter(desc_.buttons, ch)) press(b);
      }
      break;
    default: break;
  }
}

}  // namespace zuv::ui
