#include "platform/gui/console.h"

#include <algorithm>
#include <cmath>

#include "platform/base/text.h"
#include "platform/os/unicode.h"

namespace zuv::gui {

namespace {

constexpr int kBarChars = 40;

size_t width_of(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string pad(const std::string& s, size_t w, Align a) {
  size_t n = width_of(s);
  if (n >= w) return s;
  size_t room = w - n;
  size_t left = a == Align::Left ? 0 : a == Align::Right ? room : room / 2;
  return std::string(left, ' ') + s + std::string(room - left, ' ');
}

std::string repeat(const char* unit, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

const char* kBold = "\x1b[1m";
const char* kReverse = "\x1b[7m";
const char* kPlain = "\x1b[0m";

class ConsoleWait : public WaitWindow {};

}  // namespace

ConsoleFrontend::ConsoleFrontend(Clock& clock, std::unique_ptr<Terminal> term)
    : Frontend(clock), term_(std::move(term)) {}

Where ConsoleFrontend::reference() {
  if (in_main_) return Where{Where::Mode::AppWindow, 197, 254, 630, 260};
  return desktop();
}
Where ConsoleFrontend::desktop() { return Where{Where::Mode::Desktop, 0, 0, 1024, 768}; }

Size ConsoleFrontend::text_box(const std::string& utf8, const std::string& family, int points,
                               bool bold) {
  return measure_.text_box(utf8, family, points, bold);
}

void ConsoleFrontend::box(const std::string& title, const std::vector<std::string>& lines,
                          Align align) {
  size_t w = width_of(title);
  for (const auto& l : lines) w = std::max(w, width_of(l));
  w += 4;
  const bool tty = term_->interactive();
  std::string out = "\n  ┌" + repeat("─", w) + "┐\n";
  out += "  │ " + std::string(tty ? kBold : "") + pad(title, w - 2, Align::Left) +
         (tty ? kPlain : "") + " │\n";
  out += "  ├" + repeat("─", w) + "┤\n";
  for (const auto& l : lines) out += "  │ " + pad(l, w - 2, align) + " │\n";
  out += "  └" + repeat("─", w) + "┘\n";
  term_->write(out);
}

void ConsoleFrontend::draw_buttons(const std::vector<std::string>& labels, int focus, bool redraw) {
  const bool tty = term_->interactive();
  std::string out = redraw ? "\r\x1b[2K" : "";
  out += "   ";
  for (size_t i = 0; i < labels.size(); ++i) {
    bool f = static_cast<int>(i) + 1 == focus;
    std::string b = "[" + std::to_string(i + 1) + "] " + labels[i];
    if (f && tty) out += std::string(kReverse) + " " + b + " " + kPlain + "  ";
    else if (f) out += ">" + b + "<  ";
    else out += " " + b + "   ";
  }
  term_->write(out);
}

void ConsoleFrontend::run_alarm(AlarmControl& s) {
  const auto& desc = s.desc();
  box(desc.title, desc.lines, desc.align);
  const bool tty = term_->interactive();
  if (tty) {
    term_->write(desc.question ? "   numer, pierwsza litera, strzałki i Enter; Esc = 0\n"
                               : "   Enter zamyka okno; Esc = 0\n");
    draw_buttons(desc.buttons, s.focus(), false);
  } else {
    draw_buttons(desc.buttons, s.focus(), false);
    term_->write("\n   Wybór: ");
  }
  while (!s.done()) {
    double left = s.deadline() - clock().seconds();
    if (s.tick(clock().seconds())) break;
    int ms = static_cast<int>(std::min(left, 1.0) * 1000) + 1;
    Key k;
    char32_t ch;
    if (tty) {
      if (!term_->read_key(ms, k, ch)) {
        s.close_box();  // the input has ended: as if the window were closed
        break;
      }
      if (k == Key::None) continue;
      if (k == Key::Char && ch >= '1' && ch <= '9') {
        s.press(static_cast<int>(ch - '0'));
      } else {
        int before = s.focus();
        s.key(k, ch);
        if (!s.done() && s.focus() != before) draw_buttons(desc.buttons, s.focus(), true);
      }
    } else {
      std::string line;
      if (!term_->read_line(ms, line)) {
        s.close_box();
        break;
      }
      line = base::trim(line);
      if (line.empty()) {
        // read_line also comes back empty when the time ran out; Enter is a real line.
        if (s.tick(clock().seconds())) break;
        s.key(Key::Enter);
      } else if (line == "\x1b" || line == "Esc") {
        s.key(Key::Esc);
      } else if (std::isdigit(static_cast<unsigned char>(line[0]))) {
        s.press(std::atoi(line.c_str()));
      } else {
        s.key(Key::Char, os::first_char(line));
      }
      if (!s.done()) term_->write("   Wybór: ");
    }
  }
  std::string answer = s.result() ? desc.buttons[s.result() - 1] : "Esc / brak odpowiedzi";
  term_->write("\n   -> " + answer + "\n");
}

std::unique_ptr<WaitWindow> ConsoleFrontend::open_wait(const AlarmDesc& desc) {
  box(desc.title, desc.lines, desc.align);
  return std::make_unique<ConsoleWait>();
}

ConsoleFrontend::LineEnd ConsoleFrontend::edit_line(const std::string& prompt, std::string& text,
                                                    int max_chars) {
  std::u32string line = os::decode_utf8(text);
  size_t cursor = line.size();
  bool selected = !line.empty();
  const bool tty = term_->interactive();
  auto draw = [&] {
    std::string shown;
    for (char32_t c : line) os::append_utf8(shown, c);
    std::string out = "\r\x1b[2K" + prompt;
    out += selected && tty ? std::string(kReverse) + shown + kPlain : shown;
    if (cursor < line.size()) out += "\x1b[" + std::to_string(line.size() - cursor) + "D";
    term_->write(out);
  };
  draw();
  while (true) {
    Key k;
    char32_t ch = 0;
    if (!term_->read_key(-1, k, ch)) return LineEnd::Closed;
    if (k == Key::Esc) {
      term_->write("\n");
      return LineEnd::Esc;
    }
    if (k == Key::Enter) {
      text.clear();
      for (char32_t c : line) os::append_utf8(text, c);
      term_->write("\n");
      return LineEnd::Enter;
    }
    if (k == Key::Space) {
      k = Key::Char;
      ch = U' ';
    }
    const bool was_selected = selected;
    selected = false;
    switch (k) {
      case Key::Left:
      case Key::Home:
        if (was_selected || k == Key::Home) cursor = 0;
        else if (cursor > 0) --cursor;
        break;
      case Key::Right:
      case Key::End:
        if (was_selected || k == Key::End) cursor = line.size();
        else if (cursor < line.size()) ++cursor;
        break;
      case Key::Backspace:
      case Key::Delete:
        if (was_selected) {
          line.clear();
          cursor = 0;
        } else if (k == Key::Backspace && cursor > 0) {
          line.erase(--cursor, 1);
        } else if (k == Key::Delete && cursor < line.size()) {
          line.erase(cursor, 1);
        }
        break;
      case Key::Char:
        if (ch < 32) break;
        if (was_selected) {
          line.clear();
          cursor = 0;
        }
        if (max_chars > 0 && static_cast<int>(line.size()) >= max_chars) {
          tone(500, 1);
          break;
        }
        line.insert(cursor++, 1, ch);
        break;
      default:
        selected = was_selected;
        break;
    }
    draw();
  }
}

std::string ConsoleFrontend::run_entry(const EntryDesc& desc, EntryControl& session) {
  box(desc.title, desc.prompt_lines, Align::Left);
  if (term_->interactive()) {
    term_->write("   Enter zapamiętuje, Esc rezygnuje; strzałki, Backspace i Delete poprawiają tekst\n");
    std::string text = desc.proposal;
    while (true) {
      if (edit_line("   > ", text, desc.length) != LineEnd::Enter) {
        session.cancel();
        return "";
      }
      if (session.accept(text) == EntryControl::Outcome::Accepted) return session.result();
      tone(500, 1);
      term_->write("   Nie przyjęto: \"" + text + "\". Popraw albo Esc.\n");
    }
  }
  // Typed from a pipe or a file: one line an attempt, an empty one keeps the proposal.
  term_->write("   Enter przyjmuje propozycję [" + desc.proposal + "], Esc rezygnuje\n");
  while (true) {
    term_->write("   > ");
    std::string line;
    if (!term_->read_line(-1, line) || line == "\x1b") {
      session.cancel();
      return "";
    }
    std::string text = line.empty() ? desc.proposal : line;
    if (desc.length > 0 && static_cast<int>(width_of(text)) > desc.length) text.resize(desc.length);
    if (session.accept(text) == EntryControl::Outcome::Accepted) return session.result();
    tone(500, 1);
    term_->write("   Nie przyjęto: \"" + text + "\". Popraw albo Esc.\n");
  }
}

void ConsoleFrontend::run_dirselect(DirChooserControl& c, bool /*fresh*/) {
  const bool tty = term_->interactive();
  box("Wybierz katalog",
      {"numer: wejdź do katalogu   ..: wyżej   ścieżka: wpisz i zatwierdź",
       "Enter: OK   +: utwórz nowy   *: zmień nazwę   -: skasuj   Esc: rezygnuję"},
      Align::Left);
  while (!c.done()) {
    DirNode* m = c.marked();
    if (m) c.getTree(m);
    std::string list;
    if (m) {
      int i = 0;
      for (auto& ch : m->children)
        list += "     " + std::to_string(++i) + ". " + ch->caption + "\n";
      if (!i) list += "     (brak podkatalogów)\n";
    }
    term_->write("\n   Katalog: " + std::string(tty ? kBold : "") + c.path_text() +
                 (tty ? kPlain : "") + "\n" + list + (tty ? "" : "   > "));
    std::string line;
    bool typed = tty ? edit_line("   > ", line, 256) == LineEnd::Enter
                     : term_->read_line(-1, line) && line != "\x1b";
    if (!typed) {
      c.cancel();
      break;
    }
    line = base::trim(line);
    if (line.empty()) {
      c.check_kat();
    } else if (line == "..") {
      if (m && m->parent) c.mark(m->parent);
    } else if (line == "+") {
      c.NodeEdit(true);
    } else if (line == "*") {
      c.NodeEdit(false);
    } else if (line == "-") {
      c.NodeDelete();
    } else if (m && std::all_of(line.begin(), line.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); })) {
      size_t n = static_cast<size_t>(std::atoi(line.c_str()));
      if (n >= 1 && n <= m->children.size()) c.select(m->children[n - 1].get());
    } else {
      c.set_path_text(line);
      c.check_kat();
    }
  }
  if (!c.result().empty()) term_->write("   -> " + c.result() + "\n");
}

void ConsoleFrontend::run_main_window(MainWindowControl& s) {
  in_main_ = true;
  // Shown top to bottom as the window stands: buttons 4, 3, 2, 1, then 5; a sixth that
  // only the terminal offers (the undo) comes last.
  const int order[] = {4, 3, 2, 1, 5, 6};
  const bool tty = term_->interactive();
  while (!s.finished()) {
    std::vector<std::string> lines;
    for (int b : order) {
      if (b > static_cast<int>(s.buttons().size())) continue;
      const auto& btn = s.buttons()[b - 1];
      std::string mark = b == s.focus() ? "> " : "  ";
      std::string cap = btn.caption + (btn.on_activate ? "" : "  (nieczynne)");
      lines.push_back(mark + "[" + std::to_string(b) + "] " + cap);
    }
    if (tty) term_->write("\x1b[H\x1b[2J");  // the menu stands alone on a clean screen
    box(s.desc().title, lines, Align::Left);
    term_->write("   numer lub strzałki i Enter; Esc kończy\n   > ");
    Key k;
    char32_t ch = 0;
    if (tty) {
      if (!term_->read_key(-1, k, ch)) break;
    } else {
      std::string line;
      if (!term_->read_line(-1, line)) break;
      line = base::trim(line);
      k = line.empty() ? Key::Enter : line == "\x1b" ? Key::Esc : Key::Char;
      ch = line.empty() ? 0 : os::first_char(line);
    }
    term_->write("\n");
    if (k == Key::Char && ch >= '1' && ch <= '0' + static_cast<char32_t>(s.buttons().size()))
      s.press(static_cast<int>(ch - '0'));
    else if (k == Key::Char && (ch == 'q' || ch == 'Q')) s.close();
    else s.key(k);
  }
  in_main_ = false;
}

bool ConsoleFrontend::run_flow_screen(FlowScreenSession& s) {
  const int n = s.field_count();
  while (!s.finished()) {
    std::vector<std::string> lines;
    for (int f = 1; f <= n; ++f) {
      lines.push_back(s.desc().fields[f - 1].label);
      lines.push_back("  " + std::to_string(f) + ") " + std::string(s.focus() == f ? "> " : "  ") + s.text(f));
    }
    lines.push_back("");
    lines.push_back("[1] " + std::string(kScreenBack) + "   [2] " + kScreenInstall);
    box(s.desc().name, lines, Align::Left);
    term_->write("   1 lub 2: przycisk;  pN TEKST: wpisz katalog w pole N;  kN: wybierz katalog;  Esc wraca\n   > ");
    std::string line;
    if (!term_->read_line(-1, line) || line == "\x1b") {
      s.close();
      break;
    }
    line = base::trim(line);
    if (line == "1") {
      s.press_back();
    } else if (line == "2") {
      s.press_install();
    } else if (line.size() >= 2 && (line[0] == 'p' || line[0] == 'k') && line[1] >= '1' && line[1] <= '9') {
      int field = line[1] - '0';
      if (line[0] == 'k') s.press_chooser(field);
      else s.set_text(field, base::trim(line.substr(2)));
    } else if (line == "Esc") {
      s.close();
    }
  }
  return true;
}

void ConsoleFrontend::tone(int, int) { term_->write("\a"); }

bool ConsoleFrontend::check_interrupt() {
  if (!term_->interactive()) {
    // Answers typed ahead in a pipe belong to the dialogs still to come.
    clock().sleep_cs(1);
    return false;
  }
  // The console has no controls to hand keys to: every key but Esc is dropped.
  bool esc = false;
  Key k;
  char32_t ch;
  for (int wait_ms = 10; term_->read_key(wait_ms, k, ch) && k != Key::None; wait_ms = 0)
    esc = esc || k == Key::Esc;
  return esc;
}

void ConsoleFrontend::create(const ProgressGeometry& g, const std::string& title) {
  bar_fill_w_ = g.fill.w;
  bar_open_ = true;
  bar_title_ = title;
  term_->write("\n   " + title + "\n");
  clear();
}

void ConsoleFrontend::set_title(const std::string& title) {
  bar_title_ = title;
  term_->write("\n   " + title + "\n");
  bar_drawn_ = -1;
  draw_bar();
}

void ConsoleFrontend::clear() {
  bar_chars_ = 0;
  bar_percent_ = 0;
  bar_drawn_ = -1;
  draw_bar();
}

void ConsoleFrontend::fill(int width) {
  bar_chars_ = bar_fill_w_ ? width * kBarChars / bar_fill_w_ : 0;
  bar_percent_ = bar_fill_w_ ? width * 100 / bar_fill_w_ : 0;
  if (bar_chars_ > bar_drawn_) draw_bar();  // a redraw only when the text bar grows
}

// In a terminal the bar and the firm line share one line, redrawn in place and cut to
// the terminal's width (a wrapped line would be left behind by every redraw); into a
// log or a pipe there is no bar, only the stage and firm lines.
void ConsoleFrontend::draw_bar() {
  bar_drawn_ = bar_chars_;
  if (!term_->interactive()) return;
  const int columns = term_->columns() > 0 ? term_->columns() : 80;
  std::string line;
  if (bar_open_) {
    // Beside a firm line the bar takes at most a third of the width.
    const int width = firm_line_.empty() ? kBarChars : std::clamp(columns / 3, 10, kBarChars);
    const int filled = bar_chars_ * width / kBarChars;
    line = "   [" + repeat("█", static_cast<size_t>(filled)) + std::string(static_cast<size_t>(width - filled), ' ') +
           "] " + std::to_string(bar_percent_) + "%";
  }
  if (!firm_line_.empty()) line += "   " + firm_line_;
  term_->write("\r" + base::cut_to_chars(line, static_cast<size_t>(columns - 1)) + "\x1b[K");
}

void ConsoleFrontend::destroy() {
  bar_open_ = false;
  if (term_->interactive()) term_->write("\n");
}

}  // namespace zuv::gui

namespace zuv::gui {

// The heading once; then the firm line beside the bar in a terminal, or a line per firm
// into a log.
void ConsoleFrontend::show_install_screen(const InstallScreenDesc& desc) {
  const std::string firm = desc.values[0] + "  " + desc.labels[4] + desc.values[4] + "  " + desc.labels[2] +
                           desc.values[2] + "  " + desc.labels[3] + desc.values[3];
  if (!screen_shown_) term_->write("\n   " + desc.heading + ": " + desc.stage + "\n");
  screen_shown_ = true;
  if (term_->interactive()) {
    if (firm == firm_line_) return;
    firm_line_ = firm;
    draw_bar();
    return;
  }
  if (desc.values[0] == firm_named_) return;
  firm_named_ = desc.values[0];
  term_->write("   " + firm + "\n");
}

void ConsoleFrontend::close_install_screen() {
  if (screen_shown_ && term_->interactive() && !firm_line_.empty() && !bar_open_) term_->write("\n");
  screen_shown_ = false;
  firm_line_.clear();
  firm_named_.clear();
}

}  // namespace zuv::gui
