// The full-size progress screen of an upgrade as the front ends present it: a heading,
// the stage, and five labelled values (firm, clock, time left, end time, firms left) on
// the installer's background, sized to the owner's drawing area. The upgrade fills it;
// the front ends draw it.
#pragma once

#include <array>
#include <string>

#include "platform/gui/dialog_desc.h"

namespace zuv::gui {

struct InstallScreenDesc {
  std::string heading;  // "Instalacja programu ZUV (wersja 26.01.033)"
  std::string stage;    // "Aktualizacja Bazy Danych"
  std::array<std::string, 5> labels = {"Nazwa firmy: ", "Aktualna godzina: ", "Koniec instalacji za minut: ",
                                       "Czyli o godz.: ", "Pozostało firm: "};
  std::array<std::string, 5> values = {"?", " ", "?", " ", " "};
  Rgb background{208, 208, 167};
  std::string font = "Arial";         // "8.Arial"
  int points = 8;
  std::string fixed_font = "Courier New";  // values, code page 238
  Size size{630, 370};                // the owner's drawing area
  // Rows from the top of the screen, in pixels: heading, stage, then one per value.
  int row(int n) const { return 24 + n * 28; }
  int value_x() const { return size.w / 2; }
};

}  // namespace zuv::gui
