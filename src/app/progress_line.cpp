#include "app/progress_line.h"

#include "platform/base/text.h"

namespace zuv::app {

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
  const std::string shown = base::cut_to_chars(line, static_cast<size_t>(columns_ - 1));
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
