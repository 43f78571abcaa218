// Step 007 and its rate lookup: OSS sales in zloty at the rate of the day before
// delivery (units of JPY and IDR, a day without a rate), the KSeF buffers rebuilt to
// the release's layout with their zero-amount lines filled, cancelled and orphaned
// VAT lines dropped, and the balance buffer rebuilt.
#include "steps/step_routines.h"
#include "steps/wez_kurs.h"
#include "steps_fixture.h"
#include "tables/catalogue.h"
#include "tables/table_access.h"

namespace zuv::steps::testing {
namespace {

class Step007 : public StepsTest {
 protected:
  void rates() {
    make(db + "str\\euro.dbf",
         {{"DATA", 'D', 8, 0}, {"USD", 'N', 10, 4}, {"EUR", 'N', 10, 4}, {"JPY", 'N', 10, 4}, {"IDR", 'N', 10, 4},
          {"HUF", 'N', 10, 4}},
         {{{"DATA", D("20260114")}, {"USD", N(4.0123)}, {"EUR", N(1.0015)}, {"JPY", N(2.6789)}, {"IDR", N(2.4567)},
           {"HUF", N(1.1)}},
          {{"DATA", D("20260120")}, {"USD", N(4.2)}, {"JPY", N(2.7)}},
          {{"DATA", D("20260110")}, {"USD", N(3.9)}}});
  }

  // The release's templates in the distribution, taken into the database by the
  // structure step of this version (which also indexes the rates).
  void templates() {
    rates();
    for (const char* t : {"ksef_bs.dbf", "ksef_bz.dbf"}) make(rel + "str\\" + t, document_layout(true));
    for (const char* t : {"ksef_bsa.dbf", "ksef_bza.dbf"}) make(rel + "str\\" + t, line_layout(true));
    make(rel + "str\\sld_buff.dbf", {{"LPP_DOK", 'C', 6, 0}, {"LPP_ALIEN", 'C', 6, 0}, {"KAS", 'C', 1, 0},
                                     {"NOWE", 'C', 3, 0}});
    STR_26_01_007(ctx, db, prog);
  }
  static Structure document_layout(bool release) {
    Structure s = {{"LPP", 'C', 10, 0}, {"DATA_P1", 'D', 8, 0}, {"IS_K", 'C', 1, 0}, {"NR_KSEF", 'C', 36, 0},
                   {"OPIS", 'M', 10, 0}};
    if (release) s.push_back({"NOWE", 'C', 5, 0});
    return s;
  }
  static Structure line_layout(bool release) {
    Structure s = {{"LPP", 'C', 10, 0},    {"LPPF", 'C', 10, 0},   {"NAZWA", 'C', release ? 60 : 8, 0},
                   {"LP", 'N', 4, 0},      {"ILOSC", 'N', 12, 3},  {"CENAN", 'N', 12, 2},
                   {"CENAB", 'N', 12, 2},  {"NETTO", 'N', 12, 2},  {"VAT", 'N', 12, 2},
                   {"BRUTTO", 'N', 12, 2}, {"PTU", 'C', 4, 0},     {"ON", 'C', 2, 0}};
    if (release) {
      s.push_back({"NETTO_U", 'N', 12, 2});
      s.push_back({"VAT_U", 'N', 12, 2});
    }
    return s;
  }
  static Structure oss_layout(bool release) {
    Structure s = {{"LPP", 'C', 6, 0},        {"WAL_KWB", 'C', 3, 0}, {"D_DOST", 'D', 8, 0},
                   {"KW_NAL", 'N', 14, 2},    {"KURS_ZAP", 'N', 15, 8}, {"PCZK_KOD", 'C', 2, 0},
                   {"RMC", 'C', 6, 0},        {"PLN_NETTO", 'N', 14, 2}, {"PLN_VAT", 'N', 14, 2}};
    for (int i = 10; i <= 49; ++i)
      s.push_back(i % 4 == 2 && i >= 30 && i <= 42 ? Field{"V" + std::to_string(i), 'N', 12, 2}
                                                   : Field{"X" + std::to_string(i), 'C', 1, 0});
    if (release) {
      s.push_back({"KURS_DOCH", 'N', 15, 8});
      s.push_back({"RK_NETTO", 'N', 12, 2});
      s.push_back({"ST_R", 'N', 4, 1});
    }
    return s;
  }
  static Row line(double ilosc, double cenan, double cenab, const char* ptu, double netto = 0, double vat = 0,
                  double brutto = 0) {
    return {{"LPP", C("1")},        {"LPPF", C("F1")},    {"ILOSC", N(ilosc)},   {"CENAN", N(cenan)},
            {"CENAB", N(cenab)},    {"PTU", C(ptu)},      {"NETTO", N(netto)},   {"VAT", N(vat)},
            {"BRUTTO", N(brutto)}};
  }

