// The running estimate, the clock arithmetic, the progress screen's fields and the
// duration measured on earlier upgrades.
#include <gtest/gtest.h>

#include "sys/netname.h"
#include "tables/table_access.h"
#include "ui/alarm.h"
#include "platform/gui/script.h"
#include "upgrade/frontend_screen.h"
#include "upgrade/progress_screen.h"
#include "upgrade/speed.h"
#include "upgrade/time_estimate.h"
#include "upgrade/upgrade_fixture.h"

namespace zuv::upgrade::testing {
namespace {

TEST(Estimate, TimeLeftFromThePaceSoFarAndTheEndPastMidnight) {
  TimeEstimate e;
  EXPECT_EQ(e.OBLICZ_CZAS(10), "");
  EXPECT_EQ(e.OBLICZ_CZAS(1000.0, 1120.0, 4), "00:03:00");  // 120 s for 4 firms, 6 to go
  EXPECT_EQ(e.OBLICZ_CZAS(1000.0, 1120.0, 0), "00:00:00");
  EXPECT_EQ(e.OBLICZ_CZAS(0.0, 3725.0, 5), "01:02:05");
  // 59.6 s left rounds to a whole minute, not to "00:00:60".
  EXPECT_EQ(e.OBLICZ_CZAS(0.0, 59.6, 5), "00:01:00");
  // Started before midnight, asked after it.
  EXPECT_EQ(e.OBLICZ_CZAS(86340.0, 60.0, 4), "00:03:00");
  EXPECT_EQ(G1_P_G2("23:58:30", "00:03:00"), "00:01:30");
  EXPECT_EQ(G1_P_G2("10:59:59", "00:00:01"), "11:00:00");
  EXPECT_EQ(G1_P_G2("12:00:00", "27:30:00"), "15:30:00");
}

TEST(Estimate, ScreenFieldsKeepWhatIsNotGiven) {
  ScreenFields f;
  OPISY(f, "(0001):ABC", "?", "9/10", "23:58:30");
  EXPECT_EQ(f.firm, "(0001):ABC");
  EXPECT_EQ(f.time_left, "?");
  EXPECT_EQ(f.end_time, " ");
  EXPECT_EQ(f.firms_left, "9/10");
  OPISY(f, std::nullopt, "00:03:00", std::nullopt, "23:58:30");
  EXPECT_EQ(f.firm, "(0001):ABC");
  EXPECT_EQ(f.end_time, "00:01:30");
  EXPECT_EQ(f.now, "23:58:30");
}

TEST(Estimate, DurationIsWordedWithoutEmptyParts) {
  EXPECT_EQ(duration_words(3725), "1 godz. 2 min. 5 sek. ");
  EXPECT_EQ(duration_words(90061), "1 dni 1 godz. 1 min. 1 sek. ");
  EXPECT_EQ(duration_words(120), "2 min. ");
}

class Answers : public ui::MessageDialog {
 public:
  int ALARM(const std::string& kind, const std::string& title, const std::string& text,
            const std::vector<std::string>& buttons) override {
    asked.push_back(kind + "|" + title + "|" + text + "|" + buttons.at(0) + "|" + buttons.at(1));
    return answer;
  }
  int answer = 1;
  std::vector<std::string> asked;
};

class Speed : public UpgradeTest {
 protected:
  Speed() {
    name = "STACJA_7";
    env.nazwa_sieciowa = &name;
    ops.dialog = &dialog;
    env.speed = &indicator;
    make_table(db + "str\\nazwy.dbf",
               {{"NAZWA", 'C', 20, 0}, {"X1", 'C', 1, 0}, {"X2", 'C', 1, 0}, {"CZAS1", 'N', 10, 0},
                {"CZAS2", 'N', 10, 0}, {"CZAS3", 'N', 10, 0}, {"CZAS4", 'N', 10, 0}, {"CZAS5", 'N', 10, 0}},
               {{{"NAZWA", table::Value::of_text("INNA")}, {"CZAS3", table::Value::of_number(50)}}});
    make_table(rel + "str\\speed.dbf", {{"WERSJA", 'C', 9, 0}, {"SPEED", 'N', 2, 0}},
               {{{"WERSJA", table::Value::of_text("25.01.060")}, {"SPEED", table::Value::of_number(3)}},
                {{"WERSJA", table::Value::of_text("26.01.010")}, {"SPEED", table::Value::of_number(2)}}});
  }
  std::string name;
  Answers dialog;
  SpeedIndicator indicator;
};

TEST_F(Speed, FirstSeenWorkstationGetsARecordAndNoQuestion) {
  EXPECT_TRUE(POKAZ_CZAS(env, db, "25.01.050"));
  EXPECT_TRUE(dialog.asked.empty());
  areas.close_all();
  table::OpenOptions o;
  o.path = db + "str\\nazwy.dbf";
  auto t = table::Table::open(o);
  ASSERT_EQ(t->record_count(), 2u);
  t->go_to(2);
  EXPECT_EQ(t->get("nazwa").text.substr(0, 8), "STACJA_7");
}

TEST_F(Speed, StoredDurationIsShownAndTheOperatorMayDecline) {
  indicator.wskaznik = 5;  // an old firm needed every index rebuilt
  ZAPISZ_PREDKOSC(env, 3725, db);
  EXPECT_EQ(indicator.wskaznik, 1);
  indicator.wskaznik = 3;
  ZAPISZ_PREDKOSC(env, 3725, db);
  // From 25.01.050 the releases above it ask for columns 3 and 2: the larger wins.
  dialog.answer = 2;
  EXPECT_FALSE(POKAZ_CZAS(env, db, "25.01.050"));
  ASSERT_EQ(dialog.asked.size(), 1u);
  EXPECT_EQ(dialog.asked[0],
            "4|Czas instalacji (wskaźnik=3)|Instalacja potrwa w przybliżeniu;1 godz. 2 min. 5 sek. "
            "|Potwierdź|Zrezygnuj");
  // From 26.01.000 only column 2 would do; nothing was measured there.
  EXPECT_TRUE(POKAZ_CZAS(env, db, "26.01.000"));
  EXPECT_EQ(dialog.asked.size(), 1u);
  dialog.answer = 1;
  EXPECT_TRUE(POKAZ_CZAS(env, db, "25.01.050"));
}

}  // namespace
}  // namespace zuv::upgrade::testing

