// The full-size screen of a database upgrade: the firm in work, the clock, the time
// left, the end time and the firms left. The values are kept here; a presenter shows
// them (a window, a terminal line, nothing at all in tests).
#pragma once

#include <optional>
#include <string>

namespace zuv::upgrade {

struct ScreenFields {
  std::string heading;            // "Instalacja programu ZUV (wersja " + wersja_p + ")"
  std::string stage;              // "Aktualizacja Bazy Danych", ...
  std::string firm = "?";         // "Nazwa firmy: "
  std::string now = " ";          // "Aktualna godzina: "
  std::string time_left = "?";    // "Koniec instalacji za minut: "
  std::string end_time = " ";     // "Czyli o godz.: "
  std::string firms_left = " ";   // "Pozostało firm: "
};

class InstallScreen {
 public:
  virtual ~InstallScreen() = default;
  virtual void open(const ScreenFields& fields) = 0;
  virtual void refresh(const ScreenFields& fields) = 0;
  virtual void close() {}
};

// OPISY: the clock always; firm, time left and firms left when given; the end time
// from the clock and the time left unless that is "?". now_hms: the current time.
void OPISY(ScreenFields& fields, const std::optional<std::string>& firm,
           const std::optional<std::string>& time_left, const std::optional<std::string>& firms_left,
           const std::string& now_hms);

}  // namespace zuv::upgrade
