// The template directory "str\": table templates the structure and firm steps copy,
// the reference tables the upgrade refreshes, and the shared "str\" tables it indexes.
// The release's holds the release's layouts; the old database's the previous ones,
// with the files the release retires still in place.
#include <cstdio>

#include "dates.h"
#include "sample.h"
#include "shared_layouts.h"
#include "tables/catalogue.h"
#include "writer.h"

namespace zuv::sample {

namespace {

// The firm templates whose layout is the firm table's own.
const char* const kFirmTemplates[] = {"firma",   "v_inne",   "v_jpkd",  "v_jpke", "v7_jpk",  "sld_buff",
                                      "ksef_bs", "ksef_bsa", "ksef_bz", "ksef_bza", "v_oss", "ksef_nip",
                                      "ksef_p",  "idw_lst",  "ks_dok",  "rk_200", "data",    "ksef_dat"};

// Templates of tables no step reads: the layout their indexes need, or a plain one.
const char* const kOtherTemplates[] = {"sam_cena", "st_limit", "inf_fir", "rnf_fir", "lic_ods", "p_fmc",
                                       "v_wystaw", "v_rok",    "v_kor",   "st_data", "v_data",  "pr_mc",
                                       "p_kals",   "p_kalw",   "p_fpar",  "p_dat",   "br_cfg",  "p_fron_p",
                                       "platnik",  "folio",    "qmx_imp", "rfolio",  "pity",    "pl_min",
                                       "pl_ulga",  "st_ref"};

// Files the release no longer uses; the first structure step deletes them.
const char* const kRetiredFiles[] = {"pt.dbf",  "pt.fpt",   "fak.dbf",    "faka.dbf",  "crm_upc.dbf", "firmy.dbf",
                                     "ksf_s.dbf", "ksf_sa.dbf", "d_key.pem", "p_key.pem", "t_key.pem",  "tokeninit.xml"};

const char* const kEuCountries[][2] = {
    {"AT", "Austria"},  {"BE", "Belgia"},   {"BG", "Bułgaria"},    {"HR", "Chorwacja"}, {"CY", "Cypr"},
    {"CZ", "Czechy"},   {"DK", "Dania"},    {"EE", "Estonia"},     {"FI", "Finlandia"}, {"FR", "Francja"},
    {"DE", "Niemcy"},   {"GR", "Grecja"},   {"HU", "Węgry"},       {"IE", "Irlandia"},  {"IT", "Włochy"},
    {"LV", "Łotwa"},    {"LT", "Litwa"},    {"LU", "Luksemburg"},  {"MT", "Malta"},     {"NL", "Holandia"},
    {"PL", "Polska"},   {"PT", "Portugalia"}, {"RO", "Rumunia"},   {"SK", "Słowacja"},  {"SI", "Słowenia"},
    {"ES", "Hiszpania"}, {"SE", "Szwecja"}};

}  // namespace

Structure template_layout(std::string_view name) {
  for (const auto& entry : tables::firm_catalogue())
    if (entry.kind == tables::CatalogueEntry::Index && entry.name == name) {
      Structure s = key_structure(TagPairs(entry.tags.begin(), entry.tags.end()));
      detail::merge_field(s, C("opis", 30));
      return s;
    }
  return {C("lpp", 10), C("nazwa", 40), N("wartosc", 12, 2), D("data")};
}

namespace {

void write_rates(const std::string& path, const Structure& layout, Prng prng) {
  // Rates in ten-thousandths, moved by up to 3% a day: integers, the same figures on
  // every floating-point unit.
  static const long long kBase[] = {40200, 42700, 27100, 10900, 24900, 45500, 50800, 29300, 2900};
  TableWriter w(path, layout);
  long first = days_from_civil(2024, 12, 2), last = days_from_civil(2026, 3, 31);
  for (long d = first; d <= last; ++d) {
    if (weekday(d) >= 5) continue;  // no rates on weekends: a lookup the day after finds none
    w.append();
    w.date("data", dtos(d));
    int column = 0;
    for (const char* code : {"USD", "EUR", "JPY", "HUF", "IDR", "CHF", "GBP", "ISK", "KRW"}) {
      long long rate = (kBase[column++] * (10000 + prng.range(-300, 300)) + 5000) / 10000;
      w.number(code, static_cast<double>(rate) / 10000.0);
    }
  }
  w.close();
}

void write_shared_str(const std::string& dir, const SharedTable& t, Prng prng) {
  std::string path = join(dir, std::string(t.name) + ".dbf");
  Structure layout = shared_layout(t);
  std::string name = t.name;
  if (name == "euro" || name == "ebc_euro") return write_rates(path, layout, prng);
  TableWriter w(path, layout);
  if (name == "min_zus") {
    for (int y = 2024; y <= 2026; ++y)
      for (int m = 1; m <= 12; ++m) {
        char mc[3];
        std::snprintf(mc, sizeof mc, "%02d", m);
        w.append();
        w.text("rok", std::to_string(y));
        w.text("mc", mc);
        w.number("kwota", 4242.00 + 100 * (y - 2024));
      }
  } else if (name == "ods_tab") {
    const char* dates[] = {"20231005", "20240101", "20250704", "20251105"};
    const double rates[] = {11.25, 11.25, 10.75, 10.25};
    for (int i = 0; i < 4; ++i) {
      w.append();
      w.date("data", dates[i]);
      w.number("stopa", rates[i]);
    }
  } else if (name == "p_wolne") {
    const char* days[] = {"20260101", "20260106", "20260405", "20260406", "20260501", "20260503",
                          "20260524", "20260604", "20260815", "20261101", "20261111", "20261224", "20261225",
                          "20261226"};
    for (const char* d : days) {
      w.append();
      w.date("od_daty", d);
      w.text("opis", "Dzien wolny");
    }
  } else if (name != "wzorce") {
    for (int i = 1; i <= 12; ++i) {
      w.append();
      for (const auto& f : layout) {
        if (f.type == 'D') w.date(f.name, dtos(days_from_civil(2025, 1, 1) + prng.range(0, 400)));
        else if (f.type == 'N') w.number(f.name, static_cast<double>(prng.range(1, 9999)));
        else w.text(f.name, f.name.substr(0, 3) + std::to_string(1000 + i));
      }
    }
  }
  w.close();
}

}  // namespace

void write_templates(const std::string& dir, bool release, table::WorkAreas& areas, Prng prng) {
  make_directories(dir);
  Era era = release ? Era::Release : Era::Old;
  for (const char* name : kFirmTemplates) write_empty(join(dir, std::string(name) + ".dbf"), find_firm_table(name)->layout(era));
  for (const char* name : kOtherTemplates) {
    Structure s = template_layout(name);
    TableWriter w(join(dir, std::string(name) + ".dbf"), s);
    if (std::string_view(name) == "pity" || std::string_view(name) == "pl_min" || std::string_view(name) == "st_ref") {
      for (int i = 1; i <= 5; ++i) {
        w.append();
        w.text("lpp", std::to_string(i));
        w.text("nazwa", std::string(name) + " " + std::to_string(i));
        w.number("wartosc", 100.0 * i);
        w.date("data", "20260101");
      }
    }
    w.close();
  }
  write_empty(join(dir, "klient.dbf"), klient_layout());

  // The version records: the firm's template and the list of versions.
  {
    TableWriter w(join(dir, "wersja.dbf"), wersja_firm_layout());
    w.append();
    w.text("baza", release ? kDatabaseVersion : "025.01.050");
    w.number("nr", release ? 26.01 : 25.01);
    w.text("wariant", release ? "033" : "050");
    w.close();
    TableWriter v(join(dir, "wersje.dbf"), wersje_layout());
    for (const char* ver : {"25.01.050", "26.01.001", "26.01.016", "26.01.030", "26.01.033"}) {
      if (!release && std::string_view(ver) > "25.01.050") break;
      v.append();
      v.text("wersja", ver);
      v.text("opis", std::string("Wersja ") + ver);
    }
    v.close();
  }
  {
    TableWriter w(join(dir, "speed.dbf"), speed_layout());
    const std::pair<const char*, int> rows[] = {{"25.01.050", 1}, {"26.01.001", 2}, {"26.01.016", 3}, {"26.01.030", 4}};
    for (const auto& [ver, speed] : rows) {
      w.append();
      w.text("wersja", ver);
      w.number("speed", speed);
    }
    w.close();
  }
  {
    TableWriter w(join(dir, "ue.dbf"), ue_layout());
    for (const auto& c : kEuCountries) {
      w.append();
      w.text("kod", c[0]);
      w.text("nazwa", cp852(c[1]));
    }
    w.close();
  }
  {
    TableWriter w(join(dir, "nazwy.dbf"), nazwy_layout());
    if (!release) {
      // Two workstations that have upgraded before: the time estimate has figures.
      const char* names[] = {"STANOWISKO_1", "KSIEGOWOSC"};
      for (int i = 0; i < 2; ++i) {
        w.append();
        w.text("nazwa", names[i]);
        w.date("data", "20251215");
        w.text("godz", "10:15:00");
        for (int n = 1; n <= 6; ++n) w.number("czas" + std::to_string(n), 40.0 * n + 15 * i);
      }
    }
    w.close();
  }
  {
    TableWriter w(join(dir, "semafor.dbf"), semafor_layout());
    w.append();
    w.text("nazwa", "ZUV");
    w.date("data", "20251231");
    w.text("godz", "00:00:00");
    w.close();
  }
  for (const auto& t : shared_tables())
    if (std::string_view(t.directory) == "str\\" && std::string_view(t.name) != "wzorce")
      write_shared_str(dir, t, prng.fork(Prng::salt_of(t.name)));

  write_plain(join(dir, "fix_cfg.xml"),
              "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<fix wersja=\"" +
                  std::string(release ? kProgramVersion : kInstalledVersion) + "\">\r\n  <poprawka nr=\"1\"/>\r\n</fix>\r\n");
  write_plain(join(dir, "rcx.acc"), std::string("RCX;") + (release ? kProgramVersion : kInstalledVersion) + ";0001\r\n");
  if (release) {
    write_plain(join(dir, "afaktury.cfg"), "[afaktury]\r\nwersja=26.01.033\r\nbramka=https://ksef.example/api\r\n");
    write_plain(join(dir, "enova_st.xlsx"), std::string("PK\x03\x04", 4) + "enova_st: arkusz wzorcowy\r\n");
    write_plain(join(dir, "ksefz.xlsx"), std::string("PK\x03\x04", 4) + "ksefz: arkusz wzorcowy\r\n");
  } else {
    for (const char* name : kRetiredFiles) {
      std::string file(name);
      if (file.size() > 4 && file.substr(file.size() - 4) == ".dbf") {
        Structure s = {C("lpp", 10), C("nazwa", 40)};
        if (file == "pt.dbf") s.push_back(M("uwagi"));  // "pt.fpt" is its memo file
        write_empty(join(dir, file), s);
      } else if (file != "pt.fpt") {
        write_plain(join(dir, file), "-----BEGIN " + file + "-----\r\n");
      }
    }
    // The old database had every shared "str\" index; the upgrade deletes and rebuilds them.
    for (const auto& t : shared_tables())
      if (std::string_view(t.directory) == "str\\" && std::string_view(t.name) != "wzorce")
        build_index(areas, dir, t.name, t.tags);
  }
}

}  // namespace zuv::sample