namespace zuv::upgrade::testing {
namespace {

// The driver's screen through a front end: opened once, redrawn per firm, all five
// values in their order.
TEST_F(Speed, ProgressScreenThroughTheScriptFrontEnd) {
  gui::ManualClock clock;
  gui::ScriptFrontend fe(clock);
  {
    FrontendScreen screen(fe, ui::Size{630, 370});
    ops.screen = &screen;
    make_database("026.01.030");
    make_register({1});
    make_firm(1, "026.01.030", "K\x88os");  // code page 852, as the suite writes it
    EXPECT_EQ(run("026.01.030"), "00");
    ops.screen = nullptr;
  }
  const auto& t = fe.transcript();
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t.front(),
            "EKRAN Instalacja programu ZUV (wersja 26.01.033) | Aktualizacja Bazy Danych | Nazwa firmy: ? | "
            "Aktualna godzina:   | Koniec instalacji za minut: ? | Czyli o godz.:   | Pozostało firm:  ");
  EXPECT_NE(fe.transcript_text().find("Nazwa firmy: (0001):K\xC5\x82os | Aktualna godzina: 12:00:00 | Koniec "
                                      "instalacji za minut: ? | Czyli o godz.:   | Pozostało firm: 0/1"),
            std::string::npos)
      << fe.transcript_text();
  EXPECT_EQ(t.back(), "EKRAN zamknięty");
}

}  // namespace
}  // namespace zuv::upgrade::testing
