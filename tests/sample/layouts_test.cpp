// The sample against what the upgrade reads: every table and field that a conversion
// step, the firm dispatcher, the upgrade driver, the shared-index catalogue or the firm
// index catalogue names exists where they look for it, and the fields the steps
// address by position are at those positions, in the old layouts the firms hold and
// in the release's templates. The expected names and positions are written out here
// from the steps' own descriptions, not taken from the generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <set>

#include "platform/table/table.h"
#include "sample/sample_output.h"
#include "tables/catalogue.h"
#include "support/table_support.h"

namespace zuv::testing {
namespace {

namespace fs = std::filesystem;

class SampleLayouts : public ::testing::Test {
 protected:
  void SetUp() override {
    root = default_sample();
    if (root.empty()) GTEST_SKIP() << "zuv-sample not built";
  }
  // The default run: firma1 at the database's version (022.01.050), firma2 older than
  // 014.01.015, firma3 at 022.01.040, firma4 at 026.01.007, firma5 at 026.01.016.
  std::string firm(int n) const { return root + "/baza/firma" + std::to_string(n) + "/"; }
  std::string release_str() const { return root + "/release/str/"; }

  std::unique_ptr<table::Table> open(const std::string& path) const {
    return zuv::testing::open_for_reading(path);
  }
  // 1-based field name, lower case.
  static std::string name_at(const table::Table& t, int position) {
    std::string n = t.fields().at(position - 1).name;
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return n;
  }
  void expect_fields(const std::string& path, const std::vector<std::string>& names) const {
    auto t = open(path);
    ASSERT_TRUE(t) << path;
    for (const auto& n : names) {
      EXPECT_GE(t->field_index(n), 0) << path << " lacks " << n;
    }
  }
  void expect_names_at(const std::string& path, int first, const std::vector<std::string>& names) const {
    auto t = open(path);
    ASSERT_TRUE(t) << path;
    for (std::size_t i = 0; i < names.size(); ++i) {
      ASSERT_LE(first + static_cast<int>(i), t->field_count()) << path;
      EXPECT_EQ(name_at(*t, first + static_cast<int>(i)), names[i]) << path << " field " << first + i;
      EXPECT_EQ(t->fields()[first - 1 + i].type, 'N') << path << " field " << first + i;
    }
  }
  int field_count(const std::string& path) const {
    auto t = open(path);
    return t ? t->field_count() : -1;
  }
  char type_of(const std::string& path, const std::string& field) const {
    auto t = open(path);
    int i = t ? t->field_index(field) : -1;
    return i < 0 ? '?' : t->fields()[i].type;
  }