  void firm_tables(bool vat_payer) {
    firm_version("026.01.006");
    make(firm + "firma.dbf", {{"VT", 'C', 1, 0}}, {{{"VT", C(vat_payer ? "t" : "N")}}});
    auto sale = [](const char* cur, const char* date, double due, double vat, double kurs_zap) {
      return Row{{"WAL_KWB", C(cur)}, {"D_DOST", D(date)}, {"KW_NAL", N(due)}, {"V30", N(vat)},
                 {"KURS_ZAP", N(kurs_zap)}, {"LPP", C("1")}};
    };
    Row usd = sale("USD", "20260115", 1230, 100, 4.1);
    usd["V34"] = N(50);
    usd["V38"] = N(50);
    usd["V42"] = N(30);
    make(firm + "v_oss.dbf", oss_layout(false),
         {usd, sale("JPY", "20260115", 10000, 0, 0.03), sale("IDR", "20260115", 1000000, 0, 0),
          sale("PLN", "20260301", 123.45, 23.45, 1), sale("USD", "20260112", 50, 0, 2),
          sale("EUR", "20260115", 10, 0, 0), sale("JPY", "", 1000, 0, 0)});
    for (const char* t : {"ksef_bs.dbf", "ksef_bz.dbf"})
      make(firm + t, document_layout(false),
           {{{"LPP", C("1")}, {"OPIS", Value::of_memo("pierwszy")}}, {{"LPP", C("2")}, {"DATA_P1", D("20260105")}}});
    for (const char* t : {"ksef_bsa.dbf", "ksef_bza.dbf"})
      make(firm + t, line_layout(false),
           {line(2, 10, 0, "23"), line(2, 0, 12.30, "23"), line(3, 5, 0, "zw"), line(1, 100, 0, "23", 100, 23, 123)});
    make(firm + "ks_dok.dbf",
         {{"LPP", 'C', 6, 0}, {"TM", 'C', 2, 0}, {"DATAK", 'D', 8, 0}, {"TK", 'C', 1, 0}},
         {{{"LPP", C("000001")}, {"TM", C("01")}, {"DATAK", D("20260110")}}});
    make(firm + "vat_ptu.dbf", {{"PLIK", 'C', 2, 0}, {"LPP_G", 'C', 6, 0}, {"KOR", 'C', 1, 0}, {"KAS", 'C', 1, 0}},
         {{{"PLIK", C("RS")}, {"LPP_G", C("000001")}, {"KAS", C("N")}},
          {{"PLIK", C("RS")}, {"LPP_G", C("000009")}, {"KAS", C("N")}},
          {{"PLIK", C("VS")}, {"LPP_G", C("000009")}, {"KAS", C("N")}},
          {{"PLIK", C("RZ")}, {"LPP_G", C("000001")}, {"KAS", C("T")}},
          {{"PLIK", C("PR")}, {"LPP_G", C("000008")}, {"KAS", C("N")}}});
    make(firm + "sld_buff.dbf", {{"LPP_DOK", 'C', 6, 0}, {"LPP_ALIEN", 'C', 6, 0}, {"KAS", 'C', 1, 0}},
         {{{"LPP_DOK", C("000001")}, {"KAS", C("N")}}, {{"LPP_DOK", C("000002")}, {"KAS", C("T")}}});
  }

