// The release's steps over a sample: the structure steps bring the database's "str\"
// from the sample's release, then every firm goes through the firm steps newer than
// its version (each given the version read before the first, as the dispatcher does).
// No healthy firm fails, the broken one does, the versions reached are those the
// buffer step's two runs give, and the checker still finds every file sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/error/error.h"
#include "platform/table/engine_setup.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "sample/sample_output.h"
#include "steps/steps.h"
#include "support/table_support.h"

namespace zuv::testing {
namespace {

std::string text_of(const std::string& path, const char* field) {
  auto t = zuv::testing::open_for_reading(path);
  if (!t || !t->go_to(1)) return "?";
  std::string v = t->get(field).text;
  return v.substr(0, v.find_last_not_of(' ') + 1);
}

TEST(SampleUnderTheSteps, EveryHealthyFirmIsConvertedAndTheBrokenOneFails) {
  if (sample_tool().empty()) GTEST_SKIP() << "zuv-sample not built";
  TableTempDir scratch;
  std::string out = scratch.file("s");
  ASSERT_EQ(run_sample({"--out", out, "--firms", "6", "--records", "60", "--broken-firms", "1", "--db-path",
                        "D:\\Dane\\"}),
            0);
  // The steps take directories as Windows text ending in a backslash.
  std::string root = out;
  std::replace(root.begin(), root.end(), '/', '\\');
  const std::string release = root + "\\release\\", program = root + "\\program\\", database = root + "\\baza\\";
  const std::string db_version = text_of(database + "wersja.dbf", "baza");
  ASSERT_EQ(db_version, "022.01.050");

  table::WorkAreas areas;
  table::DBESYS(areas, [](const std::string&) {});
  table::STARTINIT(areas);
  steps::RunValues values;
  values.kraje_ue = ",AT,BE,BG,HR,CY,CZ,DK,EE,FI,FR,DE,GR,HU,IE,IT,LV,LT,LU,MT,NL,PL,PT,RO,SK,SI,ES,SE,";
  steps::StepContext ctx{areas, release, &values};
  ScopedHandler breaks([](ErrorRecord&) { return HandlerAnswer::Break; });

  for (const auto& s : steps::structure_steps())
    if (db_version < s.version) s.run(ctx, database, program);

  const char* const kReached[] = {"026.01.033", "026.01.033", "026.01.033", "026.01.032", "026.01.032"};
  for (int f = 1; f <= 6; ++f) {
    std::string firm = database + "firma" + std::to_string(f) + "\\";
    std::string version = text_of(firm + "wersja.dbf", "baza");
    values.num_fir = f;
    std::string failed;
    try {
      for (const auto& step : steps::firm_steps())
        if (version < step.version) {
          failed = step.name;
          step.run(ctx, firm, program, database, version);
          failed.clear();
        }
    } catch (const Break& b) {
      failed += ": " + b.record.description + " " + b.record.fileName;
    }
    areas.close_all();
    if (f == 6) {
      EXPECT_NE(failed.find("I_26_01_003"), std::string::npos) << failed;  // the damaged v_inne.dbf
      EXPECT_EQ(text_of(firm + "wersja.dbf", "baza"), "026.01.001");
      continue;
    }
    EXPECT_TRUE(failed.empty()) << "firma" << f << " " << failed;
    // Firms whose buffers the 026.01.007 rebuild brought to the release's layout
    // finish; those still in the 175-field layout are converted and stop one below.
    EXPECT_EQ(text_of(firm + "wersja.dbf", "baza"), kReached[f - 1]) << "firma" << f;
  }

  std::string report;
  EXPECT_EQ(table_run({table_tool_path("zuv-dbcheck"), "-q", out + "/baza/str", out + "/baza/firma1",
                       out + "/baza/firma4", out + "/baza/firma5"},
                      &report),
            0)
      << report;
}

}  // namespace
}  // namespace zuv::testing
