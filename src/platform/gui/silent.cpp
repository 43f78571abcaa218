#include "platform/gui/silent.h"

namespace zuv::gui {

namespace {

std::string describe(const AlarmDesc& s) {
  std::string out = "Okno \"" + s.title + "\": ";
  for (size_t i = 0; i < s.lines.size(); ++i) out += (i ? " / " : "") + s.lines[i];
  for (const auto& b : s.buttons) out += " [" + b + "]";
  return out;
}

class SilentWait : public WaitWindow {};

}  // namespace

SilentFrontend::SilentFrontend(Clock& clock, std::vector<std::string> fields, std::ostream* log, std::ostream* err)
    : Frontend(clock), fields_(std::move(fields)), log_(log), err_(err) {}

void SilentFrontend::note(const std::string& line) {
  if (log_) *log_ << line << '\n' << std::flush;
  if (err_) *err_ << line << '\n' << std::flush;
}

Where SilentFrontend::reference() { return Where{Where::Mode::AppWindow, 197, 254, 630, 260}; }
Where SilentFrontend::desktop() { return Where{Where::Mode::Desktop, 0, 0, 1024, 768}; }

Size SilentFrontend::text_box(const std::string& utf8, const std::string& family, int points, bool bold) {
  return measure_.text_box(utf8, family, points, bold);
}

void SilentFrontend::run_alarm(AlarmControl& s) {
  const std::string what = describe(s.desc());
  repeats_ = what == last_question_ ? repeats_ + 1 : 0;
  last_question_ = what;
  if (repeats_ > 0) clock().sleep_cs(100);
  if (repeats_ >= kRepeatLimit || s.desc().buttons.empty()) s.close_box();
  else s.press(s.desc().default_button > 0 ? s.desc().default_button : 1);
  const std::string answer = s.result() > 0 ? s.desc().buttons[static_cast<size_t>(s.result() - 1)]
                                            : std::string("brak odpowiedzi (czas minął)");
  shown_.push_back(what + " -> " + answer);
  note(shown_.back());
}

std::unique_ptr<WaitWindow> SilentFrontend::open_wait(const AlarmDesc& desc) {
  note(describe(desc) + " (okno czekania)");
  return std::make_unique<SilentWait>();
}

std::string SilentFrontend::run_entry(const EntryDesc& desc, EntryControl& session) {
  session.accept(desc.proposal);
  note("Edycja \"" + desc.title + "\": [" + desc.proposal + "] -> \"" + session.result() + "\"");
  return session.result();
}

void SilentFrontend::run_dirselect(DirChooserControl& c, bool) {
  note("Wybór katalogu: nikt nie wybiera w trybie bez okien -> rezygnacja");
  c.cancel();
}

void SilentFrontend::run_main_window(MainWindowControl& s) {
  note("Okno główne \"" + s.desc().title + "\" -> zamknięte");
  s.close();
}

bool SilentFrontend::run_flow_screen(FlowScreenSession& s) {
  std::string line = "Ekran \"" + s.desc().name + "\"";
  for (int f = 1; f <= s.field_count(); ++f) {
    if (static_cast<size_t>(f) <= fields_.size()) s.set_text(f, fields_[static_cast<size_t>(f - 1)]);
    line += " | " + s.desc().fields[static_cast<size_t>(f - 1)].label + ": " + s.text(f);
  }
  note(line + " -> " + kScreenInstall);
  s.press_install();
  if (!s.finished()) s.press_back();
  return true;
}

void SilentFrontend::create(const ProgressGeometry& g, const std::string& title) {
  bar_width_ = g.fill.w;
  bar_quarter_ = 0;
  note("Etap: " + title);
}

void SilentFrontend::set_title(const std::string& title) {
  bar_quarter_ = 0;
  note("Etap: " + title);
}

void SilentFrontend::fill(int width) {
  if (bar_width_ <= 0) return;
  int quarter = width * 4 / bar_width_;
  if (quarter > bar_quarter_) {
    bar_quarter_ = quarter;
    note("  " + std::to_string(quarter * 25) + "%");
  }
}

}  // namespace zuv::gui