  void run() { I_26_01_007(ctx, firm, prog, db, recorded_version()); }
};

TEST_F(Step007, RatesOfTheDayAsTheTemplatesKeepThem) {
  rates();
  EXPECT_EQ(tables::INDEXON(areas, db + "str\\euro", {{"dat", "dtos(data)"}}), 0);
  using R = std::optional<Rate>;
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "USD"), R{});  // the table is not open
  ASSERT_TRUE(tables::OTWORZ(areas, db + "str\\", "euro.dbf", "eur", tables::OrderArg(std::string("dat"))));
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "pln"), (R{{1, 1}}));
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "   "), (R{{1, 1}}));
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "usd"), (R{{4.0123, 1}}));
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "JPY"), (R{{2.6789, 100}}));
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "HUF"), (R{{1.1, 100}}));
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "IDR"), (R{{2.4567, 10000}}));
  EXPECT_EQ(WEZ_KURS(areas, "20260113", "USD"), R{});   // no rate that day
  EXPECT_EQ(WEZ_KURS(areas, "20260114", "CHF"), R{});   // no column
  EXPECT_EQ(WEZ_KURS(areas, "        ", "USD"), (R{{4.2, 1}}));  // the latest rate
}

TEST_F(Step007, ConvertsOssSalesAtTheRateOfTheDayBeforeDelivery) {
  templates();
  firm_tables(true);
  run();
  expect_version("026.01.007", "007");
  Structure s = structure(firm + "v_oss.dbf");
  ASSERT_EQ(s.size(), 52u);
  EXPECT_EQ(s[49], (Field{"KURS_DOCH", 'N', 15, 8}));
  EXPECT_EQ(s[51], (Field{"ST_R", 'N', 4, 1}));
  auto r = rows(firm + "v_oss.dbf");
  ASSERT_EQ(r.size(), 7u);
  struct Expect {
    double kurs, netto, vat, rk;
  };
  const Expect e[] = {
      {4.0123, 4012.30, 922.83, 4100.00},  // 1000 and 230 at 4.0123; 1000 at 4.1
      {0.026789, 267.89, 0, 300.00},      // 2.6789 for 100 yen
      {0.00024567, 245.67, 0, 0},         // 2.4567 for 10000 rupiah
      {1, 100.00, 23.45, 100.00},         // zloty
      {1, 50.00, 0, 100.00},              // no rate on the 11th: the field's initial 1 stays
      {1.0015, 10.02, 0, 0},              // 10.015: the half grosz goes up
      {0.027, 27.00, 0, 0},               // no delivery date: the latest rate
  };
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_NEAR(r[i]["KURS_DOCH"].number, e[i].kurs, 1e-9) << i;
    EXPECT_DOUBLE_EQ(r[i]["PLN_NETTO"].number, e[i].netto) << i;
    EXPECT_DOUBLE_EQ(r[i]["PLN_VAT"].number, e[i].vat) << i;
    EXPECT_DOUBLE_EQ(r[i]["RK_NETTO"].number, e[i].rk) << i;
    EXPECT_DOUBLE_EQ(r[i]["ST_R"].number, 3.0) << i;
  }
}

