// Firm steps 030 and 033 on firms built by the test: the KSeF working directories, the
// new fields, exempt documents, the totals by rate text and by category, domestic, EU
// and other sales, and the buffers carried into the release's layout.
#include <fstream>

#include "steps/late_firm_steps_support.h"
#include "steps/step_routines.h"

namespace zuv::steps::late_testing {
namespace {

namespace fs = std::filesystem;

class Steps030And033 : public LateFirmStepsTest {
 protected:
  fs::path os_firm() const { return fs::path(scratch.path()) / "firma1"; }
  void put_file(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  static Row line(const char* doc, int lp, const char* ptu, double netto, double vat, const char* dekret) {
    return {{"LPPF", T(doc)}, {"LP", N(lp)}, {"PTU", T(ptu)}, {"NETTO", N(netto)}, {"VAT", N(vat)},
            {"DEKRET", T(dekret)}};
  }
  double bz(std::uint32_t r, const char* f) { return number("ksef_bz.dbf", r, f); }
  double bs(std::uint32_t r, const char* f) { return number("ksef_bs.dbf", r, f); }

  void purchases() {
    add("ksef_bz.dbf", {{{"LPP", T("P1")}, {"BRUTTO", N(289.20)}, {"N_STS", N(999)}, {"V_STI", N(5)}, {"N_EUR", N(999)},
                         {"XML", table::Value::of_memo("<Faktura nr=\"P1\"/>")}},
                        {{"LPP", T("P2")}, {"BRUTTO", N(100)}, {"IS_MARZA", T("T")}},
                        {{"LPP", T("P3")}, {"BRUTTO", N(100)}, {"TYP_FAK", T("KOR")}},
                        {{"LPP", T("P4")}, {"BRUTTO", N(0)}},
                        {{"LPP", T("P5")}, {"BRUTTO", N(100)}, {"N23", N(10)}, {"N_STS", N(999)}},
                        {{"LPP", T("P6")}, {"BRUTTO", N(50)}, {"N_MRL", N(7)}}});
    add("ksef_bza.dbf", {line("P1", 1, "23", 100, 23, "STS"),  line("P1", 2, "22", 50, 11, "TOW"),
                         line("P1", 3, "7", 10, 0.70, "STA"),  line("P1", 4, " 8", 20, 1.60, "XYZ"),
                         line("P1", 5, "5", 10, 0.50, "MAG"),  line("P1", 6, "4", 10, 0.40, "MRL"),
                         line("P1", 7, "ZW", 30, 0, "INN"),    line("P1", 8, "0 KR", 5, 0, "LEA"),
                         line("P1", 9, "np I", 7, 0, "PAL"),   line("P1", 10, "np II", 3, 0, "PZU"),
                         line("P1", 11, "0 EX", 2, 0, "MTZ"),  line("P1", 12, "XX", 1, 0, "MTP"),
                         line("P1", 13, "zw", 4, 0, "MRU"),    line("P2", 1, "23", 10, 2.30, "STS"),
                         line("P3", 1, "23", 10, 2.30, "STS"), line("P5", 1, "23", 10, 2.30, "STS")});
  }

  void sales() {
    add("ksef_bs.dbf",
        {{{"LPP", T("S1")}, {"KRAJ", T("PL")}, {"NIP", T("5250000000")}, {"OSS", T("T")}, {"N_OSS", N(5)},
          {"BRUTTO", N(200)}, {"NT", N(9)}, {"XML", table::Value::of_memo("<Faktura nr=\"S1\"/>")}},
         {{"LPP", T("S2")}, {"KRAJ", T("DE")}, {"NIP_KRAJ", T("DE")}, {"NIP", T("123")}, {"BRUTTO", N(150)}},
         {{"LPP", T("S3")}, {"KRAJ", T("FR")}, {"NIP_KRAJ", T("PL")}, {"NIP", T("123")}, {"BRUTTO", N(18.45)}},
         {{"LPP", T("S4")}, {"KRAJ", T("US")}, {"BRUTTO", N(100)}},
         {{"LPP", T("S5")}, {"KRAJ", T("DE")}, {"BRUTTO", N(12.30)}},
         {{"LPP", T("S6")}, {"KRAJ", T("PL")}, {"OSS", T("T")}, {"IS_MARZA", T("T")}, {"BRUTTO", N(50)}},
         {{"LPP", T("S7")}, {"KRAJ", T("DE")}, {"NIP", T("1")}, {"OSS", T("T")}, {"N_OSS", N(12)}, {"WDT", N(99)},
          {"BRUTTO", N(100)}},
         {{"LPP", T("S8")}, {"KRAJ", T("PL")}, {"TYP_FAK", T("KOR")}, {"BRUTTO", N(100)}},
         {{"LPP", T("S9")}, {"KRAJ", T("PL")}, {"BRUTTO", N(0)}},
         {{"LPP", T("S10")}, {"KRAJ", T("PL")}, {"NIP_KRAJ", T("PL")}, {"N23", N(5)}, {"BRUTTO", N(6.15)}},
         {{"LPP", T("S11")}, {"KRAJ", T("PL")}, {"NIP_KRAJ", T("DE")}, {"NIP", T("DE1")}, {"BRUTTO", N(40)}}});
    add("ksef_bsa.dbf", {line("S1", 1, "23", 100, 23, "SPT"),    line("S1", 2, "8", 50, 4, "SPU"),
                         line("S1", 3, "ZW", 20, 0, "SPP"),      line("S1", 4, "0 KR", 10, 0, "XXX"),
                         line("S2", 1, "0 WDT", 100, 0, "SPT"),  line("S2", 2, "np I", 40, 0, "SPU"),
                         line("S2", 3, "np II", 10, 0, "SPP"),   line("S3", 1, "23", 10, 2.30, "SPT"),
                         line("S3", 2, "23", 5, 1.15, "SPU"),    line("S4", 1, "np I", 70, 0, "SPT"),
                         line("S4", 2, "np II", 30, 0, "SPU"),   line("S5", 1, "23", 10, 2.30, "SPT"),
                         line("S6", 1, "23", 40, 9.20, "SPT"),   line("S8", 1, "23", 40, 9.20, "SPT"),
                         line("S10", 1, "23", 5, 1.15, "SPT"),   line("S11", 1, "0 WDT", 40, 0, "SPT")});
  }
};

TEST_F(Steps030And033, Step030EmptiesKsefDirectoriesAndAddsTheNewFields) {
  put_file(os_firm() / "ksef" / "a.txt");
  put_file(os_firm() / "ksef" / "r" / "log" / "b.log");
  put_file(os_firm() / "ksef" / "w" / "xml" / "c.xml");
  fs::create_directories(os_firm() / "ksef" / "w" / "log");
  ASSERT_TRUE(run(I_26_01_030, "026.01.029"));
  EXPECT_FALSE(fs::exists(os_firm() / "ksef" / "a.txt"));
  EXPECT_FALSE(fs::exists(os_firm() / "ksef" / "r" / "log" / "b.log"));
  EXPECT_FALSE(fs::exists(os_firm() / "ksef" / "w" / "xml" / "c.xml"));
  EXPECT_TRUE(fs::is_directory(os_firm() / "ksef" / "w" / "xml"));
  EXPECT_TRUE(fs::is_directory(os_firm() / "ksef" / "r" / "log"));

  EXPECT_EQ(text("idw_lst.dbf", 1, "IDW"), "wzorzec");
  EXPECT_EQ(field_count("rk_200.dbf"), 32);
  EXPECT_EQ(field_count("data.dbf"), 12);
  EXPECT_EQ(text("data.dbf", 1, "IMZ_KSEF"), "T");
  EXPECT_EQ(text("data.dbf", 1, "IMS_KSEF"), "T");
  EXPECT_EQ(value("data.dbf", 1, "LAST_DAT").text, "20251130");
  EXPECT_EQ(field_count("ks_dok.dbf"), 11);
  for (const char* cdx : {"rk_200.cdx", "ks_dok.cdx", "ksef_nip.cdx"}) {
    EXPECT_TRUE(fs::exists(os_firm() / cdx)) << cdx;
  }
  EXPECT_EQ(recorded(), "026.01.030");
  EXPECT_EQ(wariant(), "030");
}

TEST_F(Steps030And033, Step030KeepsTheFirmsOwnIdentifierList) {
  make("idw_lst.dbf", {{"IDW", 'C', 10, 0}}, {{{"IDW", T("firmowy")}}});
  ASSERT_TRUE(run(I_26_01_030, "026.01.029"));
  EXPECT_EQ(text("idw_lst.dbf", 1, "IDW"), "firmowy");
}

TEST_F(Steps030And033, Step030SettlesExemptDocumentsOfAVatPayer) {
  add("ksef_bs.dbf", {{{"LPP", T("A")}, {"ALL_ZW", T("T")}, {"BRUTTO", N(123)}, {"N23", N(100)}, {"V23", N(23)},
                       {"WDT", N(5)}, {"V4PLN", N(1)}, {"EKS_USL_UE", N(2)}},
                      {{"LPP", T("B")}, {"ALL_ZW", T("N")}, {"BRUTTO", N(123)}, {"N23", N(100)}, {"V23", N(23)}},
                      {{"LPP", T("C")}, {"ALL_ZW", T("T")}, {"ZW", N(50)}, {"BRUTTO", N(123)}, {"N23", N(100)}}});
  add("ksef_bz.dbf", {{{"LPP", T("A")}, {"ALL_ZW", T("T")}, {"BRUTTO", N(80)}, {"N23", N(60)}, {"V_EUR", N(5)},
                       {"N0", N(3)}},
                      {{"LPP", T("B")}, {"ALL_ZW", T("N")}, {"BRUTTO", N(80)}, {"N23", N(60)}}});
  ASSERT_TRUE(run(I_26_01_030, "026.01.029"));
  EXPECT_EQ(bs(1, "ZW"), 123);
  for (const char* f : {"N23", "V23", "WDT", "V4PLN", "EKS_USL_UE"}) {
    EXPECT_EQ(bs(1, f), 0) << f;
  }
  EXPECT_EQ(bs(2, "ZW"), 0);
  EXPECT_EQ(bs(2, "N23"), 100);
  EXPECT_EQ(bs(3, "ZW"), 50);
  EXPECT_EQ(bs(3, "N23"), 100);
  EXPECT_EQ(bz(1, "ZW"), 80);
  EXPECT_EQ(bz(1, "N_EUR"), 80);
  EXPECT_EQ(bz(1, "B_EUR"), 80);
  for (const char* f : {"V_EUR", "N23", "N0"}) {
    EXPECT_EQ(bz(1, f), 0) << f;
  }
  EXPECT_EQ(bz(2, "N23"), 60);
  EXPECT_EQ(bz(2, "ZW"), 0);
}

TEST_F(Steps030And033, Step030TreatsEverySaleOfANonPayerAsExempt) {
  change("firma.dbf", 1, {{"VT", T(" n ")}});
  add("ksef_bs.dbf", {{{"LPP", T("B")}, {"ALL_ZW", T("N")}, {"BRUTTO", N(123)}, {"N23", N(100)}}});
  add("ksef_bz.dbf", {{{"LPP", T("B")}, {"ALL_ZW", T("N")}, {"BRUTTO", N(80)}, {"N23", N(60)}}});
  ASSERT_TRUE(run(I_26_01_030, "026.01.029"));
  EXPECT_EQ(bs(1, "ZW"), 123);
  EXPECT_EQ(bs(1, "N23"), 0);
  EXPECT_EQ(bz(1, "N23"), 60);  // purchases only by their own mark
}

TEST_F(Steps030And033, Step030StopsOnAFirmWithoutItsOwnRecord) {
  fs::remove(os_firm() / "firma.dbf");
  make("firma.dbf", {{"VT", 'C', 1, 0}}, {});
  add("ksef_bs.dbf", {{{"LPP", T("B")}, {"ALL_ZW", T("N")}, {"BRUTTO", N(123)}, {"N23", N(100)}}});
  EXPECT_FALSE(run(I_26_01_030, "026.01.029"));
  EXPECT_EQ(bs(1, "N23"), 100);
  EXPECT_EQ(recorded(), "026.01.013");
}

TEST_F(Steps030And033, Step033TotalsPurchasesByRateTextAndCategory) {
  purchases();
  ASSERT_TRUE(run(I_26_01_033, "026.01.030"));
  // P1, from its thirteen lines.
  const std::pair<const char*, double> p1[] = {
      {"N23", 150},  {"V23", 34},   {"N8", 30},    {"V8", 2.30},  {"N5", 10},    {"V5", 0.50},  {"N4", 10},
      {"V4", 0.40},  {"ZW", 34},    {"N0", 17},    {"N_STS", 100}, {"V_STS", 23}, {"N_TOW", 50}, {"V_TOW", 11},
      {"N_STA", 10}, {"V_STA", 0.70}, {"N_MAG", 10}, {"V_MAG", 0.50}, {"N_MRL", 10}, {"V_MRL", 0.40},
      {"N_INN", 30}, {"N_LEA", 5},  {"N_PAL", 7},  {"N_PZU", 3},  {"N_MTZ", 2},  {"N_MTP", 1},  {"N_MRU", 4},
      {"V_STI", 0},  {"N_STI", 0},  {"N_UBO", 0},  {"N_EUR", 252}, {"V_EUR", 37.20}, {"B_EUR", 289.20},
      {"V23PLN", 0}};
  for (const auto& [f, v] : p1) {
    EXPECT_NEAR(bz(1, f), v, 0.001) << f;
  }
  EXPECT_EQ(text("ksef_bz.dbf", 1, "XML"), "<Faktura nr=\"P1\"/>");
  // Margin scheme, correction and zero value: as they were.
  EXPECT_EQ(bz(2, "N23"), 0);
  EXPECT_EQ(bz(3, "N23"), 0);
  EXPECT_EQ(bz(4, "N_EUR"), 0);
  // Totals already there: as they were.
  EXPECT_EQ(bz(5, "N23"), 10);
  EXPECT_EQ(bz(5, "N_STS"), 999);
  // No lines: the category totals cleared, the gross amount in EUR.
  EXPECT_EQ(bz(6, "N_MRL"), 0);
  EXPECT_EQ(bz(6, "B_EUR"), 50);

  EXPECT_EQ(field_count("ksef_bz.dbf"), 215);
  EXPECT_EQ(record_count("ksef_bz.dbf"), 6u);
  EXPECT_EQ(field_count("ksef_bz.dbf", firm + "bak\\"), 170);
  EXPECT_EQ(record_count("ksef_bz.dbf", firm + "bak\\"), 6u);
  EXPECT_TRUE(fs::exists(os_firm() / "bak" / "ksef_bz.fpt"));
  EXPECT_EQ(recorded(), "026.01.032");
  EXPECT_EQ(wariant(), "032");
}

TEST_F(Steps030And033, Step033TotalsDomesticEuAndOtherSales) {
  sales();
  ASSERT_TRUE(run(I_26_01_033, "026.01.030"));
  struct Check {
    std::uint32_t doc;
    const char* field;
    double value;
  };
  const Check checks[] = {
      // Domestic: rates, line codes, net and VAT; foreign and OSS figures cleared.
      {1, "N23", 100}, {1, "V23", 23}, {1, "N8", 50}, {1, "V8", 4}, {1, "ZW", 20}, {1, "N0", 10}, {1, "NT", 100},
      {1, "NU", 60}, {1, "NP", 20}, {1, "N", 180}, {1, "V", 27}, {1, "B", 200}, {1, "N_OSS", 0}, {1, "WDT", 0},
      // EU buyer with a tax number of its country: intra-Community supply and services.
      {2, "NT", 100}, {2, "NU", 40}, {2, "NP", 10}, {2, "N", 150}, {2, "B", 150}, {2, "WDT", 100},
      {2, "EKS_USL_UE", 50}, {2, "N0", 0},
      // Polish tax number, buyer in France: services to the EU.
      {3, "N", 15}, {3, "V", 3.45}, {3, "EKS_USL_UE", 15}, {3, "WDT", 0}, {3, "N23", 0},
      // No tax number, outside the EU: export.
      {4, "EKS_TOW", 70}, {4, "EKS_USL", 30}, {4, "EKS_USL_UE", 0},
      // No tax number inside the EU: no foreign figure.
      {5, "N", 10}, {5, "V", 2.30}, {5, "EKS_TOW", 0}, {5, "EKS_USL", 0}, {5, "WDT", 0},
      // Passed over.
      {6, "N", 0}, {7, "N", 0}, {7, "WDT", 99}, {8, "N", 0}, {9, "N", 0}, {10, "N", 0}, {10, "N23", 5},
      // Polish buyer country, German tax number: intra-Community supply.
      {11, "WDT", 40}, {11, "N", 40}};
  for (const Check& c : checks) {
    EXPECT_NEAR(bs(c.doc, c.field), c.value, 0.001) << "S" << c.doc << " " << c.field;
  }
  EXPECT_EQ(text("ksef_bs.dbf", 1, "OSS"), "N");
  EXPECT_EQ(text("ksef_bs.dbf", 6, "OSS"), "N");  // OSS mark without OSS amounts, even when passed over
  EXPECT_EQ(text("ksef_bs.dbf", 7, "OSS"), "T");
  EXPECT_EQ(text("ksef_bs.dbf", 1, "XML"), "<Faktura nr=\"S1\"/>");
  EXPECT_EQ(field_count("ksef_bs.dbf"), 210);
  EXPECT_EQ(record_count("ksef_bs.dbf"), 11u);
}

TEST_F(Steps030And033, Step033FinishesOnTheNextUpgradeWithoutChangingData) {
  purchases();
  sales();
  put_file(os_firm() / "ksef" / "r" / "xml" / "a.xml");
  ASSERT_TRUE(run(I_26_01_033, "026.01.030"));
  EXPECT_FALSE(fs::exists(os_firm() / "ksef" / "r" / "xml" / "a.xml"));
  EXPECT_EQ(recorded(), "026.01.032");
  auto converted = dump();
  converted.erase(firm + "wersja.dbf");
  put_file(os_firm() / "ksef" / "w" / "b.txt");
  ASSERT_TRUE(run(I_26_01_033));
  EXPECT_FALSE(fs::exists(os_firm() / "ksef" / "w" / "b.txt"));
  EXPECT_EQ(recorded(), "026.01.033");
  EXPECT_EQ(wariant(), "033");
  auto again = dump();
  again.erase(firm + "wersja.dbf");
  EXPECT_EQ(again, converted);
  ASSERT_TRUE(run(I_26_01_033));  // and then never again
  EXPECT_EQ(recorded(), "026.01.033");
}

TEST_F(Steps030And033, Step033OnTheReleasesLayoutOnlyRecordsItsVersion) {
  fs::remove(os_firm() / "ksef_bz.dbf");
  fs::remove(os_firm() / "ksef_bz.fpt");
  fs::remove(os_firm() / "ksef_bs.dbf");
  fs::remove(os_firm() / "ksef_bs.fpt");
  make("ksef_bz.dbf", release_layout(old_purchase_documents(), 215), {{{"LPP", T("P1")}, {"BRUTTO", N(10)}}});
  make("ksef_bs.dbf", release_layout(old_sales_documents(), 210), {{{"LPP", T("S1")}, {"BRUTTO", N(10)}}});
  add("ksef_bza.dbf", {line("P1", 1, "23", 100, 23, "STS")});
  set_version("026.01.032", "032");
  const auto before = dump();
  ASSERT_TRUE(run(I_26_01_033));
  auto after = dump();
  EXPECT_EQ(recorded(), "026.01.033");
  after.erase(firm + "wersja.dbf");
  auto expected = before;
  expected.erase(firm + "wersja.dbf");
  EXPECT_EQ(after, expected);
  EXPECT_FALSE(fs::exists(os_firm() / "bak"));
}

// A sales buffer between the two field counts is brought to the release's layout too,
// so that the step can finish on the next upgrade.
TEST_F(Steps030And033, Step033RebuildsASalesBufferOfAnInBetweenLayout) {
  fs::remove(os_firm() / "ksef_bz.dbf");
  fs::remove(os_firm() / "ksef_bz.fpt");
  fs::remove(os_firm() / "ksef_bs.dbf");
  fs::remove(os_firm() / "ksef_bs.fpt");
  make("ksef_bz.dbf", release_layout(old_purchase_documents(), 215), {});
  make("ksef_bs.dbf", release_layout(old_sales_documents(), 190), {{{"LPP", T("S1")}, {"BRUTTO", N(10)}}});
  ASSERT_TRUE(run(I_26_01_033, "026.01.030"));
  EXPECT_EQ(field_count("ksef_bs.dbf"), 210);
  EXPECT_EQ(field_count("ksef_bz.dbf"), 215);
  EXPECT_EQ(text("ksef_bs.dbf", 1, "LPP"), "S1");
  EXPECT_EQ(recorded(), "026.01.032");
  ASSERT_TRUE(run(I_26_01_033));
  EXPECT_EQ(recorded(), "026.01.033");
}

TEST_F(Steps030And033, Step033WithoutItsTemplateKeepsTheFirmAsItWas) {
  purchases();
  fs::remove(fs::path(scratch.path()) / "str" / "ksef_bz.dbf");
  EXPECT_FALSE(run(I_26_01_033, "026.01.030"));
  EXPECT_EQ(recorded(), "026.01.013");
  EXPECT_EQ(field_count("ksef_bz.dbf"), 170);
  EXPECT_EQ(record_count("ksef_bz.dbf"), 6u);
}

}  // namespace
}  // namespace zuv::steps::late_testing
