// zuv-sample as a program: the same seed gives the same bytes, the checker and the
// system's Python readers accept everything it writes, a broken firm is broken in
// exactly one table, and bad arguments write nothing.
#include <algorithm>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "platform/error/error.h"
#include "platform/table/table.h"
#include "sample/sample_output.h"

namespace zuv::testing {
namespace {

namespace fs = std::filesystem;

class SampleOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (sample_tool().empty()) GTEST_SKIP() << "zuv-sample not built";
  }
  TableTempDir scratch;
};

TEST_F(SampleOutput, SameSeedGivesTheSameBytesAndAnotherSeedOtherData) {
  std::string a = scratch.file("a"), b = scratch.file("b"), c = scratch.file("c");
  auto with_out = [&](const std::string& out, const std::string& seed = "7") {
    return std::vector<std::string>{"--out", out, "--firms", "3", "--records", "120", "--seed", seed,
                                    "--db-path", "D:\\Dane\\"};
  };
  ASSERT_EQ(run_sample(with_out(a)), 0);
  ASSERT_EQ(run_sample(with_out(b)), 0);
  std::vector<std::string> files = files_below(a);
  ASSERT_EQ(files, files_below(b));
  ASSERT_GT(files.size(), 500u);
  for (const auto& f : files) {
    ASSERT_EQ(table_read_bytes(a + "/" + f), table_read_bytes(b + "/" + f)) << f;
  }

  // The header's date of last update is the fixed one (2025-12-31), not today's.
  std::string header = table_read_bytes(a + "/baza/firma1/ks_dok.dbf").substr(0, 4);
  EXPECT_EQ(static_cast<unsigned char>(header[1]), 125);
  EXPECT_EQ(header[2], 12);
  EXPECT_EQ(header[3], 31);

  ASSERT_EQ(run_sample(with_out(c, "8")), 0);
  EXPECT_EQ(table_read_bytes(a + "/baza/firma1/firma.dbf"), table_read_bytes(c + "/baza/firma1/firma.dbf"));
  EXPECT_NE(table_read_bytes(a + "/baza/firma1/ks_dok.dbf"), table_read_bytes(c + "/baza/firma1/ks_dok.dbf"));
}

TEST_F(SampleOutput, TheCheckerFindsNoFaultInTheDefaultRun) {
  std::string out = default_sample();
  ASSERT_FALSE(out.empty());
  std::string report;
  EXPECT_EQ(table_run({table_tool_path("zuv-dbcheck"), "-q", out}, &report), 0) << report;
}

// Every ".dbf" of the default run, read to its end by dbfread and by dbf, with the
// visible record counts of a few tables known from the run's parameters.
TEST_F(SampleOutput, BothPythonReadersReadEveryTable) {
  std::string python = table_python_with({"dbfread", "dbf"});
  if (python.empty()) GTEST_SKIP() << "Debian's python3-dbfread and python3-dbf are not installed";
  std::string out = default_sample();
  ASSERT_FALSE(out.empty());
  const std::string script = R"(
import os, sys, dbf
from dbfread import DBF
root = sys.argv[1]
for d, _, files in sorted(os.walk(root)):
    for f in sorted(files):
        if not f.lower().endswith('.dbf'):
            continue
        p = os.path.join(d, f)
        n = sum(1 for _ in DBF(p, encoding='cp852', char_decode_errors='strict'))
        t = dbf.Table(p, codepage='cp852')
        t.open(dbf.READ_ONLY)
        m = sum(1 for r in t if not dbf.is_deleted(r))
        t.close()
        print(os.path.relpath(p, root).replace(os.sep, '/'), n, m)
)";
  std::string listing;
  ASSERT_EQ(table_run({python, "-c", script, out}, &listing), 0) << listing;
  std::map<std::string, std::pair<long, long>> counts;
  std::istringstream in(listing);
  for (std::string name; in >> name;) in >> counts[name].first >> counts[name].second;
  std::size_t tables = 0;
  for (const auto& f : files_below(out))
    if (f.size() > 4 && f.substr(f.size() - 4) == ".dbf") {
      ++tables;
      EXPECT_EQ(counts.count(f), 1u) << f;
    }
  EXPECT_EQ(counts.size(), tables);
  auto both = [&](const std::string& f) { return counts[f]; };
  EXPECT_EQ(both("baza/firma1/ks_dok.dbf"), std::make_pair(2000L, 2000L));
  EXPECT_EQ(both("baza/firma2/ksef_bza.dbf"), std::make_pair(2000L, 2000L));
  EXPECT_EQ(both("baza/install.dbf"), std::make_pair(5L, 5L));  // two deleted registrations hidden
  EXPECT_EQ(both("baza/firma1/wspolnik.dbf"), std::make_pair(7L, 7L));
  EXPECT_EQ(both("release/wb.dbf"), std::make_pair(1L, 1L));
  EXPECT_EQ(both("baza/firma3/v_oss.dbf"), std::make_pair(0L, 0L));  // the firm whose OSS table is bare
}

TEST_F(SampleOutput, ABrokenFirmIsBrokenInOneTableOnly) {
  std::string out = scratch.file("b");
  ASSERT_EQ(run_sample({"--out", out, "--firms", "3", "--records", "40", "--broken-firms", "1", "--db-path", "D:\\Dane\\"}), 0);
  std::string report;
  EXPECT_EQ(table_run({table_tool_path("zuv-dbcheck"), "-q", out}, &report), 1);
  std::istringstream lines(report);
  int faults = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    ++faults;
    std::replace(line.begin(), line.end(), '\\', '/');  // the checker names Windows paths there
    EXPECT_NE(line.find("firma3/v_inne."), std::string::npos) << line;
  }
  EXPECT_GE(faults, 1);

  // The engine refuses the damaged table, so the first step that opens it fails; the
  // firm's other tables open.
  ScopedHandler quiet([](ErrorRecord&) { return HandlerAnswer::Default; });
  table::OpenOptions damaged;
  damaged.path = out + "/baza/firma3/v_inne.dbf";
  EXPECT_EQ(table::Table::open(damaged), nullptr);
  table::OpenOptions sound;
  sound.path = out + "/baza/firma3/firma.dbf";
  EXPECT_NE(table::Table::open(sound), nullptr);
}

TEST_F(SampleOutput, BadArgumentsExitWithTwoAndWriteNothing) {
  std::string taken = scratch.file("zajety");
  fs::create_directories(taken);
  table_write_bytes(taken + "/plik.txt", "moje");
  std::string message;
  EXPECT_EQ(run_sample({"--out", taken}, &message), 2);
  EXPECT_EQ(files_below(taken), std::vector<std::string>{"plik.txt"});
  EXPECT_EQ(table_read_bytes(taken + "/plik.txt"), "moje");

  std::string fresh = scratch.file("nowy");
  EXPECT_EQ(run_sample({"--out", fresh, "--db-version", "26.01.001"}), 2);
  EXPECT_EQ(run_sample({"--out", fresh, "--db-version", "026.01.033"}), 2);  // not older than the release
  EXPECT_EQ(run_sample({"--out", fresh, "--firms", "0"}), 2);
  EXPECT_EQ(run_sample({"--out", fresh, "--firms", "2", "--old-firms", "2"}), 2);
  EXPECT_EQ(run_sample({"--out", fresh, "--db-path", "C:\\" + std::string(60, 'x') + "\\"}), 2);
  EXPECT_EQ(run_sample({"--out", fresh, "--nieznana"}), 2);
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(run_sample({"--help"}), 0);
}

}  // namespace
}  // namespace zuv::testing
