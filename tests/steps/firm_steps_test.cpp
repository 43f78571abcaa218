// Firm steps 001 to 013 (but 007): every branch on a firm built here, expected values
// written out by hand, a second run changing nothing and a forced run giving the same.
#include "steps/firm_step_common.h"
#include "steps/step_routines.h"
#include "steps_fixture.h"

namespace zuv::steps::testing {
namespace {

class FirmSteps : public StepsTest {
 protected:
  void run(void (*step)(StepContext&, const std::string&, const std::string&, const std::string&,
                        const std::string&)) {
    step(ctx, firm, prog, db, recorded_version());
  }
};

TEST(FirmStepVersions, ComparedAsTextWithTheShorterPaddedWithBlanks) {
  EXPECT_TRUE(firm_reached("026.01.005", "026.01.005"));
  EXPECT_TRUE(firm_reached("026.01.005 ", "026.01.005"));
  EXPECT_TRUE(firm_reached("026.01.006", "026.01.005"));
  EXPECT_FALSE(firm_reached("026.01.004", "026.01.005"));
  EXPECT_FALSE(firm_reached("025.01.050", "026.01.001"));
  EXPECT_FALSE(firm_reached("", "026.01.001"));
}

TEST_F(FirmSteps, StepsAtOrBelowTheFirmsVersionChangeNothing) {
  // No tables at all: a step that ran would fail on its first open.
  firm_version("026.01.005");
  for (auto* step : {I_26_01_001, I_26_01_003, I_26_01_005}) {
    EXPECT_TRUE(run_trapped([&] { run(step); }));
  }
  EXPECT_EQ(recorded_version(), "026.01.005");
  EXPECT_FALSE(exists(firm + "ksef_dat.dbf"));
}

TEST_F(FirmSteps, Step001CopiesTheKsefTableAndRecordsItsVersion) {
  firm_version("025.01.099");
  make(db + "str\\ksef_dat.dbf", {{"DATA", 'D', 8, 0}}, {{{"DATA", D("20260201")}}});
  make(firm + "ksef_dat.dbf", {{"STARE", 'C', 1, 0}});
  run(I_26_01_001);
  expect_version("026.01.001", "001");
  EXPECT_EQ(rows(firm + "ksef_dat.dbf").at(0)["DATA"].text, "20260201");
}

TEST_F(FirmSteps, Step001WithoutItsTemplateFailsAndKeepsTheOldVersion) {
  firm_version("025.01.099");
  EXPECT_FALSE(run_trapped([&] { run(I_26_01_001); }));
  EXPECT_EQ(recorded_version(), "025.01.099");
}

TEST_F(FirmSteps, Step003AddsKsefFieldsAndKeepsJpkPeriodsFromOctober2020) {
  firm_version("026.01.001");
  make(firm + "firma.dbf", {{"NAZWA", 'C', 20, 0}, {"KSEF_RULES", 'C', 6, 0}}, {{{"NAZWA", C("Firma")}}});
  Structure inne;
  for (int i = 1; i <= 12; ++i) inne.push_back({"P" + std::to_string(i), 'C', 2, 0});
  inne.push_back({"RMC", 'C', 6, 0});
  inne.push_back({"TYP", 'C', 2, 0});  // 14 fields: fewer than 15
  make(firm + "v_inne.dbf", inne, {{{"RMC", C("202601")}, {"TYP", C("AB")}}});
  const Structure old_jpk = {{"RMC", 'C', 6, 0}, {"NRK", 'C', 10, 0}, {"GRUPA", 'C', 2, 0},
                             {"DATA_DOK", 'D', 8, 0}, {"KAS", 'C', 1, 0}, {"KWOTA", 'N', 12, 2}};
  Structure new_jpk = old_jpk;
  new_jpk.push_back({"KSEF", 'C', 36, 0});
  for (const char* t : {"v_jpke.dbf", "v_jpkd.dbf", "v7_jpk.dbf"}) {
    make(db + "str\\" + t, new_jpk);
    make(firm + t, old_jpk,
         {{{"RMC", C("202009")}, {"NRK", C("1")}, {"KWOTA", N(1)}},
          {{"RMC", C("202010")}, {"NRK", C("2")}, {"KWOTA", N(2.5)}, {"DATA_DOK", D("20201005")}},
          {{"RMC", C("202512")}, {"NRK", C("3")}, {"KWOTA", N(3)}},
          {{"NRK", C("4")}}});  // no period: before October 2020 too
  }
  run(I_26_01_003);
  expect_version("026.01.003", "003");
  EXPECT_EQ(rows(firm + "firma.dbf").at(0)["KSEF_RULES"].text, "202604");
  Structure inne_after = structure(firm + "v_inne.dbf");
  ASSERT_EQ(inne_after.size(), 16u);
  EXPECT_EQ(inne_after[14], (Field{"NR_KSEF", 'C', 36, 0}));
  EXPECT_EQ(inne_after[15], (Field{"KSEF_SERW", 'C', 1, 0}));
  for (const char* t : {"v_jpke.dbf", "v_jpkd.dbf", "v7_jpk.dbf"}) {
    EXPECT_EQ(structure(firm + t), new_jpk) << t;
    auto r = rows(firm + t);
    ASSERT_EQ(r.size(), 2u) << t;
    EXPECT_EQ(r[0]["RMC"].text, "202010");
    EXPECT_DOUBLE_EQ(r[0]["KWOTA"].number, 2.5);
    EXPECT_EQ(r[0]["DATA_DOK"].text, "20201005");
    EXPECT_EQ(r[1]["RMC"].text, "202512");
    EXPECT_FALSE(exists(prog + "temp\\" + t));
    EXPECT_TRUE(exists(firm + std::string(t).replace(std::string(t).size() - 3, 3, "cdx")));
  }
  EXPECT_TRUE(exists(firm + "v_inne.cdx"));

  // Again: the version record stops it. Forced: the same tables.
  auto once = snapshot(firm);
  run(I_26_01_003);
  EXPECT_EQ(snapshot(firm), once);
  I_26_01_003(ctx, firm, prog, db, "026.01.001");
  EXPECT_EQ(snapshot(firm), once);
}

TEST_F(FirmSteps, Step003OnAFailingDiskNeverRecordsTheVersionWithoutTheWork) {
  const Structure jpk = {{"RMC", 'C', 6, 0}, {"NRK", 'C', 10, 0}, {"GRUPA", 'C', 2, 0}, {"DATA_DOK", 'D', 8, 0},
                         {"KAS", 'C', 1, 0}};
  for (const char* t : {"v_jpke.dbf", "v_jpkd.dbf", "v7_jpk.dbf"}) make(db + "str\\" + t, jpk);
  every_fault(
      [&] {
        firm_version("026.01.001");
        make(firm + "firma.dbf", {{"KSEF_RULES", 'C', 6, 0}}, std::vector<Row>{Row{}});
        make(firm + "v_inne.dbf", {{"RMC", 'C', 6, 0}, {"TYP", 'C', 2, 0}}, {{{"RMC", C("202601")}}});
        for (const char* t : {"v_jpke.dbf", "v_jpkd.dbf", "v7_jpk.dbf"})
          make(firm + t, jpk, {{{"RMC", C("202009")}}, {{"RMC", C("202010")}, {"NRK", C("7")}}});
      },
      [&] { run(I_26_01_003); }, "026.01.003");
}

TEST_F(FirmSteps, Step005SetsLumpSumPartnersBasesAtTheThresholds) {
  firm_version("026.01.003");
  make(firm + "firma.dbf", {{"RYCZALT", 'C', 1, 0}, {"KSEF_SERW", 'C', 1, 0}}, {{{"RYCZALT", C("R")}}});
  auto partner = [](const char* gzus, double prz52, double p52) {
    return Row{{"GZUS", C(gzus)}, {"PRZ52", N(prz52)}, {"P52", N(p52)}};
  };
  make(firm + "wspolnik.dbf", {{"GZUS", 'C', 1, 0}, {"PRZ52", 'N', 12, 2}, {"P52", 'N', 10, 2}},
       {partner("T", 60000, 1), partner("T", 60000.01, 1), partner("T", 300000, 1), partner("T", 300000.01, 1),
        partner("T", 1, 1), partner("T", 50000, 0), partner("N", 50000, 7), partner("T", 0, 7)});
  run(I_26_01_005);
  expect_version("026.01.005", "005");
  auto r = rows(firm + "wspolnik.dbf");
  const double expected[] = {5537.18, 9228.64, 9228.64, 16611.55, 5537.18, 0, 7, 7};
  ASSERT_EQ(r.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_DOUBLE_EQ(r[i]["P52"].number, expected[i]) << i;
  }
  EXPECT_EQ(rows(firm + "firma.dbf").at(0)["KSEF_SERW"].text, "P");

  auto once = snapshot(firm);
  I_26_01_005(ctx, firm, prog, db, "026.01.003");
  EXPECT_EQ(snapshot(firm), once);
}

TEST_F(FirmSteps, Step005LeavesPartnersOfOtherFirmsAlone) {
  firm_version("026.01.003");
  make(firm + "firma.dbf", {{"RYCZALT", 'C', 1, 0}, {"KSEF_SERW", 'C', 1, 0}}, {{{"RYCZALT", C(" ")}}});
  make(firm + "wspolnik.dbf", {{"GZUS", 'C', 1, 0}, {"PRZ52", 'N', 12, 2}, {"P52", 'N', 10, 2}},
       {{{"GZUS", C("T")}, {"PRZ52", N(1000)}, {"P52", N(9)}}});
  run(I_26_01_005);
  EXPECT_DOUBLE_EQ(rows(firm + "wspolnik.dbf").at(0)["P52"].number, 9);
  EXPECT_EQ(rows(firm + "firma.dbf").at(0)["KSEF_SERW"].text, "P");
}

TEST_F(FirmSteps, Step006AddsTheMethodFieldOnlyToTheOldLayout) {
  auto firma = [](int fields) {
    Structure s;
    for (int i = 1; i <= fields; ++i) s.push_back({"F" + std::to_string(i), 'C', 1, 0});
    return s;
  };
  firm_version("026.01.005");
  make(firm + "firma.dbf", firma(145), {{{"F1", C("x")}}});
  run(I_26_01_006);
  expect_version("026.01.006", "006");
  Structure s = structure(firm + "firma.dbf");
  ASSERT_EQ(s.size(), 146u);
  EXPECT_EQ(s.back(), (Field{"METODA_ZD", 'N', 1, 0}));
  EXPECT_EQ(rows(firm + "firma.dbf").at(0)["F1"].text, "x");

  // 146 fields already: the release's layout, nothing added.
  make(firm + "firma.dbf", firma(146));
  I_26_01_006(ctx, firm, prog, db, "026.01.005");
  EXPECT_EQ(structure(firm + "firma.dbf").size(), 146u);
}

TEST_F(FirmSteps, Step012AddsRfLinesForDocumentsWithoutAnActiveOne) {
  firm_version("026.01.007");
  make(firm + "ks_ref.dbf", {{"LPP", 'C', 6, 0}, {"NETTO", 'N', 12, 2}, {"BRUTTO", 'N', 12, 2}, {"VAT", 'N', 12, 2}},
       {{{"LPP", C("000001")}, {"NETTO", N(100)}, {"BRUTTO", N(108)}, {"VAT", N(8)}},
        {{"LPP", C("000002")}, {"NETTO", N(200)}, {"BRUTTO", N(216)}, {"VAT", N(16)}},
        {{"LPP", C("000003")}, {"NETTO", N(300)}, {"BRUTTO", N(324)}, {"VAT", N(24)}},
        {{"LPP", C("000004")}, {"NETTO", N(400)}, {"BRUTTO", N(432)}, {"VAT", N(32)}}});
  const Structure ptu = {{"PLIK", 'C', 2, 0}, {"LPP_G", 'C', 6, 0}, {"KOR", 'C', 1, 0}, {"KAS", 'C', 1, 0},
                         {"P1", 'C', 2, 0},   {"P2", 'C', 2, 0},    {"KN", 'N', 12, 2}, {"KB", 'N', 12, 2},
                         {"KV", 'N', 12, 2}};
  make(firm + "vat_ptu.dbf", ptu,
       {{{"PLIK", C("RF")}, {"LPP_G", C("000002")}, {"KOR", C("N")}, {"KAS", C("T")}},
        {{"PLIK", C("RF")}, {"LPP_G", C("000003")}, {"KOR", C("A")}, {"KAS", C("T")}},
        {{"PLIK", C("RF")}, {"LPP_G", C("000003")}, {"KOR", C("N")}, {"KAS", C("N")}},
        {{"PLIK", C("RF")}, {"LPP_G", C("000004")}, {"KOR", C("N")}, {"KAS", C("N")}},
        {{"PLIK", C("RS")}, {"LPP_G", C("000001")}, {"KOR", C("N")}, {"KAS", C("N")}}});
  run(I_26_01_012);
  expect_version("026.01.012", "012");
  auto r = rows(firm + "vat_ptu.dbf");
  ASSERT_EQ(r.size(), 7u);
  for (size_t i : {5u, 6u}) {
    EXPECT_EQ(r[i]["PLIK"].text, "RF");
    EXPECT_EQ(r[i]["KAS"].text, "N");
    EXPECT_EQ(r[i]["KOR"].text, "N");
    EXPECT_EQ(r[i]["P1"].text, " 8");
    EXPECT_EQ(r[i]["P2"].text, " 8");
  }
  EXPECT_EQ(r[5]["LPP_G"].text, "000001");
  EXPECT_DOUBLE_EQ(r[5]["KN"].number, 100);
  EXPECT_DOUBLE_EQ(r[5]["KB"].number, 108);
  EXPECT_DOUBLE_EQ(r[5]["KV"].number, 8);
  EXPECT_EQ(r[6]["LPP_G"].text, "000002");
  EXPECT_DOUBLE_EQ(r[6]["KN"].number, 200);
  EXPECT_TRUE(exists(firm + "vat_ptu.cdx"));

  // Forced again: every document now has an active line, nothing more is added.
  I_26_01_012(ctx, firm, prog, db, "026.01.007");
  EXPECT_EQ(rows(firm + "vat_ptu.dbf").size(), 7u);
}

TEST_F(FirmSteps, Step013FillsPurchaseTotalsOfFirmsWithOssSales) {
  firm_version("026.01.012");
  make(firm + "firma.dbf", {{"RYCZALT", 'C', 1, 0}}, {{{"RYCZALT", C(" ")}}});
  Structure oss;
  for (int i = 1; i <= 80; ++i) oss.push_back({"F" + std::to_string(i), 'C', 10, 0});
  make(firm + "v_oss.dbf", oss, {{{"F1", C("x")}}});  // over 2000 bytes
  auto doc = [](const char* tk, const char* p35, double k1, double k2, double k3) {
    return Row{{"TK", C(tk)}, {"P35", C(p35)}, {"KWOTA1", N(k1)}, {"KWOTA2", N(k2)}, {"KWOTA3", N(k3)}};
  };
  make(firm + "ks_dok.dbf",
       {{"LPP", 'C', 6, 0}, {"TM", 'C', 2, 0}, {"DATAK", 'D', 8, 0}, {"TK", 'C', 1, 0}, {"P35", 'C', 1, 0},
        {"KWOTA1", 'N', 12, 2}, {"KWOTA2", 'N', 12, 2}, {"KWOTA3", 'N', 12, 2}},
       {doc("P", "X", 10.10, 2.02, 0), doc("P", " ", 1, 2, 0), doc("P", "N", 1, 2, 0), doc("P", "A", 1, 2, 0),
        doc("S", "X", 1, 2, 0), doc("P", "X", 1, 2, 5)});
  run(I_26_01_013);
  expect_version("026.01.013", "013");
  auto r = rows(firm + "ks_dok.dbf");
  const double expected[] = {12.12, 3, 0, 0, 0, 5};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_DOUBLE_EQ(r[i]["KWOTA3"].number, expected[i]) << i;
  }
  EXPECT_TRUE(exists(firm + "ks_dok.cdx"));
}

TEST_F(FirmSteps, Step013LeavesLumpSumFirmsAndFirmsWithoutOssSales) {
  firm_version("026.01.012");
  make(firm + "firma.dbf", {{"RYCZALT", 'C', 1, 0}}, {{{"RYCZALT", C("r")}}});
  Structure oss;
  for (int i = 1; i <= 80; ++i) oss.push_back({"F" + std::to_string(i), 'C', 10, 0});
  make(firm + "v_oss.dbf", oss, {{{"F1", C("x")}}});
  make(firm + "ks_dok.dbf", {{"TK", 'C', 1, 0}, {"P35", 'C', 1, 0}, {"KWOTA1", 'N', 12, 2}, {"KWOTA2", 'N', 12, 2},
                             {"KWOTA3", 'N', 12, 2}},
       {{{"TK", C("P")}, {"P35", C("X")}, {"KWOTA1", N(1)}, {"KWOTA2", N(1)}}});
  run(I_26_01_013);
  expect_version("026.01.013", "013");
  EXPECT_DOUBLE_EQ(rows(firm + "ks_dok.dbf").at(0)["KWOTA3"].number, 0);

  firm_version("026.01.012");
  make(firm + "firma.dbf", {{"RYCZALT", 'C', 1, 0}}, {{{"RYCZALT", C(" ")}}});
  make(firm + "v_oss.dbf", {{"F1", 'C', 10, 0}});  // small: no OSS sales
  run(I_26_01_013);
  EXPECT_DOUBLE_EQ(rows(firm + "ks_dok.dbf").at(0)["KWOTA3"].number, 0);
}

}  // namespace
}  // namespace zuv::steps::testing
