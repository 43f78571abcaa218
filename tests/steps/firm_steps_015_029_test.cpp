// Firm steps 015-029 on firms built by the test: every branch, values worked out by hand.
#include "steps/late_firm_steps_support.h"
#include "steps/step_routines.h"

namespace zuv::steps::late_testing {
namespace {

class Steps015To029 : public LateFirmStepsTest {
 protected:
  // Purchase documents and booking lines taking every branch of the counters.
  void purchases_for_counters() {
    add("ksef_bz.dbf", {{{"LPP", T("1")}, {"NIP", T("1111111111")}, {"IS_K", T("1")}},
                        {{"LPP", T("2")}, {"NIP", T("2222222222")}, {"IS_K", T("0")}},
                        {{"LPP", T("3")}, {"NIP", T("  ")}, {"IS_K", T("1")}},
                        {{"LPP", T("4")}, {"NIP", T(" 3333333333")}, {"IS_K", T("1")}},
                        {{"LPP", T("5")}, {"NIP", T("111111111")}, {"IS_K", T("1")}}});
    add("ksef_bzb.dbf", {{{"LPPF", T("1")}, {"DEKRET", T("STA")}, {"KAS", T("N")}},   // +1 STA
                         {{"LPPF", T("1")}, {"DEKRET", T("TOW")}, {"KAS", T("N")}},   // +2 TOW
                         {{"LPPF", T("1")}, {"DEKRET", T("TOW")}, {"KAS", T("T")}},   // cancelled
                         {{"LPPF", T("1")}, {"DEKRET", T("XYZ")}, {"KAS", T("N")}},   // no category
                         {{"LPPF", T("2")}, {"DEKRET", T("STS")}, {"KAS", T("N")}},   // not in KSeF
                         {{"LPPF", T("3")}, {"DEKRET", T("STS")}, {"KAS", T("N")}},   // no tax number
                         {{"LPPF", T("9")}, {"DEKRET", T("STS")}, {"KAS", T("N")}},   // no document
                         {{"LPPF", T("4")}, {"DEKRET", T("MAG")}, {"KAS", T("N")}},   // +2 MAG
                         {{"LPPF", T("4")}, {"DEKRET", T("STA")}, {"KAS", T("")}},    // +1 STA
                         {{"LPPF", T("4")}, {"DEKRET", T("MAG")}, {"KAS", T("N")}},   // +2 MAG
                         {{"LPPF", T("5")}, {"DEKRET", T("STS")}, {"KAS", T("N")}}}); // +2 STS, own record
  }
  double counter(std::uint32_t recno, const std::string& code) { return number("ksef_nip.dbf", recno, "K_" + code); }
};

TEST_F(Steps015To029, Step015CountsPurchaseLinesPerTaxpayerAndCategory) {
  purchases_for_counters();
  ASSERT_TRUE(run(I_26_01_015));

  ASSERT_EQ(record_count("ksef_nip.dbf"), 4u);
  EXPECT_EQ(text("ksef_nip.dbf", 1, "NIP"), "0000000000");
  for (const char* c : {"STS", "STA", "TOW", "MAG"}) {
    EXPECT_EQ(counter(1, c), 0) << c;
  }
  EXPECT_EQ(text("ksef_nip.dbf", 2, "NIP"), "1111111111");
  EXPECT_EQ(counter(2, "STA"), 1);
  EXPECT_EQ(counter(2, "TOW"), 2);
  EXPECT_EQ(counter(2, "STS"), 0);
  EXPECT_EQ(text("ksef_nip.dbf", 3, "NIP"), "3333333333");
  EXPECT_EQ(counter(3, "MAG"), 4);
  EXPECT_EQ(counter(3, "STA"), 1);
  // A nine-digit number is a taxpayer of its own, not the ten-digit one it begins.
  EXPECT_EQ(text("ksef_nip.dbf", 4, "NIP"), "111111111");
  EXPECT_EQ(counter(4, "STS"), 2);
  EXPECT_EQ(counter(2, "STS"), 0);

  // KSeF parameters of the release, the switches at "0".
  EXPECT_EQ(field_count("ksef_p.dbf"), 23);
  EXPECT_EQ(text("ksef_p.dbf", 1, "WN"), "0");
  EXPECT_EQ(text("ksef_p.dbf", 1, "WK"), "0");
  EXPECT_EQ(text("ksef_p.dbf", 1, "NAZWA"), "");
  EXPECT_EQ(text("ksef_p.dbf", 1, "TYP_VAT"), "V1");
  EXPECT_EQ(recorded(), "026.01.015");
  EXPECT_EQ(wariant(), "015");
}

TEST_F(Steps015To029, Step015StartsTheCountersAgainAndKeepsAFilledSummary) {
  purchases_for_counters();
  Row stale = {{"NIP", T("1111111111")}, {"K_STS", N(5)}, {"K_STA", N(7)}};
  add("ksef_nip.dbf", {stale});
  ASSERT_TRUE(run(I_26_01_015));
  ASSERT_EQ(record_count("ksef_nip.dbf"), 3u);  // no "0000000000" record for a filled table
  EXPECT_EQ(text("ksef_nip.dbf", 1, "NIP"), "1111111111");
  EXPECT_EQ(counter(1, "STS"), 0);
  EXPECT_EQ(counter(1, "STA"), 1);
  EXPECT_EQ(counter(1, "TOW"), 2);
}

TEST_F(Steps015To029, Step015And024LeaveTheReleasesKsefParametersAlone) {
  build_firm();
  std::filesystem::remove(std::filesystem::path(scratch.path()) / "firma1" / "ksef_p.dbf");
  table::Structure p = padded({{"TYP_VAT", 'C', 2, 0}, {"TYP_ZAL", 'C', 2, 0}}, 23);
  make("ksef_p.dbf", p, {{{"TYP_VAT", T("V1")}}});
  const std::string bytes = zuv::testing::table_read_bytes(scratch.file("firma1/ksef_p.dbf"));
  ASSERT_TRUE(run(I_26_01_015));
  ASSERT_TRUE(run(I_26_01_024));
  EXPECT_EQ(zuv::testing::table_read_bytes(scratch.file("firma1/ksef_p.dbf")), bytes);
  EXPECT_EQ(recorded(), "026.01.024");
}

TEST_F(Steps015To029, Step024AddsTheParametersToAnOldTable) {
  ASSERT_TRUE(run(I_26_01_024, "026.01.023"));
  EXPECT_EQ(field_count("ksef_p.dbf"), 23);
  EXPECT_EQ(text("ksef_p.dbf", 1, "WA"), "0");
  EXPECT_EQ(text("ksef_p.dbf", 1, "TYP_ZAL"), "Z2");
  EXPECT_EQ(wariant(), "024");
}

// Documents of 2025 around the last closed date L = 2025-11-30.
TEST_F(Steps015To029, Step016MovesBookingDatesBefore2026NotBelowTheLastClosedDate) {
  add("ks_dok.dbf",
      {{{"LPP", T("a")}, {"DATAK", D("20251015")}, {"DATA_VAT", D("20251020")}, {"D_DOK", D("20251210")}},
       {{"LPP", T("b")}, {"DATAK", D("20251201")}, {"DATA_VAT", D("20251205")}, {"D_DOK", D("20251210")}},
       {{"LPP", T("c")}, {"DATAK", D("20251201")}, {"DATA_VAT", D("20251220")}, {"D_DOK", D("20251202")}},
       {{"LPP", T("d")}, {"DATAK", D("20260105")}, {"DATA_VAT", D("20251101")}, {"D_DOK", D("20251101")}},
       {{"LPP", T("e")}, {"DATAK", D("20251120")}, {"DATA_VAT", D("20251205")}, {"D_DOK", D("")}},
       {{"LPP", T("f")}, {"DATAK", D("")}, {"DATA_VAT", D("20251203")}, {"D_DOK", D("20251204")}},
       {{"LPP", T("g")}, {"DATAK", D("20251231")}, {"DATA_VAT", D("20251101")}, {"D_DOK", D("20251102")}}});
  add("ks_kor.dbf", {{{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("PL 123-456-78-9")}},
                     {{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("123-456-78-90")}},
                     {{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("T")}, {"NIP", T("123")}},
                     {{"MP", T("T")}, {"C2", T("N")}, {"STRONA", T("N")}, {"NIP", T("1")}},
                     {{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("brak")}},
                     {{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("12345678901")}}});
  ASSERT_TRUE(run(I_26_01_016, "026.01.015"));
  auto datak = [&](std::uint32_t r) { return value("ks_dok.dbf", r, "DATAK").text; };
  EXPECT_EQ(datak(1), "20251130");  // VAT date before L, document date after: L
  EXPECT_EQ(datak(2), "20251205");  // the VAT date, the earlier of the two after L
  EXPECT_EQ(datak(3), "20251202");  // the document date, earlier than the VAT date
  EXPECT_EQ(datak(4), "20260105");  // already in 2026
  EXPECT_EQ(datak(5), "20251130");  // no document date: L
  EXPECT_EQ(datak(6), "20251203");  // an empty booking date is before 2026
  EXPECT_EQ(datak(7), "20251130");  // both dates before L: L

  EXPECT_EQ(text("ks_kor.dbf", 1, "MP"), "R");  // nine digits among other characters
  EXPECT_EQ(text("ks_kor.dbf", 2, "MP"), "T");  // ten digits
  EXPECT_EQ(text("ks_kor.dbf", 3, "MP"), "T");  // other side
  EXPECT_EQ(text("ks_kor.dbf", 4, "MP"), "T");  // c2 not "T"
  EXPECT_EQ(text("ks_kor.dbf", 5, "MP"), "R");  // no digit at all
  EXPECT_EQ(text("ks_kor.dbf", 6, "MP"), "R");  // eleven digits

  // The next step's number, so that step 017 of the same run changes nothing.
  EXPECT_EQ(recorded(), "026.01.017");
  EXPECT_EQ(wariant(), "017");
  const auto after016 = dump();
  ASSERT_TRUE(run(I_26_01_017, "026.01.015"));
  EXPECT_EQ(dump(), after016);

  // Step 029 gives back the "T" of an entry whose tax number has digits.
  ASSERT_TRUE(run(I_26_01_029, "026.01.028"));
  EXPECT_EQ(text("ks_kor.dbf", 1, "MP"), "T");
  EXPECT_EQ(text("ks_kor.dbf", 5, "MP"), "R");
  EXPECT_EQ(text("ks_kor.dbf", 6, "MP"), "T");
  EXPECT_EQ(recorded(), "026.01.029");
}

TEST_F(Steps015To029, Step029TurnsOnlyItsOwnEntriesBack) {
  add("ks_kor.dbf", {{{"MP", T("R")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("x1")}},
                     {{"MP", T("R")}, {"C2", T("T")}, {"STRONA", T("T")}, {"NIP", T("12")}},
                     {{"MP", T("R")}, {"C2", T("N")}, {"STRONA", T("N")}, {"NIP", T("12")}},
                     {{"MP", T("R")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("")}}});
  ASSERT_TRUE(run(I_26_01_029, "026.01.027"));
  EXPECT_EQ(text("ks_kor.dbf", 1, "MP"), "T");
  EXPECT_EQ(text("ks_kor.dbf", 2, "MP"), "R");
  EXPECT_EQ(text("ks_kor.dbf", 3, "MP"), "R");
  EXPECT_EQ(text("ks_kor.dbf", 4, "MP"), "R");
}

TEST_F(Steps015To029, Step017ResequencesBookingDatesOf2026ByDocumentNumber) {
  set_version("026.01.016", "016");
  change("data.dbf", 1, {{"LAST_DAT", D("20260110")}});
  // Record order differs from number order; P starts at 2026-01-01.
  add("ks_dok.dbf",
      {{{"LP", N(3)}, {"TK", T("P")}, {"DATAK", D("20260120")}, {"DATA_VAT", D("20251231")}, {"D_DOK", D("20260215")},
        {"DATA_ZAPL", D("20260301")}},                                                            // D = L -> P (2026-01-08)
       {{"LP", N(1)}, {"TK", T("K")}, {"DATAK", D("20260110")}},                                 // D = L -> P (2026-01-01)
       {{"LP", N(2)}, {"TK", T("K")}, {"DATAK", D("20260111")}, {"D_DOK", D("20260108")}},       // 2026-01-08, P moves
       {{"LP", N(0)}, {"TK", T("K")}, {"DATAK", D("20260120")}, {"D_DOK", D("20260102")}},       // no number: left
       {{"LP", N(4)}, {"TK", T("K")}, {"DATAK", D("20260105")}, {"D_DOK", D("20260102")}},       // before L: left
       {{"LP", N(5)}, {"TK", T("P")}, {"DATAK", D("20260112")}, {"DATA_VAT", D("20260109")},
        {"D_DOK", D("20260102")}},                                                                // 2026-01-02, P stays
       {{"LP", N(6)}, {"TK", T("K")}, {"DATAK", D("20260115")}, {"DATA_ZAPL", D("20260109")}}}); // 2026-01-09
  ASSERT_TRUE(run(I_26_01_017));
  auto datak = [&](std::uint32_t r) { return value("ks_dok.dbf", r, "DATAK").text; };
  EXPECT_EQ(datak(1), "20260108");
  EXPECT_EQ(datak(2), "20260101");
  EXPECT_EQ(datak(3), "20260108");
  EXPECT_EQ(datak(4), "20260120");
  EXPECT_EQ(datak(5), "20260105");
  EXPECT_EQ(datak(6), "20260102");
  EXPECT_EQ(datak(7), "20260109");
  EXPECT_EQ(recorded(), "026.01.017");
  EXPECT_EQ(wariant(), "017");
}

TEST_F(Steps015To029, Steps016And017KeepBookingDatesOfAFirmWithoutAClosedPeriod) {
  change("data.dbf", 1, {{"LAST_DAT", D("")}});
  add("ks_dok.dbf", {{{"LP", N(1)}, {"DATAK", D("20251015")}, {"DATA_VAT", D("")}, {"D_DOK", D("20251010")}},
                     {{"LP", N(2)}, {"DATAK", D("20260120")}, {"D_DOK", D("20260105")}}});
  add("ks_kor.dbf", {{{"MP", T("T")}, {"C2", T("T")}, {"STRONA", T("N")}, {"NIP", T("1")}}});
  ASSERT_TRUE(run(I_26_01_016, "026.01.015"));
  EXPECT_EQ(value("ks_dok.dbf", 1, "DATAK").text, "20251015");
  EXPECT_EQ(text("ks_kor.dbf", 1, "MP"), "R");  // the markers are corrected all the same
  set_version("026.01.016", "016");
  ASSERT_TRUE(run(I_26_01_017));
  EXPECT_EQ(value("ks_dok.dbf", 2, "DATAK").text, "20260120");
  EXPECT_EQ(recorded(), "026.01.017");
}

TEST_F(Steps015To029, Step018ExchangesTheTwoTypesOnce) {
  set_version("026.01.017", "017");
  ASSERT_TRUE(run(I_26_01_018));
  EXPECT_EQ(text("ksef_p.dbf", 1, "TYP_VAT"), "Z2");
  EXPECT_EQ(text("ksef_p.dbf", 1, "TYP_ZAL"), "V1");
  EXPECT_EQ(recorded(), "026.01.018");
  ASSERT_TRUE(run(I_26_01_018));  // the version record keeps it from running again
  EXPECT_EQ(text("ksef_p.dbf", 1, "TYP_VAT"), "Z2");
}

TEST_F(Steps015To029, Step023CancelsUnbookedLinesAndRecomputesSettlementInvoices) {
  add("ksef_bzb.dbf", {{{"LPPF", T("1")}, {"DEKRET", T("-")}, {"KAS", T("N")}},
                       {{"LPPF", T("1")}, {"DEKRET", T("")}, {"KAS", T("N")}},
                       {{"LPPF", T("1")}, {"DEKRET", T("A-B")}, {"KAS", T("N")}},
                       {{"LPPF", T("1")}, {"DEKRET", T("STA")}, {"KAS", T("N")}}});
  add("ksef_bz.dbf", {{{"LPP", T("1")}, {"TYP_FAK", T("ROZ")}, {"BN", T("N")}},
                      {{"LPP", T("2")}, {"TYP_FAK", T("VAT_ROZ")}, {"BN", T("B")}},
                      {{"LPP", T("10")}, {"TYP_FAK", T("VAT")}, {"BN", T("N")}}});
  auto line = [](const char* doc, int lp, const char* ptu, double ilosc, double cenan, double cenab) {
    return Row{{"LPPF", T(doc)}, {"LP", N(lp)}, {"PTU", T(ptu)}, {"ILOSC", N(ilosc)}, {"CENAN", N(cenan)},
               {"CENAB", N(cenab)}, {"NETTO", N(1)}, {"VAT", N(1)}, {"BRUTTO", N(2)}};
  };
  add("ksef_bza.dbf", {line("10", 1, "23", 5, 5, 5),          // document not settled: left as it was
                       line("1", 1, "23", 2, 10, 0),          // 20.00 + 4.60 = 24.60
                       line("1", 2, " 8", 3, 0.333, 0),       // 0.999 -> 1.00, VAT 0.08
                       line("1", 3, "23", 1, 0.125, 0),       // 0.125 -> 0.13, VAT 0.0299 -> 0.03
                       line("2", 1, "23", 2, 0, 12.30),       // gross 24.60, VAT 4.60, net 20.00
                       line("2", 2, "ZW", 1, 0, 100)});       // exempt: VAT 0
  ASSERT_TRUE(run(I_26_01_023, "026.01.018"));
  EXPECT_EQ(text("ksef_bzb.dbf", 1, "KAS"), "T");
  EXPECT_EQ(text("ksef_bzb.dbf", 2, "KAS"), "T");
  EXPECT_EQ(text("ksef_bzb.dbf", 3, "KAS"), "T");
  EXPECT_EQ(text("ksef_bzb.dbf", 4, "KAS"), "N");

  struct Expect { double netto, vat, brutto; };
  const Expect expected[] = {{1, 1, 2}, {20.00, 4.60, 24.60}, {1.00, 0.08, 1.08}, {0.13, 0.03, 0.16},
                             {20.00, 4.60, 24.60}, {100, 0, 100}};
  for (std::uint32_t r = 1; r <= 6; ++r) {
    SCOPED_TRACE("line " + std::to_string(r));
    EXPECT_DOUBLE_EQ(number("ksef_bza.dbf", r, "NETTO"), expected[r - 1].netto);
    EXPECT_DOUBLE_EQ(number("ksef_bza.dbf", r, "VAT"), expected[r - 1].vat);
    EXPECT_DOUBLE_EQ(number("ksef_bza.dbf", r, "BRUTTO"), expected[r - 1].brutto);
    if (r > 1) {
      EXPECT_DOUBLE_EQ(number("ksef_bza.dbf", r, "NETTO_U"), expected[r - 1].netto);
      EXPECT_DOUBLE_EQ(number("ksef_bza.dbf", r, "VAT_U"), expected[r - 1].vat);
    }
  }
  EXPECT_EQ(recorded(), "026.01.023");
}

TEST_F(Steps015To029, Step025AddsKsefNumbersToTheOldSalesRegisterOnly) {
  ASSERT_TRUE(run(I_26_01_025, "026.01.024"));
  EXPECT_EQ(field_count("vd.dbf"), 82);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(scratch.path()) / "firma1" / "vd.cdx"));
  EXPECT_EQ(recorded(), "026.01.025");

