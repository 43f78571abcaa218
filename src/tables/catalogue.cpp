#include "tables/catalogue.h"

#include <map>

#include "lib/files.h"
#include "platform/base/discard.h"
#include "platform/error/call_context.h"
#include "platform/error/error.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/unchanged_files.h"
#include "tables/index_ops.h"
#include "tables/table_access.h"

namespace zuv::tables {

const std::vector<CatalogueEntry>& firm_catalogue() {
  using Entry = CatalogueEntry;
  static const std::vector<CatalogueEntry> catalogue = {
    {Entry::Index, "workus", "", {{"lpp", "lpp+data"}}},
    {Entry::Index, "wydruki", "", {{"lpp", "typ_id+lpp_id+typ_wydr"}}},
    {Entry::Index, "ks_wsp", "", {{"lpp", "lpp_dok"}, {"lpo", "lpp_o"}}},
    {Entry::Index, "wsp_roz", "", {{"lpr", "lpp_o+mc"}}},
    {Entry::Index, "wsp_ins", "", {{"lpo", "lpp_o"}}},
    {Entry::Index, "wsp_str", "", {{"lpo", "lpp_o+rok"}}},
    {Entry::Index, "deposit", "", {{"lpo", "lpp_o"}, {"lpp", "lpp"}}},
    {Entry::Index, "rdeposit", "", {{"lpo", "lpp_o"}, {"lpp", "lpp"}}},
    {Entry::Index, "rif_mc", "", {{"lpp", "lpp_o+lpp+mc"}}},
    {Entry::Index, "st_d", "", {{"lpp", "nrinw+lpp_g+rmc_ot"}}},
    {Entry::Index, "st_gn", "", {{"lpp", "lpp"}}},
    {Entry::Index, "st_en", "", {{"lpp", "lpp"}, {"lpg", "lpp_g"}}},
    {Entry::Index, "st_on", "", {{"lpp", "lpp"}, {"grm", "lpp_g+rmc"}, {"rmg", "rmc+lpp_g"}}},
    {Entry::Index, "st_kst", "", {{"lpp", "lpp"}, {"kst", "g+kst"}}},
    {Entry::Index, "st_dok", "", {{"lpg", "lpp_g+rmc+tip"}, {"lpp", "lpp"}, {"tip", "tip+lpp_g+rmc"}}},
    {Entry::Index, "st_mc", "", {{"rmc", "rmc"}}},
    {Entry::Index, "st_in", "", {{"lpp", "lpp"}}},
    {Entry::Index, "st_fn", "", {{"lpp", "lpp"}, {"dat", "data"}}},
    {Entry::Index, "st_wn", "", {{"lpp", "lpp"}, {"dat", "data_zak"}}},
    {Entry::Delete, "dsto.dbf", "", {}},
    {Entry::Delete, "dsto.lpp", "", {}},
    {Entry::Delete, "st_dd.dbf", "", {}},
    {Entry::Index, "klient\\klient", "", {{"naz", "nazwa_sk"}, {"msc", "miasto"}, {"lpp", "symbol"}}},
    {Entry::Index, "ks_kor", "", {{"lpp", "lpp"}, {"kas", "kas"}}},
    {Entry::Index, "ks_kora", "", {{"lpp", "lpp"}, {"kas", "kas"}, {"kso", "lpp_sk"}}},
    {Entry::Index, "ks_raty", "", {{"lpp", "lpp"}, {"kas", "kas"}, {"kso", "lpp_sk+dtos(termin)"}}},
    {Entry::Index, "cov_pom", "", {{"dat", "data_o"}}},
    {Entry::Index, "kso_ptu", "", {{"lpg", "plik+lpp_g"}, {"kas", "kas"}}},
    {Entry::Index, "ksa_bnk", "", {{"lpp", "lpp"}}},
    {Entry::Index, "ksa_dok", "", {{"lpp", "lpp"}, {"lpr", "lpp_r+poz"}, {"kli", "rkli+lpp_kli"}, {"dok", "lpp_dok"}}},
    {Entry::Index, "ksa_roz", "", {{"lpp", "lpp"}, {"lpk", "Tkli+lpp_kli+dtos(data_ter)"}, {"Troz", "Troz+dtos(data_ter)"}}},
    {Entry::Index, "ksa_rap", "", {{"lpp", "lpp_b+lpp"}}},
    {Entry::Index, "v_p", "", {{"lpp", "lpp"}, {"dat", "mc+dtos(data)+lpp"}, {"lpk", "lpp_ks"}, {"fis", "lpp+kor_fisk"}}},
    {Entry::Index, "v_zwrot", "", {{"lpp", "lpp_vp"}}},
    {Entry::Index, "v_z", "", {{"lpp", "lpp"}, {"dat", "rmc+dtos(data)+lpp"}, {"lpk", "lpp_ks"}}},
    {Entry::Index, "v_f", "", {{"rmc", "rmc"}}},
    {Entry::Index, "v_fa", "", {{"lpp", "lpp_f+rmc"}}},
    {Entry::Index, "ks_dok", "", {{"lpp", "lpp"}, {"dat", "tm+dtos(datak)"}}},
    {Entry::Index, "sam_rej", "", {{"lpp", "lpp"}}},
    {Entry::Index, "sam_dok", "", {{"lpp", "lpp"}, {"kss", "lpp_kss+dtos(data)"}}},
    {Entry::Index, "sld_buff", "sld_buff.dbf", {{"lpp", "lpp_dok"}, {"lps", "lpp_alien"}, {"kas", "kas"}}},
    {Entry::Index, "ks_auto", "", {{"lpp", "lpp"}, {"lpz", "lpp_ksz"}, {"lps", "lpp_zuv"}}},
    {Entry::Index, "ks_mag", "", {{"lpp", "lpp"}, {"dat", "d_dok"}}},
    {Entry::Index, "ks_maga", "", {{"lpp", "lpp"}, {"lpm", "lpp_mg+dtos(d_dok)"}}},
    {Entry::Index, "mtu", "", {{"lpp", "lpp"}, {"sort", "sort"}, {"rmc", "rmc"}}},
    {Entry::Index, "mtua", "", {{"lpp", "lpp"}, {"sort", "lpp_mtu+sort"}}},
    {Entry::Index, "v_m", "", {{"lpp", "lpp"}, {"dat", "dtos(p22)"}}},
    {Entry::Index, "ks_zl", "", {{"lpp", "lpp"}, {"lpv", "nr_zam+dtos(data)"}}},
    {Entry::Index, "ks_zlz", "", {{"lpp", "lpp"}, {"lpv", "nr_zam+dtos(data)"}}},
    {Entry::Index, "vd", "", {{"lpp", "lpp"}, {"rmc", "pz+rmc"}, {"lpv", "pz+dtos(data)"}}},
    {Entry::Index, "v_ue", "", {{"rmc", "rmc+nrks"}}},
    {Entry::Index, "v_uea", "", {{"rmc", "lpp_ue+wdt+wtt+ue+nip"}}},
    {Entry::Index, "v_mag", "", {{"lpp", "lpp"}, {"rmc", "dtos(data_dok)"}}},
    {Entry::Index, "v_o", "", {{"rmc", "rmc+nrks"}}},
    {Entry::Index, "v_oa", "", {{"lpp", "lpp_vo+nip"}}},
    {Entry::Index, "pr_mc", "", {{"rmc", "rok+mc"}}},
    {Entry::Index, "pr_cz", "", {{"lpp", "lpp"}, {"naz", "ind"}}},
    {Entry::Index, "pr", "", {{"lpp", "lpp"}, {"lpc", "lpp_cz+dtos(data)"}}},
    {Entry::Index, "v_rws", "", {{"rmc", "kas+rmc+typ"}}},
    {Entry::Index, "v_7n", "", {{"rmc", "rmc+nrks"}}},
    {Entry::Index, "v_7na", "", {{"lpp", "rmc+nrks+rodz"}}},
    {Entry::Index, "v_inne", "", {{"rmc", "rmc+typ"}}},
    {Entry::Index, "v_uni", "", {{"lpp", "lpp"}, {"typ", "typ+rmc+dtos(data_dok)"}, {"kas", "kas"}}},
    {Entry::Index, "v_oss", "", {{"lpp", "lpp"}, {"dat", "d_dost"}, {"rmc", "pczk_kod+rmc"}}},
    {Entry::Index, "v_ossn", "", {{"nue", "kraj"}}},
    {Entry::Index, "v_jpkd", "", {{"rmc", "rmc+nrk"}}},
    {Entry::Index, "v_jpke", "", {{"rmc", "grupa+rmc+nrk+dtos(data_dok)"}, {"kas", "kas"}}},
    {Entry::Index, "v7_jpk", "", {{"rmc", "rmc+nrk"}}},
    {Entry::Index, "v_edek", "", {{"lpp", "dek+rmc+kor"}}},
    {Entry::Index, "v_st", "", {{"lpp", "lpp"}, {"rc0", "rmc0"}, {"rc1", "dtos(data)"}}},
    {Entry::Index, "v_kor", "", {{"r10", "rok1+rok0"}, {"r01", "rok0+rok1"}}},
    {Entry::Index, "rk_dok", "", {{"lpp", "lpp"}, {"lpd", "lpp_rkl+dtos(b_data)+lpp"}, {"wnd", "lpp_rkl+strona+L_stan+dtos(b_data)+lpp"}}},
    {Entry::Index, "rk_zal", "", {{"lpp", "lpp"}, {"dok", "lpp_dok"}, {"kli", "lpp_kli"}}},
    {Entry::Index, "rk_roz", "", {{"lpp", "lpp"}, {"lpw", "lpp_wn"}, {"lpa", "lpp_ma"}}},
    {Entry::Index, "rk_redyt", "", {{"lpp", "lpp"}, {"lpw", "lpp_wn"}, {"lpa", "lpp_ma"}}},
    {Entry::Index, "rk_200", "", {{"lpk", "lpp_ks"}, {"lsd", "strona+dtos(data_d)"}}},
    {Entry::Index, "rk_rap", "", {{"rkl", "lpp_rkl+nr_rap"}}},
    {Entry::Index, "de_mini", "", {{"dat", "data"}}},
    {Entry::Index, "ks_fw", "", {{"dat", "dtos(d_zuv)"}}},
    {Entry::Index, "ks_fwa", "", {{"lpf", "lpp_fw"}, {"lpa", "lpp_fwa"}}},
    {Entry::Index, "ks_tow", "", {{"lpp", "lpp_tow"}, {"ppp", "skrot"}}},
    {Entry::Index, "ks_spisa", "", {{"lpp", "lpp_spis"}, {"poz", "lpp_poz"}}},
    {Entry::Index, "ks_dw", "", {{"lpp", "lpp_dw"}}},
    {Entry::Index, "ks_refa", "", {{"lpp", "lpp"}, {"lpr", "lpp_ref"}}},
    {Entry::Index, "rem_kor", "", {{"lpp", "lpp"}, {"kso", "lpp_rem+lpp_sk"}}},
    {Entry::Index, "vat_ptu", "", {{"lpg", "plik+lpp_g+kor"}, {"kas", "kas"}}},
    {Entry::Index, "p_ald", "p_ald.dbf", {{"lpp", "snazw+lpp_p+lpp_alu+skwoty"}}},
    {Entry::Index, "p_alk", "", {{"lpp", "lpp"}, {"naz", "upper(skrot)"}}},
    {Entry::Index, "p_alu", "", {{"lpp", "lpp"}, {"ppp", "lpp_p+typ"}}},
    {Entry::Index, "p_alp", "", {{"lpp", "lpp"}, {"rmc", "lpp_p+lpp_alu+rmc"}}},
    {Entry::Index, "p_alc", "", {{"sort", "sort"}}},
    {Entry::Index, "p_alca", "", {{"lpp", "lpp"}, {"rmc", "lpp_p+dtos(data)"}}},
    {Entry::Index, "p_cals", "", {{"lpp", "lpp_k+strzero(mc,2,0)"}}},
    {Entry::Index, "p_p", "", {{"lpp", "lpp"}, {"naz", "upper(p7)"}}},
    {Entry::Index, "p_pa", "", {{"lpp", "lpp"}, {"ppp", "lpp_p+sort"}}},
    {Entry::Index, "p_h", "", {{"lpp", "lpp"}, {"ppw", "lpp_p+wmc"}, {"ppz", "lpp_p+zmc"}}},
    {Entry::Index, "p_habs", "", {{"lpp_p", "lpp_p+rok"}}},
    {Entry::Index, "p_ukalk", "", {{"lpp_p", "lpp_p"}}},
    {Entry::Index, "p_f", "", {{"lpp", "lpp"}, {"lmc", "mc+lpp_p"}}},
    {Entry::Index, "p_fs", "", {{"lpp", "lpp"}, {"lmc", "dpm+mc+lpp_p"}}},
    {Entry::Index, "p_fs1", "", {{"lmc", "mc+lpp_p"}}},
    {Entry::Index, "p_f8", "", {{"lpp_p", "lpp_p+z_rmc+nr_w"}, {"kas", "kas"}, {"lpp", "lpp"}}},
    {Entry::Index, "p_doda", "", {{"lpp_d", "lpp_d"}, {"lpp_p", "lpp_p+lpp_d"}}},
    {Entry::Index, "p_dod", "", {{"lpp", "lpp"}, {"zrmc", "z_rmc+dtos(data_w)"}}},
    {Entry::Index, "ppk_dok", "", {{"lpp", "lpp"}, {"lpp_p", "lpp_p+dtos(data)"}, {"typ", "typ+lpp_p+dtos(data)"}}},
    {Entry::Index, "ppk_buf", "", {{"lpp", "lpp"}, {"rmc", "rmc"}}},
    {Entry::Index, "ppk_bufa", "", {{"lpp", "lpp"}, {"lpp_p", "lpp_p+typ+rmc"}, {"lpp_b", "lpp_b+lpp_p+typ+rmc"}}},
    {Entry::Index, "ppk_zap", "", {{"lpp", "lpp"}, {"rmc_z", "rmc_z"}, {"rmc_d", "rmc_d"}}},
    {Entry::Delete, "ppk_tree.dbf", "", {}},
    {Entry::Index, "p_poz", "", {{"lpp", "lpp"}, {"ppp", "lpp_p"}}},
    {Entry::Index, "p_poza", "", {{"lpp", "lpp_z+zmc"}}},
    {Entry::Index, "p_c", "", {{"lpp", "lpp"}, {"lmc", "mc+rodz+lpp_p"}, {"mcl", "lpp_p+rodz+mc"}}},
    {Entry::Index, "p_n", "", {{"lpp", "lpp"}, {"lmc", "lpp_p+dtos(od)"}}},
    {Entry::Index, "p_up", "", {{"lpp", "lpp"}, {"prc", "lpp_p"}, {"naz", "upper(p13)"}}},
    {Entry::Index, "p_um", "", {{"lpp", "lpp"}, {"prc", "lpp_up"}}},
    {Entry::Index, "p_uw", "", {{"lpp", "lpp"}, {"prc", "lpp_up+lpp_um"}}},
    {Entry::Index, "p_ug", "", {{"lpp", "lpp"}, {"prc", "lpp_up+lpp_um"}}},
    {Entry::Index, "p_uz", "", {{"lpp", "lpp"}, {"prc", "lpp_up+lpp_um"}}},
    {Entry::Index, "p_us", "", {{"lpp", "lpp"}, {"pim", "im"}, {"lpp_up", "lpp_up"}}},
    {Entry::Index, "p_work", "", {{"lpp", "lpp"}, {"prc", "lpp_p+dtos(okres_od)"}}},
    {Entry::Index, "p_ud", "", {{"prc", "snazw+lpp_up+lpp_um+sdata"}}},
    {Entry::Index, "p_udz", "", {{"prc", "snazw+lpp_up+lpp_um+sdata"}}},
    {Entry::Index, "p_zlec", "", {{"lpp", "lpp"}, {"rmc", "rmc+lpp_p"}}},
    {Entry::Index, "p_de_wyn", "", {{"lpp", "lpp"}, {"rmc", "rmc+lpp_p+kraj_kod"}, {"lpp_p", "lpp_p+rmc+kraj_kod"}}},
    {Entry::Delete, "p_wyp1.dbf", "", {}},
    {Entry::Delete, "wpu.dbf", "", {}},
    {Entry::Delete, "wp.dbf", "", {}},
    {Entry::Delete, "wh.dbf", "", {}},
    {Entry::Delete, "whw.dbf", "", {}},
    {Entry::Index, "p_fro", "", {{"lpp", "lpp"}, {"ppp", "rmc+lpp_p"}, {"prc", "lpp_p+rmc"}}},
    {Entry::Index, "p_8c", "", {{"lpw", "lpp_up+lpp_wyp+dtos(data)"}}},
    {Entry::Index, "p_8cw", "", {{"lpp", "lpp"}}},
    {Entry::Index, "p_fpar", "", {{"rmc", "rmc"}}},
    {Entry::Index, "p_snp", "", {{"rmc", "lpp_p+dtos(od_daty)"}}},
    {Entry::Index, "p_emeryt", "", {{"rmc", "lpp_p+dtos(od_daty)"}}},
    {Entry::Index, "p_hour", "", {{"rmc", "lpp_p+descend(rmc)"}}},
    {Entry::Index, "p_lo", "", {{"lpp_p", "lpp_p+rmc+dzien"}}},
    {Entry::Index, "p_hard", "", {{"lpp", "lpp"}}},
    {Entry::Index, "p_hwyk", "", {{"lpp", "lpp"}, {"prc", "lpp_p+dtos(data_od)"}}},
    {Entry::Index, "p_kald", "", {{"lpp", "lpp_p"}}},
    {Entry::Index, "pl_kraj", "", {{"lpp", "lpp"}}},
    {Entry::Index, "pl_eur", "", {{"lpp", "lpp"}, {"zmc", "lpp_p+zmc+lpp_kr"}, {"wmc", "lpp_p+wmc+lpp_kr"}, {"rmc", "zmc+lpp_kr"}}},
    {Entry::Index, "pl_183", "", {{"lpp", "lpp"}, {"prmc", "lpp_p+rmc+kraj_kod"}, {"rmcp", "rmc+lpp_p+kraj_kod"}}},
    {Entry::Index, "pl_bud", "", {{"lpp", "lpp"}, {"Kraj", "Kraj"}}},
    {Entry::Index, "p_11dod", "", {{"lpp", "lpp"}, {"rok", "rok+up+lpp_p"}, {"prc", "up+lpp_p+rok"}}},
    {Entry::Index, "p_11ins", "", {{"lpp", "lpp"}, {"prc", "up+lpp_p"}}},
    {Entry::Index, "tabele", "", {{"dat", "dtos(dataod)"}}},
    {Entry::Index, "wspolnik", "", {{"lpo", "lpp_o"}}},
  };
  return catalogue;
}

namespace {

// The tags of the indexes this process built, by table: built again with the same tags
// while neither the table nor the index changed, they would come out the same, so a
// later step's build of them is skipped.
std::map<std::string, TagList>& built_indexes() {
  static std::map<std::string, TagList> built;
  return built;
}

// Whether nobody else has the file open: a build would meet them, and so answers as it
// always has.
bool free_to_build(const std::string& path) {
  os::FileHandle probe;
  return probe.open(os::native_path(path), os::Access::ReadWrite, os::Share::Exclusive) == 0;
}

int build_index(table::WorkAreas& areas, const std::string& data, const std::string& index, const TagList& tags) {
  bool deleted = false;
  for (int attempt = 0; attempt < 20 && !deleted; ++attempt) {
    deleted = lib::DEL_FILE(index).ok();
    if (!deleted) SLEEP(10);
  }
  if (!deleted) return kIndexNotDeleted;

  // A stale area under the working name is closed and the next name taken.
  std::string alias = "roboczy";
  for (int check = 1; check <= 9; ++check) {
    if (!areas.find(alias)) break;
    ZAMKNIJ(areas, alias);
    alias = "roboczy" + std::string(1, char(47 + check));
  }

  bool opened = false;
  for (int attempt = 0; attempt < 11 && !opened; ++attempt) {
    opened = guarded([&] {
      table::UseRequest r;
      r.path = data;
      r.alias = alias;
      r.shared = false;
      return areas.use_area(r);
    });
    if (!opened) SLEEP(5);
  }
  if (!opened) return kIndexNotBuilt;

  int result = kIndexBuilt;
  // One pass over the table for all its tags; should that fail, each tag is tried on
  // its own as below, which also says which one cannot be built.
  if (tags.size() > 1 && guarded([&] {
        areas.select(alias);
        table::Table* t = areas.current();
        // The new file goes to the disk once, as the table is closed below.
        return t && order_create_tags(*t, index, tags, false);
      }))
    return ZAMKNIJ(areas, alias) ? result : kIndexNotBuilt;
  for (const auto& entry : tags) {
    const std::string& tag = entry.first;
    const std::string& key = entry.second;
    bool created = false;
    for (int attempt = 0; attempt < 20 && !created; ++attempt) {
      created = guarded([&] {
        areas.select(alias);
        table::Table* t = areas.current();
        // The new file goes to the disk once, as the table is closed below.
        return t && order_create(*t, &areas, index, tag, key, false);
      });
      if (!created) SLEEP(10);
    }
    if (!created) {
      result = kIndexNotBuilt;
      break;
    }
  }
  // Closed on failure too: a table left open for ourselves would lock out the firm. The
  // new file reaches the disk as it is closed: only then is it built.
  if (!ZAMKNIJ(areas, alias)) result = kIndexNotBuilt;
  return result;
}

}  // namespace

int INDEXON(table::WorkAreas& areas, std::string_view table_view, const TagList& tags) {
  CallContext routine("INDEXON");
  const std::string table(table_view);
  const std::string data = table + ".dbf", index = table + ".cdx";
  if (!os::file_exists(data)) return kIndexNotBuilt;
  auto& built = built_indexes();
  if (const auto it = built.find(table); it != built.end()) {
    if (it->second == tags && os::unchanged_files::unchanged(data) && os::unchanged_files::unchanged(index) &&
        free_to_build(data) && free_to_build(index))
      return kIndexBuilt;
    built.erase(it);
  }
  const int result = build_index(areas, data, index, tags);
  if (result == kIndexBuilt) {
    os::unchanged_files::remember(data);
    os::unchanged_files::remember(index);
    built[table] = tags;
  }
  return result;
}

void forget_built_indexes() {
  built_indexes().clear();
  os::unchanged_files::forget_all();
}

FirmIndexReport INDEKSUJ(table::WorkAreas& areas, std::string_view firm_directory) {
  CallContext routine("INDEKSUJ");
  const std::string dir(firm_directory);
  FirmIndexReport report;
  base::let_go(lib::DEL_KAT(dir, "*.cdx"), "each index build below deletes its own file first");
  for (const CatalogueEntry& e : firm_catalogue()) {
    if (e.kind == CatalogueEntry::Delete) {
      bool existed = os::file_exists(dir + e.name);
      base::let_go(lib::DEL_FILE(dir + e.name), "a retired table left in place is never opened by the suite");
      report.items.push_back({e.name, -2, existed});
      continue;
    }
    if (!e.condition.empty() && !os::file_exists(dir + e.condition)) {
      report.items.push_back({e.name, -1});
      continue;
    }
    report.items.push_back({e.name, INDEXON(areas, dir + e.name, e.tags)});
  }

  // Every record, those marked deleted included, is marked complete.
  table::Settings& s = areas.settings();
  bool hidden = s.deleted_hidden;
  s.deleted_hidden = false;
  report.status_marked = guarded([&] {
    table::UseRequest r;
    r.path = dir + "ntx.dbf";
    r.alias = "entex";
    if (!areas.use_area(r)) return false;
    table::Table* t = areas.current();
    int ok = t->field_index("ok");
    bool all = ok >= 0;
    if (all) {
      t->eval([&](table::Table& x) {
        all = x.put(ok, table::Value::of_logical(true));
        return all;
      });
      all = all && t->commit();
    }
    return all;
  });
  s.deleted_hidden = hidden;
  ZAMKNIJ(areas, "entex");
  if (!report.status_marked) {
    // The suite reads these flags to trust the firm's indexes: a missing or held
    // status table must stop the firm's upgrade, not pass unnoticed.
    ErrorRecord r = error_record(gencode::kWrite, "ZUV", "Nie można oznaczyć odbudowanych indeksów w tabeli ntx.dbf",
                                 dir + "ntx.dbf", "INDEKSUJ");
    raise_error(r);
  }
  return report;
}

}  // namespace zuv::tables
