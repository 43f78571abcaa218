#include <gtest/gtest.h>

#include "app/program.h"
#include "platform/gui/script.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

using namespace zuv;

namespace {

ui::MainWindowSession make(std::vector<int>* pressed) {
  std::vector<std::function<void()>> actions(5);
  for (int i = 2; i < 5; ++i) actions[i] = [pressed, i] { pressed->push_back(i + 1); };
  return ui::MainWindowSession(ui::MainWindowDesc{}, {"Napraw Bazę danych", "Napraw instalację Programu",
                                                     "Aktualizacja programu", "Pierwsza instalacja programu",
                                                     "Zakończ instalację"},
                               actions);
}

}  // namespace

TEST(MainWindow, LayoutInTheDrawingArea) {
  std::vector<int> p;
  auto s = make(&p);
  s.layout({624, 231});
  // u = 30, g = 15, b = INT(624 * 0.4) = 249
  EXPECT_EQ(s.buttons()[0].pos, (ui::Point{30, 30}));
  EXPECT_EQ(s.buttons()[1].pos, (ui::Point{30, 75}));
  EXPECT_EQ(s.buttons()[2].pos, (ui::Point{30, 120}));
  EXPECT_EQ(s.buttons()[3].pos, (ui::Point{30, 165}));
  EXPECT_EQ(s.buttons()[4].pos, (ui::Point{339, 30}));
  EXPECT_EQ(s.buttons()[0].size, (ui::Size{249, 30}));
  EXPECT_EQ(s.picture_pos(), (ui::Point{309, 85}));
  EXPECT_EQ(s.picture_size(), (ui::Size{285, 115}));
}

TEST(MainWindow, KeysFocusAndRepairButtons) {
  std::vector<int> p;
  auto s = make(&p);
  EXPECT_EQ(s.focus(), 3);
  EXPECT_TRUE(s.buttons()[2].bold);
  s.key(ui::Key::Down);  // previous in tab order: the button below
  EXPECT_EQ(s.focus(), 2);
  EXPECT_FALSE(s.buttons()[2].bold);
  EXPECT_TRUE(s.buttons()[1].bold);
  s.key(ui::Key::Right);
  EXPECT_EQ(s.focus(), 1);
  s.key(ui::Key::Up);  // Up on "Napraw Bazę danych" goes to "Napraw instalację Programu"
  EXPECT_EQ(s.focus(), 2);
  s.key(ui::Key::Enter);  // a repair button does nothing
  s.press(1);
  EXPECT_TRUE(p.empty());
  EXPECT_FALSE(s.finished());
  s.key(ui::Key::Up);
  s.key(ui::Key::Enter);
  EXPECT_EQ(p, (std::vector<int>{3}));
  s.set_enabled(false);  // while a flow runs nothing else starts
  s.press(4);
  EXPECT_EQ(p.size(), 1u);
  s.set_enabled(true);
  s.key(ui::Key::Esc);
  EXPECT_TRUE(s.finished());
}

TEST(MainWindow, FlowButtonsThroughTheWholeStart) {
  gui::ManualClock clock;
  gui::ScriptFrontend fe{clock};
  ui::Dialogs d{fe};
  app::Services s;
  s.del_file = [](const std::string&) {};
  bool enabled_during = true;
  ui::MainWindowSession* seen = nullptr;
  (void)seen;
  s.upgrade = [&](app::Program& p, ui::Dialogs& dd) {
    enabled_during = false;
    dd.ALARM("2", "I", "aktualizacja " + p.roczek);
  };
  app::Program p;
  fe.add_answer("3");      // upgrade: our flow shows its message
  fe.add_answer("Enter");
  fe.add_answer("4");      // first installation: not there yet
  fe.add_answer("1");
  fe.add_answer("Down Enter");  // from button 4, focus to 3 and press it again
  fe.add_answer("1");
  fe.add_answer("5");
  EXPECT_EQ(app::MAIN(p, {"26.01.001", "026.01.033", "2026"}, d, s), app::MainResult::Closed);
  std::string t = fe.transcript_text();
  EXPECT_NE(t.find("Instalacja programu ZUV wersja 26.01.001"), std::string::npos);
  EXPECT_NE(t.find("aktualizacja 2026"), std::string::npos);
  EXPECT_NE(t.find("Pierwsza instalacja programu nie jest jeszcze dostępna"), std::string::npos);
  EXPECT_NE(t.find("<- 3 (fokus: Aktualizacja programu)"), std::string::npos) << t;
  EXPECT_NE(t.find("<- Down Enter (fokus: Aktualizacja programu)"), std::string::npos) << t;
  EXPECT_FALSE(enabled_during);
  EXPECT_EQ(fe.answers_left(), 0u);
}