TEST_F(Step007, RebuildsKsefBuffersAndFillsZeroLinesOfAVatPayer) {
  templates();
  firm_tables(true);
  run();
  for (const char* t : {"ksef_bs.dbf", "ksef_bz.dbf"}) {
    EXPECT_EQ(structure(firm + t), document_layout(true)) << t;
    auto r = rows(firm + t);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0]["OPIS"].text, "pierwszy");
    EXPECT_EQ(r[1]["DATA_P1"].text, "20260105");
  }
  for (const char* t : {"ksef_bsa.dbf", "ksef_bza.dbf"}) {
    EXPECT_EQ(structure(firm + t), line_layout(true)) << t;
    auto r = rows(firm + t);
    ASSERT_EQ(r.size(), 4u);
    const double expected[4][3] = {{20, 4.60, 24.60}, {20, 4.60, 24.60}, {15, 0, 15}, {100, 23, 123}};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_DOUBLE_EQ(r[i]["NETTO"].number, expected[i][0]) << t << i;
      EXPECT_DOUBLE_EQ(r[i]["VAT"].number, expected[i][1]) << t << i;
      EXPECT_DOUBLE_EQ(r[i]["BRUTTO"].number, expected[i][2]) << t << i;
      EXPECT_DOUBLE_EQ(r[i]["NETTO_U"].number, expected[i][0]) << t << i;
      EXPECT_DOUBLE_EQ(r[i]["VAT_U"].number, expected[i][1]) << t << i;
      EXPECT_EQ(r[i]["ON"].text, "  ");
    }
  }
  for (const char* f : {"abs.dbf", "abs.fpt", "absa.dbf", "abz.dbf", "abz.fpt", "abza.dbf"})
    EXPECT_FALSE(exists(firm + f)) << f;
  for (const char* f : {"v_oss.cdx", "ksef_bs.cdx", "ksef_bz.cdx", "ksef_bsa.cdx", "ksef_bza.cdx", "ks_dok.cdx",
                        "vat_ptu.cdx", "sld_buff.cdx"})
    EXPECT_TRUE(exists(firm + f)) << f;
}

TEST_F(Step007, PurchaseLinesOfAFirmOutsideVatCarryNoTax) {
  templates();
  firm_tables(false);
  run();
  auto bza = rows(firm + "ksef_bza.dbf");
  const double purchases[4][3] = {{24.60, 0, 24.60}, {24.60, 0, 24.60}, {15, 0, 15}, {100, 23, 123}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(bza[i]["NETTO"].number, purchases[i][0]) << i;
    EXPECT_DOUBLE_EQ(bza[i]["VAT"].number, purchases[i][1]) << i;
    EXPECT_DOUBLE_EQ(bza[i]["BRUTTO"].number, purchases[i][2]) << i;
    EXPECT_DOUBLE_EQ(bza[i]["NETTO_U"].number, purchases[i][0]) << i;
    EXPECT_EQ(bza[i]["ON"].text, i < 3 ? "NT" : "  ") << i;
  }
  auto bsa = rows(firm + "ksef_bsa.dbf");
  EXPECT_DOUBLE_EQ(bsa[0]["NETTO"].number, 20);
  EXPECT_DOUBLE_EQ(bsa[0]["VAT"].number, 4.60);
  EXPECT_EQ(bsa[0]["ON"].text, "  ");
}

TEST_F(Step007, DropsCancelledAndOrphanedVatLinesAndRebuildsTheBalanceBuffer) {
  templates();
  firm_tables(true);
  run();
  auto ptu = rows(firm + "vat_ptu.dbf");
  ASSERT_EQ(ptu.size(), 2u);
  EXPECT_EQ(ptu[0]["PLIK"].text + ptu[0]["LPP_G"].text, "RS000001");
  EXPECT_EQ(ptu[1]["PLIK"].text + ptu[1]["LPP_G"].text, "VS000009");
  EXPECT_FALSE(exists(firm + "aptu.dbf"));

  auto sb = rows(firm + "sld_buff.dbf");
  ASSERT_EQ(sb.size(), 2u);
  EXPECT_EQ(sb[1]["LPP_DOK"].text, "000002");
  EXPECT_EQ(sb[1]["NOWE"].text, "   ");
  EXPECT_EQ(rows(firm + "as.dbf").size(), 2u);
}

