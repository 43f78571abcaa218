// The layouts of the firm tables that the release's conversion steps read, convert
// or address by position: each in the previous release's layout (what a firm of the
// sample holds) and in the release's (what the templates of "str\" hold). The tests
// include this header by path, so the positions below are stated once.
//
// docs/sample.md lists the same tables with their field counts and positions.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/table/field.h"

namespace zuv::sample {

using table::FieldInfo;
using table::Structure;

enum class Era { Old, Release };

inline FieldInfo C(std::string name, int length) { return {std::move(name), 'C', length, 0}; }
inline FieldInfo N(std::string name, int length, int decimals = 0) { return {std::move(name), 'N', length, decimals}; }
inline FieldInfo D(std::string name) { return {std::move(name), 'D', 8, 0}; }
inline FieldInfo L(std::string name) { return {std::move(name), 'L', 1, 0}; }
inline FieldInfo M(std::string name) { return {std::move(name), 'M', 10, 0}; }

inline std::string lib_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Fields the suite keeps but no step reads, up to count fields in all: prefix and the
// field's 1-based position ("P049"), narrow texts, so that wide layouts stay small.
inline void pad_to(Structure& s, std::size_t count, const char* prefix) {
  while (s.size() < count) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%03zu", prefix, s.size() + 1);
    s.push_back(C(name, 2));
  }
}

// ---------------------------------------------------------------- field counts

// Counts that the steps test; each old layout is below its step's threshold and each
// release layout at or above it.
namespace counts {
constexpr std::size_t kFirmaOld = 145, kFirmaRelease = 146;
constexpr std::size_t kVInneOld = 13, kVInneRelease = 15;
constexpr std::size_t kVOssOld = 49, kVOssRelease = 52;
constexpr std::size_t kKsefPOld = 15, kKsefPRelease = 23;
constexpr std::size_t kVdOld = 81, kVdRelease = 83;
constexpr std::size_t kRk200Old = 30, kRk200Release = 32;
constexpr std::size_t kDataOld = 54, kDataRelease = 56;
constexpr std::size_t kKsDokOld = 92, kKsDokRelease = 93;
constexpr std::size_t kKsefBzOld = 175, kKsefBzRelease = 215;
constexpr std::size_t kKsefBsOld = 175, kKsefBsRelease = 210;
constexpr int kLineThirdOld = 8, kLineThirdRelease = 20;  // "indeks" of ksef_bsa/ksef_bza
}  // namespace counts

// Positions (1-based) the steps address.
namespace positions {
constexpr int kVOssVat[4] = {30, 34, 38, 42};
constexpr int kBzRateFirst = 35, kBzRateLast = 48;
constexpr int kBzCategoryFirst = 129, kBzCategoryLast = 156;
constexpr int kBsDomesticFirst = 32, kBsDomesticLast = 45;
constexpr int kBsForeignFirst = 46, kBsForeignLast = 49;
constexpr int kNipCounterFirst = 16, kNipCounterLast = 29;
}  // namespace positions

// The per-rate totals of the KSeF document buffers, in field order.
inline const std::vector<std::string>& rate_totals() {
  static const std::vector<std::string> names = {"n23", "n8", "n5", "n4", "n0", "v23", "v8",
                                                 "v5", "v4", "v23pln", "v8pln", "v5pln", "v4pln", "zw"};
  return names;
}
// Purchase categories in the order the buffer conversion lists them (MAG before MTZ).
inline const std::vector<std::string>& buffer_categories() {
  static const std::vector<std::string> codes = {"STS", "STI", "STA", "TOW", "UBO", "INN", "PAL",
                                                 "LEA", "PZU", "MAG", "MTZ", "MTP", "MRU", "MRL"};
  return codes;
}
// Purchase categories in the order of the taxpayer summary's counters (MAG last).
inline const std::vector<std::string>& summary_categories() {
  static const std::vector<std::string> codes = {"STS", "STI", "STA", "TOW", "UBO", "INN", "PAL",
                                                 "LEA", "PZU", "MTZ", "MTP", "MRU", "MRL", "MAG"};
  return codes;
}

