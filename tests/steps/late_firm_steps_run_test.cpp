// Firm steps 015-033 as the dispatcher runs them: in order on one firm, twice, with a
// fault at every file operation, and the result read by the index checker and by an
// outside DBF reader.
#include <fstream>

#include "steps/late_firm_steps_support.h"
#include "steps/step_routines.h"

namespace zuv::steps::late_testing {
namespace {

namespace fs = std::filesystem;

// The steps of this family in the dispatcher's order.
const std::pair<const char*, FirmStepFn> kLateSteps[] = {
    {"I_26_01_015", I_26_01_015}, {"I_26_01_016", I_26_01_016}, {"I_26_01_017", I_26_01_017},
    {"I_26_01_018", I_26_01_018}, {"I_26_01_023", I_26_01_023}, {"I_26_01_024", I_26_01_024},
    {"I_26_01_025", I_26_01_025}, {"I_26_01_027", I_26_01_027}, {"I_26_01_029", I_26_01_029},
    {"I_26_01_030", I_26_01_030}, {"I_26_01_033", I_26_01_033}};

class LateStepsRun : public LateFirmStepsTest {
 protected:
  // A firm with a few records in every table the steps touch.
  void fill() {
    add("ksef_bz.dbf", {{{"LPP", T("1")}, {"NIP", T("1111111111")}, {"IS_K", T("1")}, {"TYP_FAK", T("ROZ")},
                         {"BN", T("N")}, {"BRUTTO", N(24.60)}, {"XML", table::Value::of_memo("<a/>")}},
                        {{"LPP", T("2")}, {"NIP", T("2222222222")}, {"IS_K", T("1")}, {"ALL_ZW", T("T")},
                         {"BRUTTO", N(80)}}});
    add("ksef_bza.dbf", {{{"LPPF", T("1")}, {"LP", N(1)}, {"PTU", T("23")}, {"ILOSC", N(2)}, {"CENAN", N(10)},
                          {"DEKRET", T("TOW")}}});
    add("ksef_bzb.dbf", {{{"LPPF", T("1")}, {"DEKRET", T("TOW")}, {"KAS", T("N")}},
                         {{"LPPF", T("1")}, {"DEKRET", T("-")}, {"KAS", T("N")}},
                         {{"LPPF", T("2")}, {"DEKRET", T("STA")}, {"KAS", T("N")}}});
    add("ksef_bs.dbf", {{{"LPP", T("S1")}, {"KRAJ", T("PL")}, {"BRUTTO", N(123)}}});
    add("ksef_bsa.dbf", {{{"LPPF", T("S1")}, {"LP", N(1)}, {"PTU", T("23")}, {"NETTO", N(100)}, {"VAT", N(23)},
                          {"DEKRET", T("SPT")}}});
    add("ks_dok.dbf", {{{"LPP", T("1")}, {"LP", N(1)}, {"TK", T("P")}, {"DATAK", D("20251015")},
                        {"DATA_VAT", D("20251201")}, {"D_DOK", D("20251203")}, {"NR_KSEF", T("K-1")}},
                       {{"LPP", T("2")}, {"LP", N(2)}, {"DATAK", D("20260110")}, {"D_DOK", D("20260105")}}});
    add("ks_kor.dbf", {{{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("12-34")}},
                       {{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("brak")}}});
    add("v_z.dbf", {{{"LPP", T("z1")}, {"LPP_KS", T("1")}}});
    add("rk_200.dbf", {{{"LPP_KS", T("1")}, {"STRONA", T("N")}, {"DATA_D", D("20260105")}}});
    add("vd.dbf", {{{"LPP", T("1")}, {"PZ", T("S")}, {"RMC", T("202601")}, {"DATA", D("20260105")}}});
  }
  void prepare_at(const std::string& version, const std::string& wariant_text) {
    build_firm();
    fill();
    set_version(version, wariant_text);
  }
};

TEST_F(LateStepsRun, OneUpgradeThenTheNextLeaveEveryTableCleanAndReadable) {
  fill();
  // The dispatcher compares with the version it read before the first step.
  const std::string start = recorded();
  for (const auto& [name, step] : kLateSteps) {
    ASSERT_TRUE(run(step, start)) << name;
  }
  EXPECT_EQ(recorded(), "026.01.032");
  // Step 017 found the mark of step 016 and left the dates of 016 alone.
  EXPECT_EQ(value("ks_dok.dbf", 1, "DATAK").text, "20251201");
  EXPECT_EQ(value("ks_dok.dbf", 2, "DATAK").text, "20260110");
  EXPECT_EQ(text("ks_kor.dbf", 1, "MP"), "T");  // "R" by step 016, back by step 029
  EXPECT_EQ(text("ks_kor.dbf", 2, "MP"), "R");
  EXPECT_EQ(text("v_z.dbf", 1, "NR_KSEF"), "K-1");
  EXPECT_EQ(number("ksef_bz.dbf", 2, "ZW"), 80);
  EXPECT_NEAR(number("ksef_bz.dbf", 1, "N23"), 20, 0.001);  // recomputed by 023, totalled by 033
  EXPECT_NEAR(number("ksef_bz.dbf", 1, "N_TOW"), 20, 0.001);

  const auto after_first = dump();
  const std::string next = recorded();
  for (const auto& [name, step] : kLateSteps) {
    ASSERT_TRUE(run(step, next)) << name;
  }
  EXPECT_EQ(recorded(), "026.01.033");
  auto after_second = dump();
  after_second.erase(firm + "wersja.dbf");
  auto first = after_first;
  first.erase(firm + "wersja.dbf");
  EXPECT_EQ(after_second, first);

  std::string checker = zuv::testing::table_tool_path("zuv-dbcheck");
  if (!checker.empty()) {
    std::string out;
    EXPECT_EQ(zuv::testing::table_run({checker, scratch.path()}, &out), 0) << out;
  }
  std::string python = zuv::testing::table_python_with({"dbfread"});
  if (python.empty()) GTEST_SKIP() << "/usr/bin/python3 with dbfread not available";
  std::string script =
      "import dbfread,sys,glob,os\n"
      "n=0\n"
      "for p in sorted(glob.glob(os.path.join(sys.argv[1],'**','*.dbf'),recursive=True)):\n"
      "  t=dbfread.DBF(p,encoding='cp852',ignore_missing_memofile=False,char_decode_errors='strict')\n"
      "  n+=len(list(t))\n"
      "print(n)\n";
  std::string out;
  EXPECT_EQ(zuv::testing::table_run({python, "-c", script, scratch.path()}, &out), 0) << out;
}

// A step forced to run again on the firm it converted (its version record lost, say)
// gives the same data: layout tests, "only when missing" and recomputed totals.
TEST_F(LateStepsRun, AStepRunAgainOnItsOwnResultChangesNothing) {
  const std::pair<FirmStepFn, const char*> repeatable[] = {
      {I_26_01_015, "026.01.013"}, {I_26_01_016, "026.01.015"}, {I_26_01_023, "026.01.018"},
      {I_26_01_024, "026.01.023"}, {I_26_01_025, "026.01.024"}, {I_26_01_027, "026.01.025"},
      {I_26_01_029, "026.01.027"}, {I_26_01_030, "026.01.029"}, {I_26_01_033, "026.01.030"}};
  for (const auto& [step, version] : repeatable) {
    SCOPED_TRACE(version);
    prepare_at(version, std::string(version).substr(7));
    ASSERT_TRUE(run(step, version)) << last_error;
    auto once = dump();
    ASSERT_TRUE(run(step, version)) << last_error;
    auto twice = dump();
    once.erase(firm + "wersja.dbf");
    twice.erase(firm + "wersja.dbf");
    EXPECT_EQ(differences(twice, once), "");
  }
}

// Each step with a fault at every file operation it performs.
TEST_F(LateStepsRun, AFaultAnywhereLeavesTheVersionRecordAsItWas) {
  struct Case {
    FirmStepFn step;
    const char* version;
    const char* wariant;
    bool repeatable;  // the step's record changes may run twice
  };
  const Case cases[] = {{I_26_01_015, "026.01.013", "013", true}, {I_26_01_016, "026.01.015", "015", true},
                        {I_26_01_017, "026.01.016", "016", false}, {I_26_01_018, "026.01.017", "017", false},
                        {I_26_01_023, "026.01.018", "018", true},  {I_26_01_024, "026.01.023", "023", true},
                        {I_26_01_025, "026.01.024", "024", true},  {I_26_01_027, "026.01.025", "025", true},
                        {I_26_01_029, "026.01.027", "027", true},  {I_26_01_030, "026.01.029", "029", true},
                        {I_26_01_033, "026.01.030", "030", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    fault_sweep(std::string("after_") + c.wariant, [&] { prepare_at(c.version, c.wariant); }, c.step, c.repeatable);
  }
}

}  // namespace
}  // namespace zuv::steps::late_testing
