// The tests of ALARM, the message dialog.
#include <gtest/gtest.h>

#include "platform/gui/script.h"
#include "ui/alarm.h"
#include "ui/dialogs.h"

using namespace zuv;
using gui::ManualClock;
using gui::ScriptFrontend;

namespace {

struct Fixture {
  ManualClock clock;
  ScriptFrontend fe{clock};
  ui::Dialogs d{fe};
};

ui::AlarmDesc desc(const std::string& kind, const std::string& title, const std::string& text,
                   std::vector<std::string> buttons = {}) {
  ui::ApproxMeasure m;
  return ui::build_alarm({}, kind, title, text, buttons, std::nullopt,
                         ui::Where{ui::Where::Mode::Desktop, 0, 0, 1024, 768}, m);
}

}  // namespace

TEST(AlarmRules, KindsTitlesAlignmentAndDefaults) {
  auto q = desc("4", "Z", "a;b;c");
  EXPECT_EQ(q.title, "Potwierdź!");
  EXPECT_EQ(q.buttons, (std::vector<std::string>{"Potwierdzam", "Rezygnuję"}));
  EXPECT_EQ(q.default_button, 1);
  EXPECT_EQ(q.timeout_seconds, 1000);
  EXPECT_EQ(q.lines.size(), 3u);
  EXPECT_EQ(q.align, ui::Align::Center);
  EXPECT_EQ(q.icon, 101);

  auto e = desc("3", "Katalog Programu", "\\Lraz;dwa;");
  EXPECT_EQ(e.title, "Katalog Programu");
  EXPECT_EQ(e.align, ui::Align::Left);
  EXPECT_EQ(e.lines, (std::vector<std::string>{"raz", "dwa"}));
  EXPECT_EQ(e.buttons, (std::vector<std::string>{"Zamknij to okno"}));
  EXPECT_EQ(e.timeout_seconds, 120);
  EXPECT_EQ(e.panel, (ui::Rgb{255, 184, 160}));
  EXPECT_EQ(e.icon, 103);

  EXPECT_EQ(desc("6", "B", "\\Rx").align, ui::Align::Right);
  EXPECT_EQ(desc("6", "B", "x").title, "Błąd!");
  EXPECT_EQ(desc("5", "ZD", "x").title, "Zdecyduj co robić!");
  EXPECT_EQ(desc("5", "O", "x").icon, 102);
  EXPECT_EQ(desc("", "", "").kind, '4');
  EXPECT_EQ(desc("", "", "").title, " ");

  // The default mark: removed from the label; the last marked wins.
  auto m = desc("5", "U", "x", {"Kontynuuję", "Chcę\x04 przerwać"});
  EXPECT_EQ(m.buttons[1], "Chcę przerwać");
  EXPECT_EQ(m.default_button, 2);
  EXPECT_EQ(desc("5", "U", "x", {"\x04" "a", "b", "c\x04"}).default_button, 3);
}

// The box holds its text and its buttons, and stands where its position asks.
TEST(AlarmRules, TheBoxHoldsItsTextAndStandsWhereAsked) {
  auto s = desc("5", "U", "krótki;a znacznie dłuższy wiersz tekstu", {"A", "B", "C"});
  EXPECT_GT(s.panel_size.h, s.block.h);
  EXPECT_GE(s.panel_size.w, s.block.w + 10);
  EXPECT_GE(s.panel_size.w, 3 * (s.button_size.w + 20));
  EXPECT_GT(s.dialog_size.w, s.panel_size.w);
  EXPECT_GE(s.dialog_size.h, s.panel_size.h + s.button_size.h);
  // Centre on (width / 2, height * 0.35) of the reference.
  EXPECT_NEAR(s.dialog_pos.x + s.dialog_size.w / 2.0, 512, 1);
  EXPECT_NEAR(s.dialog_pos.y + s.dialog_size.h / 2.0, 768 * 0.35, 1);
  // Row 0 and column 0 mean the middle.
  auto mid = desc("50|0", "U", "x");
  EXPECT_NEAR(mid.dialog_pos.y + mid.dialog_size.h / 2.0, 384, 1);
  auto rowcol = desc("53|10", "U", "x");
  EXPECT_NEAR(rowcol.dialog_pos.x + rowcol.dialog_size.w / 2.0, 70, 1);
  EXPECT_NEAR(rowcol.dialog_pos.y + rowcol.dialog_size.h / 2.0, 768 - 3 * 16, 1);
  EXPECT_EQ(rowcol.kind, '5');
  // Larger fonts on the whole desktop, and growth with a large owner window.
  ui::ApproxMeasure me;
  auto big = ui::build_alarm(ui::Where::desktop(), "2", "U", "x", {}, 30, {}, me);
  EXPECT_EQ(big.text_points, 14);
  EXPECT_EQ(big.timeout_seconds, 30);
  auto grown = ui::build_alarm({}, "2", "U", "x", {}, {},
                               ui::Where{ui::Where::Mode::AppWindow, 0, 0, 1616, 1112}, me);
  EXPECT_EQ(grown.text_points, 26);
  // Over a given window: centred on it.
  auto over = ui::build_alarm(ui::Where::window(100, 100, 400, 300), "2", "U", "x", {}, {},
                              ui::Where::window(100, 100, 400, 300), me);
  EXPECT_NEAR(over.dialog_pos.x + over.dialog_size.w / 2.0, 300, 1);
  EXPECT_NEAR(over.dialog_pos.y + over.dialog_size.h / 2.0, 100 + 300 * 0.35, 1);
  auto small = ui::build_alarm({}, "2", "U", "x", {}, {},
                               ui::Where{ui::Where::Mode::AppWindow, 0, 0, 300, 200}, me);
  EXPECT_EQ(small.text_points, 13);
}