// ---------------------------------------------------------------- the firm tables

inline Structure wersja_firm_layout() { return {C("baza", 10), N("nr", 6, 2), C("wariant", 3)}; }

inline Structure firma_layout(Era era) {
  Structure s = {C("ident", 30),     C("nazwa", 60),    C("nip", 13),   C("vt", 1),
                 C("ryczalt", 1),    C("ksef_rules", 6), C("ksef_serw", 1), C("miasto", 30),
                 C("ulica", 40),     C("regon", 14),    C("kod_poczt", 6), C("telefon", 20),
                 C("email", 60),     C("us_kod", 4),    N("nrfir", 4)};
  pad_to(s, counts::kFirmaOld, "F");
  if (era == Era::Release) s.push_back(N("METODA_ZD", 1, 0));
  return s;
}

inline Structure v_inne_layout(Era era) {
  Structure s = {C("rmc", 6),      C("typ", 2),      C("lpp", 10),     D("data"),      C("opis", 40),
                 N("netto", 12, 2), N("vat", 12, 2), N("brutto", 12, 2), C("kas", 1),  C("nip", 13),
                 C("nazwa", 60),   C("nr_dok", 30),  C("uwagi", 40)};
  if (era == Era::Release) s.insert(s.end(), {C("NR_KSEF", 36), C("KSEF_SERW", 1)});
  return s;
}

// v_jpkd, v_jpke and v7_jpk share one layout; the release adds the KSeF number.
inline Structure jpk_layout(Era era) {
  Structure s = {C("rmc", 6), C("nrk", 10), C("grupa", 4), D("data_dok"), C("kas", 1),
                 C("lpp", 10), N("netto", 12, 2), N("vat", 12, 2), C("nip", 13)};
  if (era == Era::Release) s.insert(s.end(), {C("nr_ksef", 36), C("ksef_serw", 1)});
  return s;
}

inline Structure wspolnik_layout() {
  return {C("lpp", 10), C("lpp_o", 10), C("nazwisko", 40), C("gzus", 1),
          N("prz52", 12, 2), N("p52", 10, 2), N("udzial", 6, 2)};
}

// Four rate groups at 27..42: rate, net, gross and VAT, the VAT at 30, 34, 38, 42.
inline Structure v_oss_layout(Era era) {
  Structure s = {C("lpp", 10),       C("rmc", 6),        C("pczk_kod", 2),   D("d_dost"),        D("d_wyst"),
                 C("nr_dok", 30),    C("kraj", 2),       C("wal_kwb", 3),    N("kw_nal", 14, 2), N("kurs_zap", 15, 8),
                 N("pln_netto", 14, 2), N("pln_vat", 14, 2), C("nip", 13),   C("nazwa", 60),     C("adres", 60),
                 C("opis", 40),      C("kas", 1),        C("kor", 1),        C("lpp_ks", 10),    C("rodzaj", 1),
                 C("usluga", 1),     D("data_zap"),      C("nr_zap", 20),    C("uwagi", 40),     D("kurs_dat"),
                 C("tab_kurs", 20)};
  for (int g = 1; g <= 4; ++g) {
    std::string n = std::to_string(g);
    s.insert(s.end(), {N("stawka" + n, 5, 2), N("netto" + n, 14, 2), N("brutto" + n, 14, 2), N("vat" + n, 14, 2)});
  }
  s.insert(s.end(), {N("razem_n", 14, 2), N("razem_v", 14, 2), N("razem_b", 14, 2), N("lp", 6), C("operator", 10),
                     D("d_wpr"), C("status", 1)});
  if (era == Era::Release) s.insert(s.end(), {N("KURS_DOCH", 15, 8), N("RK_NETTO", 12, 2), N("ST_R", 4, 1)});
  return s;
}

inline void add_rate_totals(Structure& s) {
  for (const auto& name : rate_totals()) s.push_back(N(name, 14, 2));
}

