// The headless upgrade end to end, as a file server's administrator runs it: a sample
// release, program and database written by zuv-sample (a current firm, an old firm
// that needs the complete index rebuild, another current one, and a broken firm), the
// real program started in the release's directory, and the database checked by the
// independent checker afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/error/error.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::upgrade::testing {
namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// `baza` of a version record, "" when it cannot be read.
std::string recorded_version(const fs::path& wersja) {
  ScopedHandler quiet([](ErrorRecord&) { return HandlerAnswer::Default; });
  auto t = zuv::testing::open_for_reading(utf8(wersja));
  if (!t) return "";
  t->go_top();
  std::string v = t->eof() ? "" : t->get("baza").text;
  return v.substr(0, v.find_last_not_of(' ') + 1);
}

// Runs a program with the given directory as the current one, as the operator starts
// the installer from the release's directory.
int run_in(const fs::path& dir, const std::vector<std::string>& args, std::string* out) {
  fs::path before = fs::current_path();
  fs::current_path(dir);
  int rc = zuv::testing::table_run(args, out);
  fs::current_path(before);
  return rc;
}

TEST(EndToEnd, SampleDatabaseIsUpgradedExceptItsBrokenFirm) {
  const std::string sample = zuv::testing::table_tool_path("zuv-sample");
  const std::string zuvinst = zuv::testing::table_tool_path("zuvinst");
  const std::string dbcheck = zuv::testing::table_tool_path("zuv-dbcheck");
  if (sample.empty() || zuvinst.empty() || dbcheck.empty()) GTEST_SKIP() << "the programs are not built";
  zuv::testing::TableTempDir scratch;
  const fs::path root = fs::u8path(scratch.path()) / "e2e";
  // Firm 2 is the old one, firm 4 the broken one (the sample's order).
  ASSERT_EQ(zuv::testing::table_run({sample, "--out", utf8(root), "--firms", "4", "--records", "60",
                                     "--old-firms", "1", "--broken-firms", "1"}),
            0);
  const fs::path db = root / "baza", release = root / "release";
  ASSERT_EQ(recorded_version(db / "firma2" / "wersja.dbf").substr(0, 3), "013");  // older than 014.01.015

  std::string out;
  int rc = run_in(release,
                  {zuvinst, "26.01.033", "026.01.033", "2026", "--upgrade-db", utf8(db), "--program",
                   utf8(root / "program")},
                  &out);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_NE(out.find("Nie udało się zaktualizować firm: 4"), std::string::npos) << out;
  EXPECT_NE(out.find("error.log"), std::string::npos) << out;

  for (int firm : {1, 2, 3})
    EXPECT_EQ(recorded_version(db / ("firma" + std::to_string(firm)) / "wersja.dbf"), "026.01.033") << firm;
  EXPECT_NE(recorded_version(db / "firma4" / "wersja.dbf"), "026.01.033");
  EXPECT_EQ(recorded_version(db / "wersja.dbf"), "026.01.033");

  // The reports: the database's names the failed firm, the release's error log too.
  const std::string report = zuv::testing::table_read_bytes(utf8(db / "public" / "ins_raport.txt"));
  EXPECT_NE(report.find("Firma nr: 4"), std::string::npos) << report;
  const std::string log = zuv::testing::table_read_bytes(utf8(release / "error.log"));
  EXPECT_NE(log.find("firmy nr: 4."), std::string::npos) << log;
  EXPECT_NE(log.find("\r\n"), std::string::npos);

  // Every table, memo file and index is sound except in the broken firm.
  std::vector<std::string> sound = {dbcheck, "-q"};
  for (const char* part : {"firma1", "firma2", "firma3", "public", "str", "pit"}) sound.push_back(utf8(db / part));
  std::string faults;
  EXPECT_EQ(zuv::testing::table_run(sound, &faults), 0) << faults;
  EXPECT_NE(zuv::testing::table_run({dbcheck, "-q", utf8(db / "firma4")}, &faults), 0);
  EXPECT_NE(faults.find("v_inne"), std::string::npos) << faults;
}

}  // namespace
}  // namespace zuv::upgrade::testing
