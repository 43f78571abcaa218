// The shared tables of a database ("str\" reference tables and "public\" data) whose
// indexes the upgrade rebuilds, with the tags it builds and the fields of the PIT
// repair, and the layouts of the database's own bookkeeping tables. The sample writes
// each of them with the fields its keys need; the tests include this header by path.
#pragma once

#include <string>
#include <vector>

#include "key_fields.h"

namespace zuv::sample {

struct SharedTable {
  const char* name;
  const char* directory;  // "str\\" or "public\\"
  TagPairs tags;
  bool optional;          // the upgrade passes over it when missing
};

inline const std::vector<SharedTable>& shared_tables() {
  static const std::vector<SharedTable> tables = {
      {"min_zus", "str\\", {{"rmc", "rok+mc"}}, false},
      {"pit_opp", "str\\", {{"krs", "krs"}, {"naz", "left(miasto,15)"}}, false},
      {"euro", "str\\", {{"dat", "dtos(data)"}}, false},
      {"ebc_euro", "str\\", {{"dat", "data"}}, false},
      {"gus_m", "str\\", {{"ntx", "nazwa"}}, false},
      {"gus_w", "str\\", {{"ntx", "nr_w"}}, false},
      {"gus_p", "str\\", {{"ntx", "nr_p"}}, false},
      {"gus_g", "str\\", {{"ntx", "nr_g"}}, false},
      {"gus_d", "str\\", {{"ntx", "nr_d"}}, false},
      {"zawody", "str\\", {{"kod", "kod"}}, false},
      {"zus_o", "str\\", {{"lpp", "lpp"}}, false},
      {"zus_m", "str\\", {{"lpp", "lpp"}}, false},
      {"p_wolne", "str\\", {{"dat", "od_daty"}}, false},
      {"us", "str\\", {{"lpp", "lpp"}, {"naz", "us_m"}}, false},
      {"ods_tab", "str\\", {{"dat", "data"}}, false},
      {"wzorce", "str\\", {{"lpp", "nazwa+plik"}}, true},
      {"fpit", "public\\", {{"lpp", "lpp"}, {"nrf", "pit+nrfir+rmc"}, {"rmc", "pit+rmc+nrfir"}}, false},
      {"zuv_lpc", "public\\", {{"nip", "kp+nip+rmc"}}, false},
      {"z52_rok", "public\\", {{"nip", "nip"}}, true},
      {"pit_zap", "public\\",
       {{"lpp", "lpp"}, {"lpf", "lpp_f+dtos(data_z)"}, {"lpw", "lpp_w+dtos(data_z)"}, {"dat", "dtos(data_z)"}},
       false},
      {"wpit", "public\\", {{"lpp", "lpp"}, {"nrw", "pit+lpp_o+rmc"}, {"rmc", "pit+rmc+lpp_o"}}, false},
      {"wf", "public\\", {{"lpp", "lpp"}, {"wf", "lpp_o+nrfir"}, {"fw", "nrfir+lpp_o"}}, false},
      {"own", "public\\", {{"lpp", "lpp"}}, false},
      {"fir_dok", "public\\", {{"lpp", "nr+data"}}, false},
      {"crm_vat", "public\\", {{"lpp", "lpp"}, {"nrf", "rmc+nrfir"}}, false},
      {"crm_jpk", "public\\", {{"lpp", "lpp"}, {"nrf", "rmc+nrfir"}, {"kas", "kas"}}, false},
      {"nip_list", "public\\", {{"nip", "ue+nip"}}, false},
      {"crm_vue", "public\\", {{"lpp", "lpp"}, {"nrf", "rmc+nrfir"}}, false},
      {"crm_p4r", "public\\", {{"lpp", "lpp"}, {"nrf", "nrfir"}}, false},
      {"crm_pit", "public\\", {{"lpp", "lpp"}, {"nrf", "rmc+nrfir+lpp_o"}}, false},
      {"crm_zua", "public\\", {{"lpp", "lpp"}, {"nrf", "rmc+nrfir+id_zuv"}}, false},
      {"crm_rmc", "public\\", {{"rmc", "modul+komp"}}, false},
      {"crm_p11", "public\\", {{"lpp", "lpp"}, {"nrf", "nrfir+lpp_p"}, {"upc", "lpp_upc"}}, false},
      {"crm_upc", "public\\", {{"lpp", "lpp"}, {"glp", "lpp_g+lpp_l+lpp_p"}, {"k", "k"}}, false},
      {"crm_12", "public\\", {{"lpp", "lpp"}, {"nrf", "nrfir+lpp_o"}}, false},
      {"crm_msg", "public\\", {{"lpp", "lpp"}, {"odb", "id_o+ndata"}}, false},
      {"fak", "public\\", {{"lpp", "lpp"}, {"fdk", "str(nrfir0,4,0)+rf+nrdok+przez"}}, false},
      {"faka", "public\\", {{"lpp", "lpp"}, {"lpf", "lppf"}}, false},
      {"workus", "public\\", {{"lpp", "lpp+data"}}, false},
      {"reminder", "public\\", {{"lpp", "lpp"}, {"usu", "usu"}, {"ulpp", "u_lpp"}}, false},
      {"mail_log", "public\\", {{"lpp", "lpp"}, {"lpu", "lpp_u"}}, false},
      {"e_lista", "public\\", {{"lpp", "lpp"}, {"nr", "nr"}}, false},
      {"limity", "public\\", {{"nip", "nip+nrfir"}}, false},
  };
  return tables;
}

inline const SharedTable* find_shared_table(std::string_view name) {
  for (const auto& t : shared_tables())
    if (name == t.name) return &t;
  return nullptr;
}

// Fields beyond the keys: the PIT repair's amounts and links, the rate columns of the
// exchange-rate tables, the templates' registration.
inline Structure shared_extra_fields(std::string_view name) {
  if (name == "fpit") return {C("pit", 10), C("rmc", 6), C("nrfir", 10), C("lpp", 10), N("kw_zap", 14, 2), N("kw_odsetek", 14, 2)};
  if (name == "wpit") return {C("pit", 10), C("lpp_o", 10), C("lpp", 10), N("kw_zap", 14, 2), N("kw_ods", 14, 2)};
  if (name == "pit_zap")
    return {C("lpp_w", 10), C("lpp_f", 10), C("lpp_o", 10), C("nrfir", 10), N("kwota_gl", 14, 2), N("odsetki", 14, 2)};
  if (name == "wf") return {C("lpp_o", 10), C("nrfir", 10)};
  if (name == "euro" || name == "ebc_euro") {
    Structure s;
    for (const char* code : {"USD", "EUR", "JPY", "HUF", "IDR", "CHF", "GBP", "ISK", "KRW"}) s.push_back(N(code, 12, 6));
    return s;
  }
  if (name == "wzorce") return {C("nazwa", 30), C("plik", 20), D("data")};
  if (name == "ods_tab") return {N("stopa", 6, 2)};
  if (name == "p_wolne") return {C("opis", 40)};
  if (name == "min_zus") return {N("kwota", 12, 2)};
  return {C("opis", 30)};
}

inline Structure shared_layout(const SharedTable& t) {
  Structure s = key_structure(t.tags);
  for (auto& f : shared_extra_fields(t.name)) detail::merge_field(s, f);
  return s;
}

// ---------------------------------------------------------------- bookkeeping tables

// The database's version record, also the release's "wb.dbf".
inline Structure wersja_database_layout() { return {C("baza", 10), C("zuv", 9), C("ok", 1), C("rok", 4)}; }
// The program's version record, also the release's "wk.dbf".
inline Structure wersja_program_layout() { return {C("rok", 4), C("zuv", 9)}; }
inline Structure baza_layout() { return {C("PATH", 60)}; }
inline Structure install_layout() { return {N("nr", 4), C("nazwa", 60), C("nip", 13), D("data")}; }
inline Structure semafor_layout() { return {C("nazwa", 20), D("data"), C("godz", 8)}; }
// Workstations: field 1 the name, from field 4 on the measured durations (column n is
// field 3 + n).
inline Structure nazwy_layout() {
  Structure s = {C("nazwa", 20), D("data"), C("godz", 8)};
  for (int n = 1; n <= 6; ++n) s.push_back(N("czas" + std::to_string(n), 10, 2));
  return s;
}
inline Structure speed_layout() { return {C("wersja", 9), N("speed", 2)}; }
inline Structure ue_layout() { return {C("kod", 2), C("nazwa", 30)}; }
inline Structure wersje_layout() { return {C("wersja", 9), C("opis", 60), D("data")}; }
inline Structure pub_dat_layout() {
  return {D("nv_d_check"), C("nv_t_check", 8), C("nv_r_check", 40), D("nv_d_down0"), D("nv_d_down1"),
          C("nv_t_down0", 8), C("nv_t_down1", 8)};
}

}  // namespace zuv::sample
