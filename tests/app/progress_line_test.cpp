// The headless run's progress on standard error, in a terminal and in a log.
#include "app/progress_line.h"
#include "platform/base/text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

namespace zuv::app {
namespace {

upgrade::ScreenFields fields(const std::string& firm, const std::string& left) {
  upgrade::ScreenFields f;
  f.heading = "Instalacja programu ZUV";
  f.stage = "Aktualizacja Bazy Danych";
  f.firm = firm;
  f.firms_left = left;
  f.time_left = "00:01:00";
  f.end_time = "18:00:00";
  return f;
}

// What a run with these refreshes (firm, firms left) writes.
std::string drawn(int columns, const std::vector<std::pair<std::string, std::string>>& refreshes) {
  std::ostringstream err;
  {
    ProgressLine line(err, columns);
    line.open(fields("", ""));
    for (const auto& [firm, left] : refreshes) line.refresh(fields(firm, left));
  }
  return err.str();
}

TEST(ProgressLine, InATerminalOneLineIsRedrawnInPlaceWithinItsWidth) {
  // The same text is not drawn again.
  EXPECT_EQ(drawn(30, {{"(0001):Żółta Spółka", "1/2"}, {"(0001):Żółta Spółka", "1/2"}, {"(0002):Druga", "0/2"}}),
            "Instalacja programu ZUV: Aktualizacja Bazy Danych\n"
            "\rFirma: (0001):Żółta Spółka  p\x1b[K"
            "\rFirma: (0002):Druga  pozostał\x1b[K\n");
}

TEST(ProgressLine, InALogEachStageAndFirmHasALineAndNoBar) {
  EXPECT_EQ(drawn(0, {{"(0001):A", "1/2"}, {"(0001):A", "1/2"}, {"(0002):B", "0/2"}}),
            "Instalacja programu ZUV: Aktualizacja Bazy Danych\n"
            "Firma: (0001):A  pozostało firm: 1/2  do końca: 00:01:00  koniec o: 18:00:00\n"
            "Firma: (0002):B  pozostało firm: 0/2  do końca: 00:01:00  koniec o: 18:00:00\n");
}

TEST(ProgressLine, CutToWidthKeepsWholeCharacters) {
  EXPECT_EQ(base::cut_to_chars("Żółw", 2), "Żó");
  EXPECT_EQ(base::cut_to_chars("abc", 10), "abc");
  EXPECT_EQ(base::cut_to_chars("abc", 0), "");
}

}  // namespace
}  // namespace zuv::app
