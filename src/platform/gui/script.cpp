#include "platform/gui/script.h"

#include <fstream>
#include <ostream>
#include <sstream>

#include "platform/base/text.h"
#include "platform/os/unicode.h"

namespace zuv::gui {

namespace {

std::string join(const std::vector<std::string>& v, const char* sep) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) out += (i ? sep : "") + v[i];
  return out;
}

std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string describe(const AlarmDesc& s) {
  std::string b;
  for (size_t i = 0; i < s.buttons.size(); ++i)
    b += "[" + s.buttons[i] + (static_cast<int>(i) + 1 == s.default_button ? "*" : "") + "] ";
  const char* align = s.align == Align::Left ? " \\L" : s.align == Align::Right ? " \\R" : "";
  return std::string("ALARM ") + s.kind + " \"" + s.title + "\"" + align + " | " +
         join(s.lines, " / ") + " | " + b;
}

class ScriptWait : public WaitWindow {};

}  // namespace

ScriptFrontend::ScriptFrontend(Clock& clock, std::vector<std::string> answers)
    : Frontend(clock), answers_(answers.begin(), answers.end()) {}

std::vector<std::string> ScriptFrontend::load_answers(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("Nie mogę otworzyć pliku odpowiedzi: " + file);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '#') continue;
    out.push_back(line);
  }
  return out;
}

std::string ScriptFrontend::transcript_text() const {
  std::string out;
  for (const auto& l : transcript_) out += l + "\n";
  return out;
}

void ScriptFrontend::record(std::string line) {
  if (echo_) *echo_ << line << '\n' << std::flush;
  transcript_.push_back(std::move(line));
}

std::string ScriptFrontend::next(const std::string& what) {
  if (answers_.empty()) {
    record(what + " -> (brak odpowiedzi)");
    throw ScriptExhausted("Brak odpowiedzi w skrypcie dla okna: " + what);
  }
  std::string a = answers_.front();
  answers_.pop_front();
  return a;
}

Where ScriptFrontend::reference() {
  if (main_window_) return Where{Where::Mode::AppWindow, 197, 254, 630, 260};
  return desktop();
}

Where ScriptFrontend::desktop() { return Where{Where::Mode::Desktop, 0, 0, 1024, 768}; }

Size ScriptFrontend::text_box(const std::string& utf8, const std::string& family, int points,
                              bool bold) {
  return measure_.text_box(utf8, family, points, bold);
}

bool ScriptFrontend::apply_alarm_token(AlarmControl& s, const std::string& t) {
  if (t == "zamknij") {
    s.close_box();
  } else if (t == "czekaj") {
    while (!s.tick(clock().seconds())) clock().sleep_cs(100);
  } else if (t.size() >= 3 && t.front() == '\'' && t.back() == '\'') {
    s.key(Key::Char, os::first_char(t.substr(1, t.size() - 2)));
  } else if (Key k = key_from_name(t); k != Key::None) {
    s.key(k);
  } else if (!t.empty() && std::isdigit(static_cast<unsigned char>(t[0]))) {
    s.press(std::atoi(t.c_str()));
  } else {
    return false;
  }
  return true;
}

void ScriptFrontend::run_alarm(AlarmControl& s) {
  const std::string what = describe(s.desc());
  std::vector<std::string> used;
  while (!s.done()) {
    std::string answer = next(what);
    used.push_back(answer);
    auto w = words(answer);
    for (size_t i = 0; i < w.size() && !s.done(); ++i) {
      if (w[i] == "czekaj" && i + 1 < w.size() &&
          std::isdigit(static_cast<unsigned char>(w[i + 1][0]))) {
        clock().sleep_cs(std::atoi(w[++i].c_str()) * 100);
        s.tick(clock().seconds());
        continue;
      }
      if (!apply_alarm_token(s, w[i])) {
        record(what + " -> nieznana odpowiedź \"" + answer + "\"");
        throw ScriptExhausted("Nieznana odpowiedź w skrypcie: \"" + answer + "\" dla okna: " + what);
      }
    }
    // Whatever the answer, the clock may have run out meanwhile.
    s.tick(clock().seconds());
  }
  record(what + "<- " + join(used, " ; ") + " -> " + std::to_string(s.result()));
}

std::unique_ptr<WaitWindow> ScriptFrontend::open_wait(const AlarmDesc& desc) {
  record(describe(desc) + "(okno czekania)");
  return std::make_unique<ScriptWait>();
}

