#include "app/progress_line.h"

namespace zuv::app {

std::string cut_to_width(const std::string& text, int columns) {
  int count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (count++ == columns) return text.substr(0, i);
  }
  return text;
}

void ProgressLine::open(const upgrade::ScreenFields& f) {
  close();
  err_ << f.heading << ": " << f.stage << '\n' << std::flush;
  last_.clear();
}

void ProgressLine::refresh(const upgrade::ScreenFields& f) {
  const std::string line = "Firma: " + f.firm + "  pozostało firm: " + f.firms_left + "  do końca: " + f.time_left +
                           "  koniec o: " + f.end_time;
  if (columns_ <= 0) {
    if (f.firm == last_) return;
    last_ = f.firm;
    err_ << line << '\n' << std::flush;
    return;
  }
  // One column stays free: a line that fills the last one wraps on many terminals.
  const std::string shown = cut_to_width(line, columns_ - 1);
  if (drawn_ && shown == last_) return;
  err_ << '\r' << shown << "\x1b[K" << std::flush;
  last_ = shown;
  drawn_ = true;
}

void ProgressLine::close() {
  if (drawn_) err_ << '\n' << std::flush;
  drawn_ = false;
}

}  // namespace zuv::app
