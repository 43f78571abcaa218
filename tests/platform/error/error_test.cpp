#include "platform/error/error.h"

#include <gtest/gtest.h>

namespace zuv {
namespace {

TEST(ErrorHandlerStack, GuardedBlockBreaksAndRestoresPreviousHandler) {
  int seen = 0;
  ScopedHandler outer([&](ErrorRecord&) {
    ++seen;
    return HandlerAnswer::Default;
  });
  try {
    GuardedBlock guard;
    ErrorRecord r;
    r.description = "x";
    raise_error(r);
    FAIL() << "guarded block must break";
  } catch (const Break& b) {
    EXPECT_EQ(b.record.description, "x");
  }
  ErrorRecord r;
  EXPECT_EQ(raise_error(r), HandlerAnswer::Default);
  EXPECT_EQ(seen, 1);
}

TEST(ErrorHandlerStack, RetryRunsOperationAgainUntilHandlerGivesUp) {
  int calls = 0;
  ScopedHandler h([&](ErrorRecord&) { return calls < 3 ? HandlerAnswer::Retry : HandlerAnswer::Default; });
  EXPECT_FALSE(with_retry([&](ErrorRecord&) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace zuv