// Purchase documents: per-rate totals at 35..48, category pairs at 129..156.
inline Structure ksef_bz_layout(Era era) {
  Structure s = {C("lpp", 10),      D("data_p1"),      C("is_k", 1),       C("nr_ksef", 36),  C("nip", 13),
                 C("typ_fak", 10),  C("bn", 1),        C("nr_dok", 40),    C("nazwa", 80),    C("adres", 80),
                 C("kraj", 2),      C("nip_kraj", 2),  C("waluta", 3),     N("kurs", 12, 6),  D("d_dok"),
                 D("d_wpl"),        D("termin"),       N("brutto", 14, 2), N("netto", 14, 2), N("vat", 14, 2),
                 C("all_zw", 1),    C("is_marza", 1),  C("kas", 1),        C("lpp_ks", 10),   C("status", 1),
                 C("ksef_serw", 1), N("n_eur", 14, 2), N("v_eur", 14, 2),  N("b_eur", 14, 2), C("forma", 20),
                 C("konto", 30),    N("zaplac", 14, 2), M("xml"),          C("id_wew", 10)};
  add_rate_totals(s);
  pad_to(s, positions::kBzCategoryFirst - 1, "P");
  for (const auto& code : buffer_categories()) {
    std::string c = lib_lower(code);
    s.insert(s.end(), {N("n_" + c, 14, 2), N("v_" + c, 14, 2)});
  }
  pad_to(s, counts::kKsefBzOld, "P");
  if (era == Era::Release) pad_to(s, counts::kKsefBzRelease, "Q");
  return s;
}

// Sales documents: domestic totals at 32..45, foreign totals at 46..49.
inline Structure ksef_bs_layout(Era era) {
  Structure s = {C("lpp", 10),      D("data_p1"),       C("is_k", 1),      C("nr_ksef", 36),   C("nip", 13),
                 C("typ_fak", 10),  C("bn", 1),         C("nr_dok", 40),   C("nazwa", 80),     C("adres", 80),
                 C("kraj", 2),      C("nip_kraj", 2),   C("waluta", 3),    N("kurs", 12, 6),   D("d_dok"),
                 D("termin"),       N("brutto", 14, 2), C("all_zw", 1),    C("is_marza", 1),   C("oss", 1),
                 N("n_oss", 14, 2), N("v_oss", 14, 2),  N("n", 14, 2),     N("v", 14, 2),      N("b", 14, 2),
                 N("nt", 14, 2),    N("nu", 14, 2),     N("np", 14, 2),    C("kas", 1),        C("ksef_serw", 1),
                 M("xml")};
  add_rate_totals(s);
  s.insert(s.end(), {N("wdt", 14, 2), N("eks_tow", 14, 2), N("eks_usl", 14, 2), N("eks_usl_ue", 14, 2)});
  pad_to(s, counts::kKsefBsOld, "P");
  if (era == Era::Release) pad_to(s, counts::kKsefBsRelease, "Q");
  return s;
}

// Lines of both buffers; the third field's width tells the layouts apart.
inline Structure ksef_line_layout(Era era) {
  return {C("lpp", 10),      C("lppf", 10),    C("indeks", era == Era::Old ? counts::kLineThirdOld : counts::kLineThirdRelease),
          N("lp", 4),        C("nazwa", 60),   N("ilosc", 12, 3), N("cenan", 14, 4), N("cenab", 14, 4),
          N("netto", 14, 2), N("vat", 14, 2),  N("brutto", 14, 2), C("ptu", 5),     C("on", 2),
          N("netto_u", 14, 2), N("vat_u", 14, 2), C("dekret", 3), C("jm", 5)};
}

inline Structure ksef_bzb_layout() {
  return {C("lpp", 10), C("lppf", 10), C("dekret", 3), C("kas", 1), N("netto", 14, 2), N("vat", 14, 2), C("konto", 20)};
}

inline Structure vat_ptu_layout() {
  return {C("plik", 2),       C("lpp_g", 10),    C("kor", 1),       C("kas", 1),  C("p1", 2), C("p2", 2),
          N("kn", 14, 2),    N("kb", 14, 2),    N("kv", 14, 2),    C("rmc", 6),  D("data")};
}