  build_firm();
  std::filesystem::remove(std::filesystem::path(scratch.path()) / "firma1" / "vd.dbf");
  make("vd.dbf", padded({{"LPP", 'C', 10, 0}, {"PZ", 'C', 1, 0}, {"RMC", 'C', 6, 0}, {"DATA", 'D', 8, 0}}, 83), {});
  ASSERT_TRUE(run(I_26_01_025, "026.01.024"));
  EXPECT_EQ(field_count("vd.dbf"), 83);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(scratch.path()) / "firma1" / "vd.cdx"));
  EXPECT_EQ(recorded(), "026.01.025");
}

TEST_F(Steps015To029, Step027FillsEmptyKsefNumbersOfThePurchaseRegister) {
  add("ks_dok.dbf", {{{"LPP", T("1")}, {"NR_KSEF", T("KSEF-1")}, {"KSEF_SERW", T("P")}},
                     {{"LPP", T("2")}, {"NR_KSEF", T("KSEF-2")}, {"KSEF_SERW", T("P")}},
                     {{"LPP", T("3")}, {"NR_KSEF", T("")}, {"KSEF_SERW", T("P")}},
                     {{"LPP", T("4")}, {"NR_KSEF", T("KSEF-4")}, {"KSEF_SERW", T("T")}},
                     {{"LPP", T("5")}, {"NR_KSEF", T("KSEF-5")}, {"KSEF_SERW", T("T")}}});
  add("v_z.dbf", {{{"LPP", T("z1")}, {"LPP_KS", T("10")}},                          // another document
                  {{"LPP", T("z2")}, {"LPP_KS", T("1")}},                           // gets KSEF-1
                  {{"LPP", T("z3")}, {"LPP_KS", T("2")}, {"NR_KSEF", T("STARY")}},  // keeps its own
                  {{"LPP", T("z4")}, {"LPP_KS", T("3")}},                           // document without one
                  {{"LPP", T("z5")}, {"LPP_KS", T("5")}},                           // first of the key
                  {{"LPP", T("z6")}, {"LPP_KS", T("5")}}});
  ASSERT_TRUE(run(I_26_01_027, "026.01.025"));
  EXPECT_EQ(text("v_z.dbf", 1, "NR_KSEF"), "");
  EXPECT_EQ(text("v_z.dbf", 2, "NR_KSEF"), "KSEF-1");
  EXPECT_EQ(text("v_z.dbf", 2, "KSEF_SERW"), "P");
  EXPECT_EQ(text("v_z.dbf", 3, "NR_KSEF"), "STARY");
  EXPECT_EQ(text("v_z.dbf", 4, "NR_KSEF"), "");
  EXPECT_EQ(text("v_z.dbf", 5, "NR_KSEF"), "KSEF-5");
  EXPECT_EQ(text("v_z.dbf", 5, "KSEF_SERW"), "T");
  EXPECT_EQ(text("v_z.dbf", 6, "NR_KSEF"), "");
  EXPECT_EQ(recorded(), "026.01.027");
}