std::string ScriptFrontend::run_entry(const EntryDesc& desc, EntryControl& session) {
  const std::string what = "EDYCJA \"" + desc.title + "\" | " + join(desc.prompt_lines, " / ") +
                           " | [" + desc.proposal + "]";
  while (true) {
    std::string a = next(what);
    if (a == "Esc") {
      session.cancel();
      record(what + " <- Esc -> \"\"");
      return "";
    }
    std::string text = a == "=" ? desc.proposal : a;
    if (static_cast<int>(text.size()) > desc.length && desc.length > 0) text.resize(desc.length);
    if (session.accept(text) == EntryControl::Outcome::Rejected) {
      tone(500, 1);
      clock().sleep_cs(20);
      record(what + " <- \"" + text + "\" -> odrzucono");
      continue;
    }
    record(what + " <- \"" + text + "\" -> \"" + session.result() + "\"");
    return session.result();
  }
}

void ScriptFrontend::run_dirselect(DirChooserControl& c, bool fresh) {
  std::string what = std::string("KATALOG \"Wybierz katalog\"") + (fresh ? "" : " (zachowany)");
  while (!c.done()) {
    const std::string shown = what + " | " + c.path_text();
    std::string a = next(shown);
    if (a == "Esc") {
      c.cancel();
    } else if (a == "nowy") {
      c.NodeEdit(true);
    } else if (a == "zmień") {
      c.NodeEdit(false);
    } else if (a == "kasuj") {
      c.NodeDelete();
    } else if (a.rfind("idź ", 0) == 0) {
      c.StartDir(a.substr(5));
    } else {
      c.set_path_text(a);
      c.check_kat();
    }
    record(shown + " <- " + a + " -> " + (c.done() ? "\"" + c.result() + "\"" : c.path_text()));
  }
}

void ScriptFrontend::run_main_window(MainWindowControl& s) {
  main_window_ = true;
  const std::string what = "OKNO \"" + s.desc().title + "\"";
  record(what);
  while (!s.finished()) {
    std::string a = next(what);
    for (const auto& t : words(a)) {
      if (s.finished()) break;
      if (t == "zamknij") s.close();
      else if (Key k = key_from_name(t); k != Key::None) s.key(k);
      else if (std::isdigit(static_cast<unsigned char>(t[0]))) s.press(std::atoi(t.c_str()));
    }
    record(what + " <- " + a + " (fokus: " + s.buttons()[s.focus() - 1].caption + ")");
  }
  main_window_ = false;
}

bool ScriptFrontend::run_flow_screen(FlowScreenSession& s) {
  auto shown = [&s] {
    std::string out = "EKRAN \"" + s.desc().name + "\"";
    for (int f = 1; f <= s.field_count(); ++f) out += " | " + s.desc().fields[f - 1].label + " [" + s.text(f) + "]";
    return out;
  };
  while (!s.finished()) {
    const std::string what = shown();
    std::string a = next(what);
    record(what + " <- " + a);
    auto w = words(a);
    if (a == "Esc" || a == "zamknij") {
      s.close();
    } else if (w.size() >= 2 && w[0] == "pole") {
      size_t at = a.find(w[1], 4) + w[1].size();
      s.set_text(std::atoi(w[1].c_str()), at < a.size() ? a.substr(at + 1) : "");
    } else if (w.size() == 2 && w[0] == "katalog") {
      s.press_chooser(std::atoi(w[1].c_str()));
    } else if (a == "1") {
      s.press_back();
    } else if (a == "2") {
      s.press_install();
    } else {
      throw ScriptExhausted("Nieznana odpowiedź w skrypcie: \"" + a + "\" dla okna: " + what);
    }
  }
  return true;
}

void ScriptFrontend::tone(int frequency, int units) {
  ++tones_;
  record("TON " + std::to_string(frequency) + " " + std::to_string(units));
}

bool ScriptFrontend::check_interrupt() {
  ++interrupt_checks_;
  clock().sleep_cs(1);
  if (keys_.empty()) return false;
  std::string k = keys_.front();
  keys_.pop_front();
  return key_from_name(k) == Key::Esc;
}

void ScriptFrontend::create(const ProgressGeometry& g, const std::string& title) {
  bar_width_ = g.fill.w;
  record("LICZNIK \"" + title + "\" szerokość " + std::to_string(g.fill.w));
}
void ScriptFrontend::set_title(const std::string& title) { record("LICZNIK \"" + title + "\""); }
void ScriptFrontend::clear() { record("LICZNIK 0/" + std::to_string(bar_width_)); }
void ScriptFrontend::fill(int width) {
  record("LICZNIK " + std::to_string(width) + "/" + std::to_string(bar_width_));
}
void ScriptFrontend::destroy() { record("LICZNIK koniec"); }

}  // namespace zuv::gui

namespace zuv::gui {

void ScriptFrontend::show_install_screen(const InstallScreenDesc& desc) {
  std::string line = "EKRAN " + desc.heading + " | " + desc.stage;
  for (size_t i = 0; i < desc.labels.size(); ++i) line += " | " + desc.labels[i] + desc.values[i];
  record(line);
}

void ScriptFrontend::close_install_screen() { record("EKRAN zamknięty"); }

}  // namespace zuv::gui