inline Structure ks_dok_layout(Era era) {
  Structure s = {C("lpp", 10),       C("tm", 2),          D("datak"),          C("tk", 1),        C("p35", 1),
                 N("kwota1", 14, 2), N("kwota2", 14, 2),  N("kwota3", 14, 2),  N("lp", 8),        D("data_vat"),
                 D("d_dok"),         D("data_zapl"),      C("nr_ksef", 36),    C("ksef_serw", 1), C("nr_dok", 30),
                 C("nip", 13),       C("nazwa", 60)};
  pad_to(s, counts::kKsDokOld, "K");
  if (era == Era::Release) s.push_back(C("ID_WEW", 10));
  return s;
}

inline Structure ks_ref_layout() {
  return {C("lpp", 10), N("netto", 14, 2), N("brutto", 14, 2), N("vat", 14, 2), D("data"), C("nr_dok", 30)};
}

inline Structure sld_buff_layout(Era era) {
  Structure s = {C("lpp_dok", 10), C("lpp_alien", 10), C("kas", 1), N("kwota", 14, 2), D("data")};
  if (era == Era::Release) s.push_back(C("zrodlo", 10));
  return s;
}

inline Structure ksef_p_layout(Era era) {
  Structure s = {C("typ_vat", 2), C("typ_zal", 2), C("nip", 13), C("token", 60), C("srodow", 1),
                 C("kod_us", 4),  C("email", 60),  D("d_start"), C("auto_pob", 1), C("auto_wys", 1),
                 N("dni", 3),     C("wersja", 10), C("cert", 40), C("haslo", 40), C("uwagi", 40)};
  if (era == Era::Release)
    s.insert(s.end(), {C("NAZWA", 80), C("ADRES", 80), C("IDWEW", 40), C("KLI_NR", 40), C("WN", 1), C("WA", 1),
                       C("WI", 1), C("WK", 1)});
  return s;
}

// One counter per purchase category at 16..29.
inline Structure ksef_nip_layout() {
  Structure s = {C("nip", 13), C("nazwa", 80), C("adres", 80), C("kraj", 2), D("d_pierw"), D("d_ost")};
  pad_to(s, positions::kNipCounterFirst - 1, "H");
  for (const auto& code : summary_categories()) s.push_back(N("il_" + lib_lower(code), 8));
  s.push_back(D("d_akt"));
  return s;
}

inline Structure data_layout(Era era) {
  Structure s = {C("rok", 4), D("last_dat"), D("first_dat"), C("mc", 2), C("zamk", 1)};
  pad_to(s, counts::kDataOld, "D");
  if (era == Era::Release) s.insert(s.end(), {C("IMZ_KSEF", 1), C("IMS_KSEF", 1)});
  return s;
}

inline Structure ks_kor_layout() {
  return {C("lpp", 10), C("kas", 1), C("mp", 1), C("c2", 1), C("strona", 1), C("nip", 20), C("nazwa", 60),
          N("kwota", 14, 2), D("data")};
}

inline Structure vd_layout(Era era) {
  Structure s = {C("lpp", 10), C("pz", 1), C("rmc", 6), D("data"), C("nr_dok", 30), C("nip", 13), N("netto", 14, 2),
                 N("vat", 14, 2)};
  pad_to(s, counts::kVdOld, "V");
  if (era == Era::Release) s.insert(s.end(), {C("NR_KSEF", 36), C("KSEF_SERW", 1)});
  return s;
}

inline Structure v_z_layout() {
  return {C("lpp", 10), C("rmc", 6), D("data"), C("lpp_ks", 10), C("nr_ksef", 36), C("ksef_serw", 1),
          N("netto", 14, 2), N("vat", 14, 2), C("nip", 13)};
}

inline Structure rk_200_layout(Era era) {
  Structure s = {C("lpp", 10), C("lpp_ks", 10), C("strona", 1), D("data_d"), N("kwota", 14, 2), C("opis", 40)};
  pad_to(s, counts::kRk200Old, "R");
  if (era == Era::Release) s.insert(s.end(), {C("NR_KSEF", 36), C("KSEF_SERW", 1)});
  return s;
}