TEST_F(Step007, RunningAgainChangesNothing) {
  templates();
  firm_tables(false);
  run();
  auto once = snapshot(firm);
  run();
  EXPECT_EQ(snapshot(firm), once);
  // Forced: the same tables; "as.dbf" now keeps the balance buffer as the first run left it.
  I_26_01_007(ctx, firm, prog, db, "026.01.006");
  auto forced = snapshot(firm);
  forced.erase("as.dbf");
  once.erase("as.dbf");
  EXPECT_EQ(forced, once);
}

TEST_F(Step007, BuffersAlreadyInTheReleasesLayoutAreNotRebuilt) {
  templates();
  firm_tables(true);
  // A rebuild would leave out the line marked deleted.
  for (const char* t : {"ksef_bsa.dbf", "ksef_bza.dbf"})
    make(firm + t, line_layout(true), {line(1, 1, 0, "23", 1, 0.23, 1.23), line(1, 2, 0, "23")});
  {
    table::OpenOptions o;
    o.path = firm + "ksef_bsa.dbf";
    auto t = table::Table::open(o);
    ASSERT_TRUE(t && t->go_to(2) && t->remove() && t->commit());
  }
  run();
  table::OpenOptions o;
  o.path = firm + "ksef_bsa.dbf";
  auto t = table::Table::open(o);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->record_count(), 2u);
  // The old-layout tables beside it are left as they were, too.
  EXPECT_EQ(structure(firm + "ksef_bs.dbf"), document_layout(false));
}

TEST_F(Step007, ADayWithoutARateKeepsTheRecordsRate) {
  templates();
  firm_tables(true);
  make(firm + "v_oss.dbf", oss_layout(true),
       {{{"WAL_KWB", C("USD")}, {"D_DOST", D("20260112")}, {"KW_NAL", N(10)}, {"KURS_DOCH", N(4.5)},
         {"KURS_ZAP", N(4)}}});
  run();
  auto r = rows(firm + "v_oss.dbf");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_DOUBLE_EQ(r[0]["KURS_DOCH"].number, 4.5);
  EXPECT_DOUBLE_EQ(r[0]["PLN_NETTO"].number, 45.00);
  EXPECT_DOUBLE_EQ(r[0]["RK_NETTO"].number, 40.00);
  EXPECT_EQ(structure(firm + "v_oss.dbf").size(), 52u);
}

TEST_F(Step007, AFailingDiskNeverRecordsTheVersionWithoutTheWork) {
  templates();
  // "as.dbf" keeps whatever the balance buffer held when the step last ran.
  every_fault([&] { firm_tables(false); }, [&] { run(); }, "026.01.007", "as.dbf");
}

TEST_F(Step007, LeavesTablesAndIndexesThatOutsideReadersAccept) {
  templates();
  firm_tables(true);
  run();
  const std::string checker = zuv::testing::table_tool_path("zuv-dbcheck");
  if (!checker.empty()) {
    std::string out;
    EXPECT_EQ(zuv::testing::table_run({checker, os_dir(firm)}, &out), 0) << out;
  }
  const std::string python = zuv::testing::table_python_with({"dbfread"});
  if (python.empty()) GTEST_SKIP() << "/usr/bin/python3 with dbfread not available";
  const std::string script =
      "import dbfread,sys,glob,os\n"
      "n=0\n"
      "for f in sorted(glob.glob(os.path.join(sys.argv[1],'*.dbf'))):\n"
      "  t=dbfread.DBF(f,encoding='cp852',ignore_missing_memofile=False)\n"
      "  n+=len(list(t))\n"
      "print(n)\n";
  std::string out;
  ASSERT_EQ(zuv::testing::table_run({python, "-c", script, os_dir(firm)}, &out), 0) << out;
  // wersja 1, firma 1, v_oss 7, ksef_bs/bz 2+2, lines 4+4, ks_dok 1, vat_ptu 2,
  // sld_buff 2, as 2.
  EXPECT_EQ(out, "28\n");
}

}  // namespace
}  // namespace zuv::steps::testing
