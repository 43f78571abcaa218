#include <gtest/gtest.h>

#include "app/operator_interrupt.h"
#include "platform/gui/script.h"

using namespace zuv;

TEST(OperatorInterrupt, TheTablesAskTheFrontEndInstalledAtStartUp) {
  gui::ManualClock clock;
  gui::ScriptFrontend fe(clock);
  double before = clock.seconds();
  {
    app::ScopedFrontendInterrupt installed(fe);
    fe.press_keys({"Enter", "Esc"});
    EXPECT_FALSE(tables::NIC());
    EXPECT_TRUE(tables::NIC());
    EXPECT_FALSE(tables::NIC());  // nothing left waiting
    EXPECT_EQ(fe.interrupt_checks(), 3);
    EXPECT_NEAR(clock.seconds() - before, 0.03, 1e-9);  // a hundredth of a second each
    tables::operator_interrupt()->TONE(5000, 0.2);
    EXPECT_EQ(fe.tones(), 1);
    EXPECT_NE(fe.transcript_text().find("TON 5000 1"), std::string::npos);
  }
  EXPECT_EQ(tables::operator_interrupt(), nullptr);
}