TEST(AlarmRules, HotLettersAndHelpers) {
  std::vector<std::string> l = {"Potwierdzam", "Rezygnuję", "Łączę"};
  EXPECT_EQ(ui::hot_letter(l, U'r'), 2);
  EXPECT_EQ(ui::hot_letter(l, U'P'), 1);
  EXPECT_EQ(ui::hot_letter(l, U'ł'), 3);
  EXPECT_EQ(ui::hot_letter(l, U'x'), 0);
  EXPECT_EQ(ui::V1_PLUS_V2({{1, 2}, {10, 20}, {100, 200}}), (std::vector<int>{111, 222}));
}

TEST(AlarmThroughScript, AnswersKeysAndTimeouts) {
  Fixture f;
  f.fe.add_answer("Enter");
  EXPECT_EQ(f.d.ALARM("4", "Z", "Czy?"), 1);
  f.fe.add_answer("'r'");
  EXPECT_EQ(f.d.ALARM("4", "Z", "Czy?"), 2);
  f.fe.add_answer("Enter");
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"Kontynuuję", "Chcę przerwać\x04"}), 2);
  f.fe.add_answer("Right Enter");
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"A", "B", "C"}), 2);
  f.fe.add_answer("Left Enter");  // wraps round to the last
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"A", "B", "C"}), 3);
  f.fe.add_answer("Esc");
  EXPECT_EQ(f.d.ALARM("5", "U", "x"), 0);
  f.fe.add_answer("zamknij");
  EXPECT_EQ(f.d.ALARM("2", "U", "x"), 0);
  f.fe.add_answer("Enter");
  EXPECT_EQ(f.d.ALARM("3", "B", "x"), 1);
  // A message has no label list: letters do nothing there.
  f.fe.add_answer("'z' Enter");
  EXPECT_EQ(f.d.ALARM("2", "U", "x"), 1);

  // A message left alone closes after 120 s; a question after 1000 s, not before.
  double t0 = f.clock.seconds();
  f.fe.add_answer("czekaj");
  EXPECT_EQ(f.d.ALARM("3", "B", "x"), 0);
  EXPECT_NEAR(f.clock.seconds() - t0, 121, 1.5);
  f.fe.add_answer("czekaj 999");
  f.fe.add_answer("2");
  EXPECT_EQ(f.d.ALARM("5", "U", "x"), 2);
  f.fe.add_answer("czekaj 1001");
  EXPECT_EQ(f.d.ALARM("5", "U", "x"), 0);
  f.fe.add_answer("czekaj 5");
  EXPECT_EQ(f.d.ALARM(ui::Where{}, "2", "U", "x", {}, 3), 0);
  EXPECT_EQ(f.fe.answers_left(), 0u);
}

TEST(AlarmThroughScript, TranscriptAndMissingAnswer) {
  Fixture f;
  f.fe.add_answer("1");
  f.d.ALARM("5", "Uwaga!!", "Program;ZUV", {"Kontynuuję", "Rezygnuję"});
  ASSERT_EQ(f.fe.transcript().size(), 1u);
  const std::string& t = f.fe.transcript()[0];
  EXPECT_NE(t.find("ALARM 5 \"Uwaga!!\""), std::string::npos) << t;
  EXPECT_NE(t.find("Program / ZUV"), std::string::npos) << t;
  EXPECT_NE(t.find("[Kontynuuję*]"), std::string::npos) << t;
  EXPECT_NE(t.find("-> 1"), std::string::npos) << t;
  try {
    f.d.ALARM("6", "B", "Nie ma pliku");
    FAIL() << "no answer should end the run";
  } catch (const gui::ScriptExhausted& e) {
    EXPECT_NE(std::string(e.what()).find("Nie ma pliku"), std::string::npos);
  }
  f.fe.add_answer("tak");
  EXPECT_THROW(f.d.ALARM("5", "U", "x"), gui::ScriptExhausted);
  auto w = f.d.ALARM_WAIT("Czekaj", "Trwa praca");
  EXPECT_NE(f.fe.transcript().back().find("okno czekania"), std::string::npos);
}
