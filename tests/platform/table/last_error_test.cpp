// The engine keeps its last error for the program's error handler.
#include "platform/table/last_error.h"

#include <gtest/gtest.h>

#include "platform/table/engine_setup.h"
#include "platform/table/work_areas.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

TEST(EngineLastError, KeptFromTheLatestErrorUntilTaken) {
  zuv::testing::TableTempDir dir;
  WorkAreas areas;
  DBESYS(areas, [](const std::string&) {});
  clear_last_error();
  ScopedHandler fail_quietly([](ErrorRecord&) { return HandlerAnswer::Default; });

  UseRequest missing;
  missing.path = dir.file("brak.dbf");
  EXPECT_FALSE(areas.use_area(missing));
  EXPECT_EQ(last_error().code, 71);  // the open failure
  EXPECT_EQ(last_error().message, "DBUSEAREA: Nie można otworzyć tabeli");

  testing::table_write_bytes(dir.file("zly.dbf"), std::string(100, 'x'));
  UseRequest damaged;
  damaged.path = dir.file("zly.dbf");
  EXPECT_FALSE(areas.use_area(damaged));
  LastError taken = take_last_error();
  EXPECT_EQ(taken.code, 41);  // the newer error, a damaged file
  EXPECT_EQ(taken.message.rfind("DBUSEAREA: Uszkodzony plik tabeli", 0), 0u) << taken.message;
  EXPECT_EQ(last_error().code, 0);  // taken: not shown again beside a later error
}

}  // namespace
}  // namespace zuv::table