  std::string root;
};

const std::vector<std::string> kRateTotals = {"n23", "n8", "n5", "n4", "n0", "v23", "v8",
                                              "v5", "v4", "v23pln", "v8pln", "v5pln", "v4pln", "zw"};

TEST_F(SampleLayouts, EveryFieldTheFirmStepsReadIsInEveryFirm) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> kTables = {
      {"wersja", {"baza", "nr", "wariant"}},
      {"firma", {"ident", "ksef_rules", "ryczalt", "ksef_serw", "vt"}},
      {"v_inne", {"rmc", "typ"}},
      {"v_jpke", {"rmc", "nrk", "grupa", "data_dok", "kas"}},
      {"v_jpkd", {"rmc", "nrk"}},
      {"v7_jpk", {"rmc", "nrk"}},
      {"wspolnik", {"gzus", "prz52", "p52"}},
      {"v_oss", {"wal_kwb", "d_dost", "kw_nal", "kurs_zap", "pczk_kod", "lpp", "rmc", "pln_netto", "pln_vat"}},
      {"ksef_bz", {"data_p1", "lpp", "is_k", "nr_ksef", "nip", "typ_fak", "bn", "brutto", "zw", "all_zw", "is_marza",
                   "n_eur", "b_eur", "v_eur"}},
      {"ksef_bs", {"data_p1", "lpp", "is_k", "nr_ksef", "nip", "typ_fak", "brutto", "zw", "all_zw", "is_marza", "wdt",
                   "eks_tow", "eks_usl", "eks_usl_ue", "oss", "n_oss", "v_oss", "kraj", "nip_kraj", "n", "v", "b",
                   "nt", "nu", "np"}},
      {"ksef_bza", {"lpp", "lppf", "lp", "netto", "brutto", "vat", "cenan", "cenab", "ilosc", "ptu", "on", "netto_u",
                    "vat_u", "dekret"}},
      {"ksef_bsa", {"lpp", "lppf", "lp", "netto", "brutto", "vat", "cenan", "cenab", "ilosc", "ptu", "on", "netto_u",
                    "vat_u", "dekret"}},
      {"ksef_bzb", {"lppf", "dekret", "kas"}},
      {"vat_ptu", {"plik", "lpp_g", "kor", "kas", "p1", "p2", "kn", "kb", "kv"}},
      {"ks_dok", {"lpp", "tm", "datak", "tk", "p35", "kwota1", "kwota2", "kwota3", "lp", "data_vat", "d_dok",
                  "data_zapl", "nr_ksef", "ksef_serw"}},
      {"ks_ref", {"lpp", "netto", "brutto", "vat"}},
      {"ksef_p", {"typ_vat", "typ_zal"}},
      {"ksef_nip", {"nip"}},
      {"data", {"last_dat"}},
      {"ks_kor", {"mp", "c2", "strona", "nip", "lpp", "kas"}},
      {"vd", {"lpp", "pz", "rmc", "data"}},
      {"v_z", {"lpp_ks", "nr_ksef", "ksef_serw", "lpp", "rmc", "data"}},
      {"rk_200", {"lpp_ks", "strona", "data_d"}},
      {"ntx", {"ok"}},
  };
  for (int f = 1; f <= 5; ++f)
    for (const auto& [table, fields] : kTables) expect_fields(firm(f) + table + ".dbf", fields);
  for (int f = 1; f <= 5; ++f)
    if (fs::exists(firm(f) + "sld_buff.dbf")) expect_fields(firm(f) + "sld_buff.dbf", {"lpp_dok", "lpp_alien", "kas"});
  EXPECT_TRUE(fs::exists(firm(1) + "sld_buff.dbf"));
  EXPECT_FALSE(fs::exists(firm(3) + "sld_buff.dbf"));
  // Dates, numbers and the logical where the steps compute with them.
  EXPECT_EQ(type_of(firm(1) + "ks_dok.dbf", "datak"), 'D');
  EXPECT_EQ(type_of(firm(1) + "ks_dok.dbf", "lp"), 'N');
  EXPECT_EQ(type_of(firm(1) + "data.dbf", "last_dat"), 'D');
  EXPECT_EQ(type_of(firm(1) + "v_oss.dbf", "d_dost"), 'D');
  EXPECT_EQ(type_of(firm(1) + "ksef_bza.dbf", "lp"), 'N');
  EXPECT_EQ(type_of(firm(1) + "wersja.dbf", "nr"), 'N');
  EXPECT_EQ(type_of(firm(1) + "ntx.dbf", "ok"), 'L');
  // The working tables the dispatcher and the steps clear.
  for (const char* d : {"ksef", "ksef/r", "ksef/r/log", "ksef/r/xml", "ksef/w", "ksef/w/log", "ksef/w/xml"})
    EXPECT_TRUE(fs::is_directory(firm(1) + d)) << d;
  EXPECT_TRUE(fs::is_empty(firm(5) + "ksef/w/xml"));
  EXPECT_FALSE(fs::is_empty(firm(1) + "ksef/w/xml"));
}

TEST_F(SampleLayouts, OldLayoutsHaveTheCountsTheStepsTestAndTheTemplatesTheReleaseCounts) {
  struct Count { const char* table; int old_count; int release_count; };
  const Count kCounts[] = {{"firma", 145, 146}, {"v_inne", 13, 15}, {"ksef_p", 15, 23}, {"rk_200", 30, 32},
                           {"data", 54, 56},    {"ks_dok", 92, 93}, {"v_oss", 49, 52}};
  for (const auto& c : kCounts) {
    EXPECT_EQ(field_count(firm(1) + c.table + ".dbf"), c.old_count) << c.table;
    EXPECT_EQ(field_count(release_str() + c.table + ".dbf"), c.release_count) << c.table;
  }
  EXPECT_EQ(field_count(firm(1) + "vd.dbf"), 81);
  EXPECT_EQ(name_at(*open(release_str() + "firma.dbf"), 146), "metoda_zd");
  auto oss = open(firm(1) + "v_oss.dbf");
  for (const char* added : {"kurs_doch", "rk_netto", "st_r"}) {
    EXPECT_LT(oss->field_index(added), 0) << added;
  }
  expect_fields(release_str() + "v_oss.dbf", {"kurs_doch", "rk_netto", "st_r", "pln_netto", "pln_vat", "kurs_zap", "kw_nal"});
  for (const char* added : {"nr_ksef", "ksef_serw"}) {
    EXPECT_LT(open(firm(1) + "v_inne.dbf")->field_index(added), 0);
    EXPECT_LT(open(firm(1) + "vd.dbf")->field_index(added), 0);
    EXPECT_LT(open(firm(1) + "rk_200.dbf")->field_index(added), 0);
  }
  EXPECT_LT(open(firm(1) + "ks_dok.dbf")->field_index("id_wew"), 0);
  EXPECT_LT(open(firm(1) + "data.dbf")->field_index("imz_ksef"), 0);

  // The buffers: at most 175 fields in a firm, more than 205 and 175 in the release, so
  // a rebuilt firm passes the buffer step's first test on the next run.
  for (int f : {1, 5}) {
    EXPECT_LE(field_count(firm(f) + "ksef_bz.dbf"), 175) << f;
    EXPECT_LE(field_count(firm(f) + "ksef_bs.dbf"), 175) << f;
  }
  EXPECT_GE(field_count(release_str() + "ksef_bz.dbf"), 215);
  EXPECT_GT(field_count(release_str() + "ksef_bs.dbf"), 205);
  EXPECT_TRUE(fs::exists(release_str() + "ksef_bz.fpt"));
  EXPECT_TRUE(fs::exists(release_str() + "ksef_bs.fpt"));

  // Line buffers: the third field is shorter than 10 in the old layout, at least 10 in
  // the release's and in a firm past the buffer rebuild of 026.01.007.
  auto third = [&](const std::string& path) { return static_cast<int>(open(path)->fields().at(2).length); };
  for (const char* t : {"ksef_bsa.dbf", "ksef_bza.dbf"}) {
    EXPECT_LT(third(firm(1) + t), 10) << t;
    EXPECT_GE(third(release_str() + t), 10) << t;
    EXPECT_GE(third(firm(4) + t), 10) << t;
    EXPECT_GE(third(firm(5) + t), 10) << t;
  }
  // A firm past a step holds that step's layout.
  EXPECT_EQ(field_count(firm(4) + "firma.dbf"), 146);
  EXPECT_EQ(field_count(firm(4) + "v_oss.dbf"), 52);
  EXPECT_EQ(field_count(firm(4) + "ksef_p.dbf"), 15);
  EXPECT_EQ(field_count(firm(5) + "ksef_p.dbf"), 23);
  EXPECT_EQ(field_count(firm(5) + "vd.dbf"), 81);
}

TEST_F(SampleLayouts, FieldsAddressedByPositionAreAtTheirPositions) {
  for (const std::string& dir : {firm(1), firm(5), release_str()}) {
    auto oss = open(dir + "v_oss.dbf");
    for (int p : {30, 34, 38, 42}) {
      EXPECT_EQ(oss->fields().at(p - 1).type, 'N') << dir << " v_oss " << p;
    }

    expect_names_at(dir + "ksef_bz.dbf", 35, kRateTotals);
    expect_names_at(dir + "ksef_bz.dbf", 129,
                    {"n_sts", "v_sts", "n_sti", "v_sti", "n_sta", "v_sta", "n_tow", "v_tow", "n_ubo", "v_ubo",
                     "n_inn", "v_inn", "n_pal", "v_pal", "n_lea", "v_lea", "n_pzu", "v_pzu", "n_mag", "v_mag",
                     "n_mtz", "v_mtz", "n_mtp", "v_mtp", "n_mru", "v_mru", "n_mrl", "v_mrl"});
    expect_names_at(dir + "ksef_bs.dbf", 32, kRateTotals);
    expect_names_at(dir + "ksef_bs.dbf", 46, {"wdt", "eks_tow", "eks_usl", "eks_usl_ue"});

    // The counters of the taxpayer summary: 16..29, numbers, STS first and MAG last.
    auto nip = open(dir + "ksef_nip.dbf");
    const char* const kOrder[] = {"sts", "sti", "sta", "tow", "ubo", "inn", "pal", "lea", "pzu", "mtz", "mtp", "mru", "mrl", "mag"};
    for (int p = 16; p <= 29; ++p) {
      EXPECT_EQ(nip->fields().at(p - 1).type, 'N') << dir << " ksef_nip " << p;
      EXPECT_NE(name_at(*nip, p).find(kOrder[p - 16]), std::string::npos) << dir << " ksef_nip " << p;
    }
    EXPECT_EQ(name_at(*nip, 15).find("mag"), std::string::npos);
  }
}

// Identifiers of a key expression that are fields (not functions or numbers).
std::set<std::string> key_names(const std::string& expression) {
  static const std::regex kWord("([A-Za-z_][A-Za-z0-9_]*)\\s*(\\()?");
  std::set<std::string> out;
  for (std::sregex_iterator it(expression.begin(), expression.end(), kWord), end; it != end; ++it)
    if (!(*it)[2].matched) out.insert((*it)[1].str());
  return out;
}

TEST_F(SampleLayouts, EveryFirmCatalogueTableHasTheFieldsOfItsKeysAndAnIndex) {
  for (int f = 1; f <= 5; ++f) {
    for (const auto& e : tables::firm_catalogue()) {
      std::string name = e.name;
      std::replace(name.begin(), name.end(), '\\', '/');
      if (e.kind == tables::CatalogueEntry::Delete) {
        EXPECT_TRUE(fs::exists(firm(f) + name)) << "firma" << f << " " << name;
        continue;
      }
      std::string data = firm(f) + name + ".dbf";
      if (!e.condition.empty() && !fs::exists(data)) continue;
      ASSERT_TRUE(fs::exists(data)) << data;
      EXPECT_TRUE(fs::exists(firm(f) + name + ".cdx")) << data;
      auto t = open(data);
      ASSERT_TRUE(t) << data;
      for (const auto& [tag, key] : e.tags)
        for (const auto& field : key_names(key)) {
          EXPECT_GE(t->field_index(field), 0) << data << " " << tag << ": " << field;
        }
    }
  }
  // Both ways of the conditional entries occur.
  EXPECT_TRUE(fs::exists(firm(1) + "p_ald.dbf"));
  EXPECT_FALSE(fs::exists(firm(2) + "p_ald.dbf"));
}

TEST_F(SampleLayouts, EverySharedTableOfTheUpgradeIsThereWithTheFieldsOfItsKeys) {
  const std::vector<std::pair<std::string, std::string>> kShared = {
      {"str/min_zus", "rok+mc"}, {"str/pit_opp", "krs left(miasto,15)"}, {"str/euro", "dtos(data)"},
      {"str/ebc_euro", "data"}, {"str/gus_m", "nazwa"}, {"str/gus_w", "nr_w"}, {"str/gus_p", "nr_p"},
      {"str/gus_g", "nr_g"}, {"str/gus_d", "nr_d"}, {"str/zawody", "kod"}, {"str/zus_o", "lpp"},
      {"str/zus_m", "lpp"}, {"str/p_wolne", "od_daty"}, {"str/us", "lpp us_m"}, {"str/ods_tab", "data"},
      {"public/fpit", "lpp pit+nrfir+rmc kw_zap kw_odsetek"}, {"public/zuv_lpc", "kp+nip+rmc"},
      {"public/pit_zap", "lpp lpp_f+dtos(data_z) lpp_w lpp_o nrfir kwota_gl odsetki"},
      {"public/wpit", "lpp pit+lpp_o+rmc kw_zap kw_ods"}, {"public/wf", "lpp lpp_o+nrfir"}, {"public/own", "lpp"},
      {"public/fir_dok", "nr+data"}, {"public/crm_vat", "lpp rmc+nrfir"}, {"public/crm_jpk", "lpp rmc+nrfir kas"},
      {"public/nip_list", "ue+nip"}, {"public/crm_vue", "lpp rmc+nrfir"}, {"public/crm_p4r", "lpp nrfir"},
      {"public/crm_pit", "lpp rmc+nrfir+lpp_o"}, {"public/crm_zua", "lpp rmc+nrfir+id_zuv"},
      {"public/crm_rmc", "modul+komp"}, {"public/crm_p11", "lpp nrfir+lpp_p lpp_upc"},
      {"public/crm_upc", "lpp lpp_g+lpp_l+lpp_p k"}, {"public/crm_12", "lpp nrfir+lpp_o"},
      {"public/crm_msg", "lpp id_o+ndata"}, {"public/fak", "lpp str(nrfir0,4,0)+rf+nrdok+przez"},
      {"public/faka", "lpp lppf"}, {"public/workus", "lpp+data"}, {"public/reminder", "lpp usu u_lpp"},
      {"public/mail_log", "lpp lpp_u"}, {"public/e_lista", "lpp nr"}, {"public/limity", "nip+nrfir"},
      {"public/z52_rok", "nip"}, {"str/wzorce", "nazwa+plik"}};
  for (const auto& [table, keys] : kShared) {
    std::string data = root + "/baza/" + table + ".dbf";
    ASSERT_TRUE(fs::exists(data)) << data;
    EXPECT_TRUE(fs::exists(root + "/baza/" + table + ".cdx")) << data;
    auto t = open(data);
    ASSERT_TRUE(t) << data;
    for (const auto& field : key_names(keys)) {
      EXPECT_GE(t->field_index(field), 0) << data << ": " << field;
    }
    // A new database gets its shared tables from the release.
    if (table != "str/wzorce") {
      EXPECT_TRUE(fs::exists(root + "/release/" + table + ".dbf")) << table;
    }
  }
  EXPECT_EQ(type_of(root + "/baza/str/euro.dbf", "data"), 'D');
  EXPECT_EQ(type_of(root + "/baza/str/ebc_euro.dbf", "data"), 'D');
  EXPECT_EQ(type_of(root + "/baza/public/fak.dbf", "nrfir0"), 'N');
  EXPECT_TRUE(fs::exists(root + "/baza/pit/pit_36.cdx"));
}

TEST_F(SampleLayouts, TheDriverTheDispatcherAndTheFlowsFindTheirRecords) {
  auto text = [&](const std::string& path, const std::string& field, std::uint32_t recno = 1) {
    auto t = open(path);
    if (!t || !t->go_to(recno)) return std::string("?");
    std::string v = t->get(field).text;
    return v.substr(0, v.find_last_not_of(' ') + 1);
  };
  EXPECT_EQ(text(root + "/release/wb.dbf", "baza"), "026.01.033");
  EXPECT_EQ(text(root + "/release/wb.dbf", "zuv"), "26.01.033");
  EXPECT_EQ(text(root + "/release/wb.dbf", "ok"), "T");
  EXPECT_EQ(text(root + "/release/wb.dbf", "rok"), "2026");
  EXPECT_EQ(text(root + "/release/wk.dbf", "rok"), "2026");
  EXPECT_EQ(text(root + "/release/wk.dbf", "zuv"), "26.01.033");
  EXPECT_EQ(text(root + "/program/wersja.dbf", "zuv"), "25.01.050");
  EXPECT_EQ(text(root + "/program/wersja.dbf", "rok"), "2026");
  EXPECT_EQ(text(root + "/program/baza.dbf", "path"), "D:\\Dane\\");
  EXPECT_EQ(field_count(root + "/program/baza.dbf"), 1);
  EXPECT_TRUE(fs::exists(root + "/program/ot4xb.dll"));
  EXPECT_TRUE(fs::exists(root + "/program/setings/ns.cfg"));
  EXPECT_EQ(text(root + "/baza/wersja.dbf", "baza"), "022.01.050");
  EXPECT_EQ(text(root + "/baza/wersja.dbf", "ok"), "T");
  EXPECT_EQ(text(root + "/baza/wersja.dbf", "rok"), "2026");
  for (const char* f : {"semafor.dbf", "str/ks_dok.dbf", "str/klient.fpt", "str/nazwy.dbf", "str/ue.dbf",
                        "str/wzorce.dbf"})
    EXPECT_TRUE(fs::exists(root + "/baza/" + f)) << f;
  EXPECT_EQ(name_at(*open(root + "/baza/str/nazwy.dbf"), 1), "nazwa");
  EXPECT_EQ(type_of(root + "/baza/str/nazwy.dbf", "czas1"), 'N');
  EXPECT_EQ(name_at(*open(root + "/baza/str/nazwy.dbf"), 4), "czas1");  // duration column 1 is field 3 + 1

  // The register: five live firms and two deleted registrations.
  auto ins = open(root + "/baza/install.dbf");
  ASSERT_TRUE(ins);
  EXPECT_EQ(ins->record_count(), 7u);
  EXPECT_EQ(ins->fields().at(static_cast<std::size_t>(ins->field_index("nr"))).type, 'N');
  int deleted = 0;
  for (std::uint32_t r = 1; r <= ins->record_count(); ++r) {
    ins->go_to(r);
    if (ins->deleted()) ++deleted;
  }
  EXPECT_EQ(deleted, 2);
  const char* const kVersions[] = {"022.01.050", "013.01.010", "022.01.040", "026.01.007", "026.01.016"};
  for (int f = 1; f <= 5; ++f) {
    for (const char* core : {"wersja.dbf", "firma.dbf", "ks_dok.dbf"}) {
      EXPECT_TRUE(fs::exists(firm(f) + core));
    }
    EXPECT_EQ(text(firm(f) + "wersja.dbf", "baza"), kVersions[f - 1]);
  }
  EXPECT_FALSE(fs::exists(root + "/baza/firma6"));

  // What the driver copies from the release and the structure steps copy or delete.
  for (const char* f : {"wersja.dbf", "wersje.dbf", "euro.dbf", "ebc_euro.dbf", "speed.dbf", "pity.dbf", "pl_min.dbf",
                        "min_zus.dbf", "pl_ulga.dbf", "st_ref.dbf", "fix_cfg.xml", "p_wolne.dbf", "rcx.acc",
                        "nazwy.dbf", "semafor.dbf", "ue.dbf", "ksef_dat.dbf", "sam_cena.dbf", "st_limit.dbf",
                        "inf_fir.dbf", "rnf_fir.dbf", "lic_ods.dbf", "p_fmc.dbf", "v_wystaw.dbf", "v_rok.dbf",
                        "v_kor.dbf", "st_data.dbf", "v_data.dbf", "pr_mc.dbf", "p_kals.dbf", "p_kalw.dbf",
                        "p_fpar.dbf", "p_dat.dbf", "br_cfg.dbf", "p_fron_p.dbf", "enova_st.xlsx", "v_jpkd.dbf",
                        "v_jpke.dbf", "v7_jpk.dbf", "platnik.dbf", "folio.dbf", "sld_buff.dbf", "ksef_bsa.dbf",
                        "ksef_bza.dbf", "qmx_imp.dbf", "ksef_nip.dbf", "ksefz.xlsx", "idw_lst.dbf", "rfolio.dbf",
                        "afaktury.cfg", "ods_tab.dbf", "klient.fpt"})
    EXPECT_TRUE(fs::exists(release_str() + f)) << f;
  for (const char* f : {"pt.dbf", "pt.fpt", "fak.dbf", "faka.dbf", "crm_upc.dbf", "firmy.dbf", "ksf_s.dbf",
                        "ksf_sa.dbf", "d_key.pem", "p_key.pem", "t_key.pem", "tokeninit.xml"})
    EXPECT_TRUE(fs::exists(root + "/baza/str/" + f)) << f;
  for (const char* code : {"USD", "EUR", "JPY", "HUF", "IDR"}) {
    EXPECT_EQ(type_of(release_str() + "euro.dbf", code), 'N');
  }
  expect_fields(release_str() + "speed.dbf", {"wersja", "speed"});
  expect_fields(release_str() + "ue.dbf", {"kod"});

  // The distribution's trees and what the template steps copy.
  for (const char* f : {"zuv.exe", "un_zuv.exe", "setup2.exe", "7z.exe", "openssl.exe", "msxsl.exe", "ot4xb.dll",
                        "xbzlib.dll", "czytaj.to/zmiany.chm", "txt/faktura.txt", "txt/ksef_z1.txt", "txt/rfolio1.txt",
                        "txt/wroz_7.txt", "txt/pl_uzl1.txt", "ksef/en", "ksef/pl", "ksef/runtimes/win/lib/net6.0",
                        "ksef/runtimes/win/lib/net9.0", "ksef/runtimes/win-arm64/native",
                        "ksef/runtimes/win-x64/native", "ksef/runtimes/win-x86/native", "public/pub_dat.dbf"})
    EXPECT_TRUE(fs::exists(root + "/release/" + f)) << f;
  EXPECT_TRUE(fs::exists(root + "/program/mask/01_01_01.scn"));
  EXPECT_TRUE(fs::exists(root + "/baza/txt/faktura.txt"));
  EXPECT_TRUE(fs::exists(root + "/baza/logs/ksef_20251201.txt"));
}

// The cases the steps tell apart are in the data (read back through the engine).
TEST_F(SampleLayouts, TheDataHoldTheCasesTheStepsTellApart) {
  auto each = [&](const std::string& path, const std::function<void(table::Table&)>& fn) {
    auto t = open(path);
    ASSERT_TRUE(t) << path;
    for (std::uint32_t r = 1; r <= t->record_count(); ++r) {
      t->go_to(r);
      fn(*t);
    }
  };
  auto text = [](table::Table& t, const char* f) {
    std::string v = t.get(f).text;
    return v.substr(0, v.find_last_not_of(' ') + 1);
  };
  auto number = [](table::Table& t, const char* f) { return t.get(f).number; };

  std::set<std::string> currencies;
  each(firm(1) + "v_oss.dbf", [&](table::Table& t) { currencies.insert(text(t, "wal_kwb")); });
  for (const char* c : {"USD", "EUR", "JPY", "HUF", "IDR", "PLN"}) {
    EXPECT_TRUE(currencies.count(c)) << c;
  }

  std::set<double> revenues;
  bool zero_base = false;
  each(firm(2) + "wspolnik.dbf", [&](table::Table& t) {
    if (text(t, "gzus") == "T") revenues.insert(number(t, "prz52"));
    zero_base = zero_base || number(t, "p52") == 0;
  });
  for (double r : {60000.00, 60000.01, 300000.00, 300000.01}) {
    EXPECT_TRUE(revenues.count(r)) << r;
  }
  EXPECT_TRUE(zero_base);

  std::set<std::size_t> digit_counts;
  each(firm(1) + "ks_kor.dbf", [&](table::Table& t) {
    if (text(t, "mp") != "T" || text(t, "c2") != "T" || text(t, "strona") != "N") return;
    std::string nip = text(t, "nip");
    digit_counts.insert(static_cast<std::size_t>(std::count_if(nip.begin(), nip.end(), ::isdigit)));
  });
  for (std::size_t n : {0u, 9u, 10u}) {
    EXPECT_TRUE(digit_counts.count(n)) << n;
  }

  // Around the closed date 2025-11-30: a 2025 document with its VAT date before and its
  // issue date after it, and documents of 2026.
  bool straddles = false, of_2026 = false;
  each(firm(1) + "ks_dok.dbf", [&](table::Table& t) {
    std::string datak = t.get("datak").text, vat = t.get("data_vat").text, issued = t.get("d_dok").text;
    straddles = straddles || (datak < "20260101" && vat < "20251130" && vat != "        " && issued > "20251130");
    of_2026 = of_2026 || datak >= "20260101";
  });
  EXPECT_TRUE(straddles);
  EXPECT_TRUE(of_2026);

  bool margin = false, correction = false, zero = false, settlement = false, exempt = false;
  each(firm(1) + "ksef_bz.dbf", [&](table::Table& t) {
    margin = margin || text(t, "is_marza") == "T";
    correction = correction || text(t, "typ_fak").find("KOR") != std::string::npos;
    settlement = settlement || text(t, "typ_fak").find("ROZ") != std::string::npos;
    zero = zero || number(t, "brutto") == 0;
    exempt = exempt || (text(t, "all_zw") == "T" && number(t, "zw") == 0);
  });
  EXPECT_TRUE(margin && correction && zero && settlement && exempt);

  bool worked_case = false;
  each(firm(1) + "ksef_bza.dbf", [&](table::Table& t) {
    worked_case = worked_case || (number(t, "netto") == 0 && number(t, "brutto") == 0 && number(t, "ilosc") == 2 &&
                                  number(t, "cenan") == 10 && text(t, "ptu") == "23");
  });
  EXPECT_TRUE(worked_case);

  std::set<std::string> parties;
  each(firm(1) + "ksef_bs.dbf", [&](table::Table& t) {
    parties.insert(text(t, "kraj") + "/" + text(t, "nip_kraj") + (text(t, "nip").empty() ? "/-" : "/nip"));
  });
  for (const char* p : {"PL/PL/nip", "PL//nip", "DE/DE/nip", "FR/PL/nip", "US//-", "NO/NO/nip"})
    EXPECT_TRUE(parties.count(p)) << p;

  std::string rf3;
  each(firm(1) + "vat_ptu.dbf", [&](table::Table& t) {
    if (text(t, "plik") == "RF" && text(t, "lpp_g") == "F000000003") rf3 += text(t, "kas");
  });
  EXPECT_EQ(rf3, "TN");

  bool weekend = false;
  each(root + "/baza/str/euro.dbf", [&](table::Table& t) {
    std::string d = t.get("data").text;
    std::tm tm{};
    tm.tm_year = std::stoi(d.substr(0, 4)) - 1900;
    tm.tm_mon = std::stoi(d.substr(4, 2)) - 1;
    tm.tm_mday = std::stoi(d.substr(6, 2));
    tm.tm_hour = 12;
    std::mktime(&tm);
    weekend = weekend || tm.tm_wday == 0 || tm.tm_wday == 6;
  });
  EXPECT_FALSE(weekend);
}

}  // namespace
}  // namespace zuv::testing