TEST_F(Steps015To029, EveryStepReturnsAtOnceForAFirmThatReachedIt) {
  purchases_for_counters();
  set_version("026.01.030", "030");
  const auto before = dump();
  for (FirmStepFn step : {I_26_01_015, I_26_01_016, I_26_01_017, I_26_01_018, I_26_01_023, I_26_01_024, I_26_01_025,
                          I_26_01_027, I_26_01_029})
    ASSERT_TRUE(run(step));
  EXPECT_EQ(dump(), before);
}

TEST_F(Steps015To029, AMissingTableStopsTheStepBeforeItsVersion) {
  std::filesystem::remove(std::filesystem::path(scratch.path()) / "firma1" / "ks_kor.dbf");
  EXPECT_FALSE(run(I_26_01_029, "026.01.027"));
  EXPECT_EQ(recorded(), "026.01.013");
  EXPECT_TRUE(areas.aliases().empty());
}

TEST_F(Steps015To029, AFieldTheStepNeedsIsNotReadAsBlank) {
  std::filesystem::remove(std::filesystem::path(scratch.path()) / "firma1" / "ks_kor.dbf");
  make("ks_kor.dbf", {{"LPP", 'C', 10, 0}, {"MP", 'C', 1, 0}}, {{{"MP", T("R")}}});
  EXPECT_FALSE(run(I_26_01_029, "026.01.027"));
  EXPECT_EQ(recorded(), "026.01.013");
}

}  // namespace
}  // namespace zuv::steps::late_testing
