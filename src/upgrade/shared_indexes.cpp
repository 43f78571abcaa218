#include "upgrade/shared_indexes.h"

#include "lib/files.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "ui/licznik.h"

namespace zuv::upgrade {
namespace {

void delete_shared_indexes(const std::string& database_dir) {
  for (const char* dir : {"public\\", "str\\", "pit\\"}) base::let_go(lib::DEL_KAT(database_dir + dir, "*.cdx"), "each index build deletes its own file first; after a failure the run stops unfinished");
}

}  // namespace

const std::vector<SharedIndexEntry>& shared_index_catalogue() {
  static const std::vector<SharedIndexEntry> catalogue = {
      {"min_zus", "str\\", false, {{"rmc", "rok+mc"}}},
      {"pit_opp", "str\\", false, {{"krs", "krs"}, {"naz", "left(miasto,15)"}}},
      {"euro", "str\\", false, {{"dat", "dtos(data)"}}},
      {"ebc_euro", "str\\", false, {{"dat", "data"}}},
      {"gus_m", "str\\", false, {{"ntx", "nazwa"}}},
      {"gus_w", "str\\", false, {{"ntx", "nr_w"}}},
      {"gus_p", "str\\", false, {{"ntx", "nr_p"}}},
      {"gus_g", "str\\", false, {{"ntx", "nr_g"}}},
      {"gus_d", "str\\", false, {{"ntx", "nr_d"}}},
      {"zawody", "str\\", false, {{"kod", "kod"}}},
      {"zus_o", "str\\", false, {{"lpp", "lpp"}}},
      {"zus_m", "str\\", false, {{"lpp", "lpp"}}},
      {"p_wolne", "str\\", false, {{"dat", "od_daty"}}},
      {"us", "str\\", false, {{"lpp", "lpp"}, {"naz", "us_m"}}},
      {"ods_tab", "str\\", false, {{"dat", "data"}}},
      {"wzorce", "str\\", true, {{"lpp", "nazwa+plik"}}},
      {"fpit", "public\\", false, {{"lpp", "lpp"}, {"nrf", "pit+nrfir+rmc"}, {"rmc", "pit+rmc+nrfir"}}},
      {"zuv_lpc", "public\\", false, {{"nip", "kp+nip+rmc"}}},
      {"z52_rok", "public\\", true, {{"nip", "nip"}}},
      {"pit_zap", "public\\", false,
       {{"lpp", "lpp"}, {"lpf", "lpp_f+dtos(data_z)"}, {"lpw", "lpp_w+dtos(data_z)"}, {"dat", "dtos(data_z)"}}},
      {"wpit", "public\\", false, {{"lpp", "lpp"}, {"nrw", "pit+lpp_o+rmc"}, {"rmc", "pit+rmc+lpp_o"}}},
      {"wf", "public\\", false, {{"lpp", "lpp"}, {"wf", "lpp_o+nrfir"}, {"fw", "nrfir+lpp_o"}}},
      {"own", "public\\", false, {{"lpp", "lpp"}}},
      {"fir_dok", "public\\", false, {{"lpp", "nr+data"}}},
      {"crm_vat", "public\\", false, {{"lpp", "lpp"}, {"nrf", "rmc+nrfir"}}},
      {"crm_jpk", "public\\", false, {{"lpp", "lpp"}, {"nrf", "rmc+nrfir"}, {"kas", "kas"}}},
      {"nip_list", "public\\", false, {{"nip", "ue+nip"}}},
      {"crm_vue", "public\\", false, {{"lpp", "lpp"}, {"nrf", "rmc+nrfir"}}},
      {"crm_p4r", "public\\", false, {{"lpp", "lpp"}, {"nrf", "nrfir"}}},
      {"crm_pit", "public\\", false, {{"lpp", "lpp"}, {"nrf", "rmc+nrfir+lpp_o"}}},
      {"crm_zua", "public\\", false, {{"lpp", "lpp"}, {"nrf", "rmc+nrfir+id_zuv"}}},
      {"crm_rmc", "public\\", false, {{"rmc", "modul+komp"}}},
      {"crm_p11", "public\\", false, {{"lpp", "lpp"}, {"nrf", "nrfir+lpp_p"}, {"upc", "lpp_upc"}}},
      {"crm_upc", "public\\", false, {{"lpp", "lpp"}, {"glp", "lpp_g+lpp_l+lpp_p"}, {"k", "k"}}},
      {"crm_12", "public\\", false, {{"lpp", "lpp"}, {"nrf", "nrfir+lpp_o"}}},
      {"crm_msg", "public\\", false, {{"lpp", "lpp"}, {"odb", "id_o+ndata"}}},
      {"fak", "public\\", false, {{"lpp", "lpp"}, {"fdk", "str(nrfir0,4,0)+rf+nrdok+przez"}}},
      {"faka", "public\\", false, {{"lpp", "lpp"}, {"lpf", "lppf"}}},
      {"workus", "public\\", false, {{"lpp", "lpp+data"}}},
      {"reminder", "public\\", false, {{"lpp", "lpp"}, {"usu", "usu"}, {"ulpp", "u_lpp"}}},
      {"mail_log", "public\\", false, {{"lpp", "lpp"}, {"lpu", "lpp_u"}}},
      {"e_lista", "public\\", false, {{"lpp", "lpp"}, {"nr", "nr"}}},
      {"limity", "public\\", false, {{"nip", "nip+nrfir"}}},
  };
  return catalogue;
}

os::Status NTX_PUB(const UpgradeEnv& env, const std::string& database_dir, bool repair_pit) {
  delete_shared_indexes(database_dir);
  const auto& catalogue = shared_index_catalogue();
  env.progress_restart(15, "Tworzenie indeksów...");
  // The catalogue's 43 tables in 15 steps of the progress window.
  const size_t group = (catalogue.size() + 14) / 15;
  std::string first_failed;
  size_t n = 0;
  for (const SharedIndexEntry& e : catalogue) {
    const std::string path = database_dir + e.directory + e.table;
    if ((!e.only_if_present || os::file_exists(std::string_view(path + ".dbf"))) &&
        tables::INDEXON(env.areas, path, e.tags) != tables::kIndexBuilt && first_failed.empty())
      first_failed = path + ".dbf";
    if (++n % group == 0) env.progress();
  }
  if (!first_failed.empty()) {
    // No half-built shared index stays: the suite's programs build missing ones.
    delete_shared_indexes(database_dir);
    return os::Status::failure(os::oscode::kIoError, kSharedIndexesFailed, first_failed);
  }
  if (repair_pit && !repair_pit_tables(env, database_dir))
    return os::Status::failure(os::oscode::kIoError, kPitRepairFailed, database_dir + "public\\");
  return os::Status::success();
}

}  // namespace zuv::upgrade
