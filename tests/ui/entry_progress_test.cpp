// The tests of QMX_EDTSTR, the text entry, and LICZNIK, the progress bar.
#include <gtest/gtest.h>

#include "platform/gui/script.h"
#include "ui/dialogs.h"

using namespace zuv;

namespace {
struct Fixture {
  gui::ManualClock clock;
  gui::ScriptFrontend fe{clock};
  ui::Dialogs d{fe};
};
}  // namespace

TEST(EntryDialog, CheckRunsOncePerAttemptAndFailuresKeepItOpen) {
  Fixture f;
  std::vector<std::string> seen;
  auto check = [&](const std::string& s) {
    seen.push_back(s);
    return s != "zly";
  };
  f.fe.add_answer("zly");
  f.fe.add_answer("dobry");
  EXPECT_EQ(f.d.QMX_EDTSTR("NowyKatalog", 100, "Nowy katalog", "Podaj;nazwę", check), "dobry");
  EXPECT_EQ(seen, (std::vector<std::string>{"zly", "dobry"}));
  EXPECT_EQ(f.fe.tones(), 1);  // the failed attempt was signalled

  seen.clear();
  f.fe.add_answer("");  // an empty text closes without the check
  EXPECT_EQ(f.d.QMX_EDTSTR("x", 10, "t", "p", check), "");
  f.fe.add_answer("Esc");
  EXPECT_EQ(f.d.QMX_EDTSTR("x", 10, "t", "p", check), "");
  f.fe.add_answer("=");
  EXPECT_EQ(f.d.QMX_EDTSTR("propozycja", 20, "t", "p", check), "propozycja");
  EXPECT_EQ(seen, (std::vector<std::string>{"propozycja"}));
}

TEST(EntryDialog, PromptLinesAndSizes) {
  ui::ApproxMeasure m;
  auto s = ui::build_entry("a", 5, "T", "raz;dwa", m);
  EXPECT_EQ(s.prompt_lines.size(), 2u);
  EXPECT_GE(s.prompt_size.w, 2 * s.button_size.w + 60);
  EXPECT_EQ(s.dialog_size.w, s.prompt_size.w + 28);
  EXPECT_EQ(s.icon, 104);
}

// The bar fills in proportion to the work done, never past its end, and draws only
// when what it shows changes.
TEST(Progress, TheBarFollowsTheWorkDone) {
  auto g = ui::progress_geometry({10, 10}, 328);
  EXPECT_LE(g.fill.w, g.bar.w);
  EXPECT_LE(g.bar.w + 2 * g.margin, 328);

  Fixture f;
  // A fill area of 300 pixels: width 326.
  f.d.LICZNIK(ui::Point{0, 0}, 326, 15, "Tworzenie indeksów...");
  ASSERT_EQ(f.d.licznik().geometry().fill.w, 300);
  for (int i = 1; i <= 15; ++i) {
    f.d.LICZNIK();
    EXPECT_EQ(f.d.licznik().drawn(), 20 * i);
  }
  size_t lines = f.fe.transcript().size();
  f.d.LICZNIK();  // beyond the maximum: nothing drawn, no error
  f.d.LICZNIK(5);
  EXPECT_EQ(f.fe.transcript().size(), lines);
  EXPECT_EQ(f.d.licznik().drawn(), 300);

  // Many more units than pixels: drawn only when the width grows.
  f.d.LICZNIK("NEW", 3000, "");
  EXPECT_EQ(f.d.licznik().title(), "Tworzenie indeksów...");  // empty text keeps it
  lines = f.fe.transcript().size();
  for (int i = 0; i < 3000; ++i) f.d.LICZNIK();
  EXPECT_EQ(f.fe.transcript().size(), lines + 300);
  f.d.LICZNIK("NEW", 4, "Kopiowanie plików programu...");
  EXPECT_EQ(f.d.licznik().title(), "Kopiowanie plików programu...");
  f.d.LICZNIK(2);
  EXPECT_EQ(f.d.licznik().drawn(), 150);
  f.d.LICZNIK("DEL");
  f.d.LICZNIK("DEL");  // a second DEL, with no panel, does nothing
  EXPECT_FALSE(f.d.licznik().exists());
  // A zero maximum never divides by zero.
  f.d.LICZNIK("NEW", 0, "x");
  f.d.LICZNIK();
  EXPECT_EQ(f.d.licznik().drawn(), 0);
}