inline Structure idw_lst_layout() { return {C("lpp", 10), C("id_wew", 10), C("opis", 40)}; }
inline Structure ksef_dat_layout() { return {D("data"), C("godz", 8), C("nr", 40), C("status", 1)}; }
inline Structure ntx_layout() { return {C("nazwa", 12), L("ok")}; }
inline Structure klient_layout() {
  return {C("symbol", 10), C("nazwa_sk", 30), C("nazwa", 80), C("miasto", 30), C("nip", 13), M("uwagi")};
}

// ---------------------------------------------------------------- which firm tables convert

// A firm table with a layout of its own, and the version of the last step that brings
// it to the release's layout ("" when the layout never changes). A firm at or above
// that version holds the release's layout.
struct FirmTable {
  const char* name;
  const char* converted_by;
  Structure (*layout)(Era);
  bool large;  // holds the run's record count
};

namespace detail {
inline Structure wersja_any(Era) { return wersja_firm_layout(); }
inline Structure wspolnik_any(Era) { return wspolnik_layout(); }
inline Structure bzb_any(Era) { return ksef_bzb_layout(); }
inline Structure vat_ptu_any(Era) { return vat_ptu_layout(); }
inline Structure ks_ref_any(Era) { return ks_ref_layout(); }
inline Structure ksef_nip_any(Era) { return ksef_nip_layout(); }
inline Structure ks_kor_any(Era) { return ks_kor_layout(); }
inline Structure v_z_any(Era) { return v_z_layout(); }
inline Structure idw_any(Era) { return idw_lst_layout(); }
inline Structure ksef_dat_any(Era) { return ksef_dat_layout(); }
inline Structure ntx_any(Era) { return ntx_layout(); }
inline Structure klient_any(Era) { return klient_layout(); }
}  // namespace detail

inline const std::vector<FirmTable>& firm_tables() {
  static const std::vector<FirmTable> tables = {
      {"wersja", "", detail::wersja_any, false},
      {"firma", "026.01.006", firma_layout, false},
      {"v_inne", "026.01.003", v_inne_layout, false},
      {"v_jpkd", "026.01.003", jpk_layout, false},
      {"v_jpke", "026.01.003", jpk_layout, false},
      {"v7_jpk", "026.01.003", jpk_layout, false},
      {"wspolnik", "", detail::wspolnik_any, false},
      {"v_oss", "026.01.007", v_oss_layout, true},
      {"ksef_bs", "026.01.033", ksef_bs_layout, true},
      {"ksef_bz", "026.01.033", ksef_bz_layout, true},
      {"ksef_bsa", "026.01.007", ksef_line_layout, true},
      {"ksef_bza", "026.01.007", ksef_line_layout, true},
      {"ksef_bzb", "", detail::bzb_any, true},
      {"vat_ptu", "", detail::vat_ptu_any, true},
      {"ks_dok", "026.01.030", ks_dok_layout, true},
      {"ks_ref", "", detail::ks_ref_any, false},
      {"sld_buff", "026.01.007", sld_buff_layout, false},
      {"ksef_p", "026.01.015", ksef_p_layout, false},
      {"ksef_nip", "", detail::ksef_nip_any, false},
      {"data", "026.01.030", data_layout, false},
      {"ks_kor", "", detail::ks_kor_any, true},
      {"vd", "026.01.025", vd_layout, false},
      {"v_z", "", detail::v_z_any, true},
      {"rk_200", "026.01.030", rk_200_layout, false},
      {"idw_lst", "", detail::idw_any, false},
      {"ksef_dat", "", detail::ksef_dat_any, false},
      {"ntx", "", detail::ntx_any, false},
      {"klient\\klient", "", detail::klient_any, false},
  };
  return tables;
}

inline const FirmTable* find_firm_table(std::string_view name) {
  for (const auto& t : firm_tables())
    if (name == t.name) return &t;
  return nullptr;
}

// The era of a table in a firm at firm_version.
inline Era era_for(const FirmTable& t, std::string_view firm_version) {
  if (*t.converted_by == '\0') return Era::Old;
  return std::string_view(firm_version) >= std::string_view(t.converted_by) ? Era::Release : Era::Old;
}

}  // namespace zuv::sample
