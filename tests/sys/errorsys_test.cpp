#include "sys/errorsys.h"

#include <gtest/gtest.h>

#include "platform/error/call_context.h"
#include "platform/table/engine_setup.h"
#include "platform/table/last_error.h"
#include "platform/table/work_areas.h"
#include "support/table_support.h"

namespace zuv::sys {
namespace {

struct RecordingBox : ErrorBox {
  BoxAnswer answer = BoxAnswer::Ok;
  int shown = 0;
  std::string title, text;
  BoxButtons buttons = BoxButtons::Ok;
  BoxIcon icon = BoxIcon::Information;
  BoxAnswer show(const std::string& t, const std::string& x, BoxButtons b, BoxIcon i) override {
    ++shown;
    title = t;
    text = x;
    buttons = b;
    icon = i;
    return answer;
  }
};

struct Handler : ::testing::Test {
  RecordingBox box;
  int quit_code = -1;
  HandlerServices services() {
    HandlerServices s;
    s.box = &box;
    s.quit = [this](int code) { quit_code = code; };
    return s;
  }
  HandlerAnswer handle(ErrorRecord e) { return STANDARDEH(e, services()); }
};

TEST_F(Handler, SettlesDivisionSharingViolationAndAppendLockSilently) {
  ErrorRecord div;
  div.genCode = gencode::kZeroDivide;
  EXPECT_EQ(handle(div), HandlerAnswer::Zero);

  ErrorRecord open;
  open.genCode = gencode::kOpen;
  open.osCode = 32;
  open.canDefault = true;
  EXPECT_EQ(handle(open), HandlerAnswer::Default);

  ErrorRecord lock;
  lock.genCode = gencode::kAppendLock;
  lock.canDefault = true;
  EXPECT_EQ(handle(lock), HandlerAnswer::Default);
  EXPECT_EQ(box.shown, 0);

  // Without a default allowed the sharing violation is shown.
  open.canDefault = false;
  handle(open);
  EXPECT_EQ(box.shown, 1);
}

TEST_F(Handler, ButtonsFollowRetryAndDefaultAndDecideTheOutcome) {
  ErrorRecord e;
  e.genCode = 20;
  e.canDefault = e.canRetry = true;
  box.answer = BoxAnswer::Ignore;
  EXPECT_EQ(handle(e), HandlerAnswer::Default);
  EXPECT_EQ(box.buttons, BoxButtons::AbortRetryIgnore);
  box.answer = BoxAnswer::Retry;
  EXPECT_EQ(handle(e), HandlerAnswer::Retry);
  box.answer = BoxAnswer::Abort;
  handle(e);
  EXPECT_EQ(quit_code, 1);

  quit_code = -1;
  e.canDefault = e.canRetry = false;
  box.answer = BoxAnswer::Ok;
  handle(e);
  EXPECT_EQ(box.buttons, BoxButtons::Ok);
  EXPECT_EQ(quit_code, 1);

  quit_code = -1;
  e.canRetry = true;
  box.answer = BoxAnswer::Cancel;
  EXPECT_EQ(handle(e), HandlerAnswer::Break);
  EXPECT_EQ(box.buttons, BoxButtons::RetryCancel);
  e.canRetry = false;
  e.canDefault = true;
  handle(e);
  EXPECT_EQ(box.buttons, BoxButtons::OkCancel);
  EXPECT_EQ(quit_code, -1);
}

TEST_F(Handler, BoxTextCarriesFieldsOsErrorAndWrappedEngineMessage) {
  ErrorRecord e;
  e.genCode = gencode::kOpen;
  e.osCode = 5;
  e.subSystem = "DBFCDX";
  e.subCode = 1001;
  e.severity = 1;
  e.description = "Open error";
  e.fileName = "C:\\ZUV\\firma1\\kontr.dbf";
  e.operation = "DBUSEAREA";
  e.callstack = "Called from OTWORZ(12);Called from MAIN(3)";
  HandlerServices s = services();
  s.engine_error = [] {
    return EngineError{7, "bardzo dlugi komunikat silnika tabel ktory trzeba zawinac w linie po piecdziesiat znakow"};
  };
  STANDARDEH(e, s);
  EXPECT_EQ(box.title, "Corvane Error Message");
  EXPECT_EQ(box.icon, BoxIcon::Exclamation);
  const std::string head =
      "Warning DBFCDX/1001\rDescription : Open error\rFile : C:\\ZUV\\firma1\\kontr.dbf\r"
      "Operation : DBUSEAREA\rThread ID : 1\r"
      "bardzo dlugi komunikat silnika tabel ktory trzeba\rzawinac w linie po piecdziesiat znakow\r";
  EXPECT_EQ(box.text.substr(0, head.size()), head);
  // The OS text sits between the code line and the call stack, whatever its wording.
  const std::string tail = "\rCalled from OTWORZ(12)\rCalled from MAIN(3)";
  ASSERT_GT(box.text.size(), tail.size());
  EXPECT_EQ(box.text.substr(box.text.size() - tail.size()), tail);
  EXPECT_NE(box.text.find("Operating system error : 5\r"), std::string::npos);

  e.osCode = 0;
  e.severity = 3;
  STANDARDEH(e, services());
  EXPECT_EQ(box.text.find("Operating system error"), std::string::npos);
  EXPECT_EQ(box.icon, BoxIcon::Stop);
}

// The handler as the program installs it: the engine's own last error (step 4) and the
// routines the program is in (step 8), from a real failure of the table engine.
TEST_F(Handler, EngineLastErrorAndCallingRoutinesFromARealFailure) {
  table::WorkAreas areas;
  table::DBESYS(areas, [](const std::string&) {});
  table::clear_last_error();
  HandlerServices s = services();
  s.engine_error = engine_last_error();
  box.answer = BoxAnswer::Ignore;
  ScopedHandler program([&](ErrorRecord& e) { return STANDARDEH(e, s); });
  zuv::testing::TableTempDir dir;
  table::UseRequest missing;
  missing.path = dir.file("brak.dbf");
  int outer_line = 0, inner_line = 0;
  {
    CallContext upgrade("UPGRADE"); outer_line = __LINE__;
    CallContext firm("INDEKSUJ"); inner_line = __LINE__;
    EXPECT_FALSE(areas.use_area(missing));
  }
  ASSERT_EQ(box.shown, 1);
  EXPECT_NE(box.text.find("\rThread ID : 1\rDBUSEAREA: Nie można otworzyć tabeli\r"), std::string::npos)
      << box.text;
  const std::string tail = "\rCalled from INDEKSUJ(" + std::to_string(inner_line) +
                           ")\rCalled from UPGRADE(" + std::to_string(outer_line) + ")";
  ASSERT_GT(box.text.size(), tail.size());
  EXPECT_EQ(box.text.substr(box.text.size() - tail.size()), tail);

  // The engine's error was shown once; a later error that is not the engine's shows
  // neither it nor routines that have ended.
  ErrorRecord other;
  other.subSystem = "BASE";
  other.description = "Kopiowanie";
  STANDARDEH(other, s);
  EXPECT_EQ(box.text.find("DBUSEAREA"), std::string::npos);
  EXPECT_EQ(box.text.find("Called from"), std::string::npos);
}

TEST(ErrorText, LineSplitWrapsAtWordsAndCutsLongWords) {
  EXPECT_EQ(LINESPLIT("", 50), "");
  EXPECT_EQ(LINESPLIT("ala ma kota", 7), "ala ma;kota");
  EXPECT_EQ(LINESPLIT("abcdefghij kl", 4), "abcd;efgh;ij;kl");
  std::string wrapped = LINESPLIT(std::string(30, 'a') + " " + std::string(30, 'b'), 50);
  EXPECT_EQ(wrapped, std::string(30, 'a') + ";" + std::string(30, 'b'));
}

TEST(ErrorText, ErrPisListsArgumentsAndFields) {
  ErrorRecord e;
  e.genCode = 71;
  e.description = "Open error";
  std::string none = ERR_PIS(e);
  EXPECT_EQ(none.rfind(";Argumenty         :  NIL;canDefault        : .F.;", 0), 0u) << none;
  e.args = std::vector<ErrorValue>{ErrorValue::of("abc"), ErrorValue::of(12)};
  std::string two = ERR_PIS(e);
  EXPECT_NE(two.find(";( 1) typ=C: abc;( 2) typ=N: 12;canDefault"), std::string::npos) << two;
  EXPECT_NE(two.find(";genCode           : 71;"), std::string::npos);
  EXPECT_EQ(two.substr(two.size() - 80), ";" + std::string(78, '-') + ";");
}

}  // namespace
}  // namespace zuv::sys
