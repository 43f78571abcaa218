// The release's structure steps: bring the database's template directory "str\" to
// the release before any firm is converted, since the firm steps copy their new tables
// from there. Each removes what the release no longer uses and copies the new or
// changed templates from the distribution's "str\". A failed copy or deletion is not
// reported, as the copy and deletion helpers report nothing; running a step again
// gives the same result.
#include <algorithm>
#include <span>
#include <string_view>
#include <vector>
#include <string>

#include "lib/files.h"
#include "platform/os/files.h"
#include "platform/base/discard.h"
#include "steps/firm_step_common.h"
#include "steps/step_routines.h"
#include "tables/catalogue.h"

namespace zuv::steps {
namespace {

std::string template_dir(const std::string& database_dir) { return database_dir + "str\\"; }

// What each step copies from the release's "str\"; the release must carry them all.
constexpr std::string_view kTemplates001[] = {"ksef_dat.dbf", "sam_cena.dbf", "st_limit.dbf", "inf_fir.dbf",
    "rnf_fir.dbf", "firma.dbf", "lic_ods.dbf", "p_fmc.dbf", "v_wystaw.dbf", "v_rok.dbf", "v_kor.dbf", "st_data.dbf",
    "v_data.dbf", "pr_mc.dbf", "p_kals.dbf", "p_kalw.dbf", "p_fpar.dbf", "p_dat.dbf", "data.dbf", "br_cfg.dbf",
    "p_fron_p.dbf", "enova_st.xlsx", "wersje.dbf", "wersja.dbf"};
constexpr std::string_view kTemplates003[] = {"firma.dbf", "v_inne.dbf", "v_jpkd.dbf", "v_jpke.dbf", "v7_jpk.dbf"};
constexpr std::string_view kTemplates005[] = {"platnik.dbf"};
constexpr std::string_view kTemplates006[] = {"folio.dbf"};
constexpr std::string_view kTemplates007[] = {"sld_buff.dbf", "ksef_bs.dbf", "ksef_bsa.dbf", "ksef_bz.dbf",
    "ksef_bza.dbf", "ksef_bz.fpt", "ksef_bs.fpt", "v_oss.dbf"};
constexpr std::string_view kTemplates008[] = {"qmx_imp.dbf"};
constexpr std::string_view kTemplates015[] = {"ksef_nip.dbf", "ksef_p.dbf"};
constexpr std::string_view kTemplates027[] = {"ksefz.xlsx"};
constexpr std::string_view kTemplates030[] = {"data.dbf", "idw_lst.dbf", "ks_dok.dbf", "rfolio.dbf", "rk_200.dbf"};
constexpr std::string_view kTemplates032[] = {"afaktury.cfg", "ksef_bs.dbf", "ksef_bs.fpt", "ksef_bz.dbf",
    "ksef_bz.fpt", "ods_tab.dbf"};

void copy_templates(const StepContext& ctx, const std::string& database_dir, std::span<const std::string_view> names) {
  const std::string source = ctx.release_dir + "str\\", target = template_dir(database_dir);
  // A template that does not arrive would leave the firms converted to the old layout.
  // (A release without one is refused before the run begins.)
  for (std::string_view name : names)
    if (os::file_exists(source + std::string(name))) copy_or_fail(source + std::string(name), target);
}

}  // namespace

void STR_26_01_001(StepContext& ctx, const std::string& database_dir, const std::string&) {
  const std::string target = template_dir(database_dir);
  for (const char* name : {"pt.dbf", "pt.fpt", "fak.dbf", "faka.dbf", "crm_upc.dbf", "firmy.dbf", "ksf_s.dbf",
                           "ksf_sa.dbf", "d_key.pem", "p_key.pem", "t_key.pem", "tokeninit.xml"})
    base::let_go(lib::DEL_FILE(target + name), "a template the release retired is never read");
  copy_templates(ctx, database_dir, kTemplates001);
}

void STR_26_01_003(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates003);
}

void STR_26_01_005(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates005);
}

void STR_26_01_006(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates006);
}

void STR_26_01_007(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates007);
  BUILD_RATE_INDEX(ctx, database_dir);
}

void BUILD_RATE_INDEX(StepContext& ctx, const std::string& database_dir) {
  // The firm step of 026.01.007 looks rates up by date in this order.
  // A rate table that cannot be indexed fails step 007 of every firm, which needs it.
  base::let_go(tables::INDEXON(ctx.areas, template_dir(database_dir) + "euro", {{"dat", "dtos(data)"}}),
               "the firm step that reads the rates by date fails on a missing order");
}

void STR_26_01_008(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates008);
}

void STR_26_01_015(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates015);
}

void STR_26_01_027(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates027);
}

void STR_26_01_030(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates030);
}

void STR_26_01_032(StepContext& ctx, const std::string& database_dir, const std::string&) {
  copy_templates(ctx, database_dir, kTemplates032);
}

void PUB_26_01_001(StepContext&, const std::string&) {}

const std::vector<std::string>& release_files() {
  static const std::vector<std::string> files = [] {
    // The version records of the database and the program, and the semaphore.
    std::vector<std::string> list = {"wb.dbf", "wk.dbf", "str\\nazwy.dbf"};
    const std::span<const std::string_view> all[] = {kTemplates001, kTemplates003, kTemplates005, kTemplates006,
                                                      kTemplates007, kTemplates008, kTemplates015, kTemplates027,
                                                      kTemplates030, kTemplates032};
    for (std::span<const std::string_view> names : all)
      for (std::string_view name : names) {
        std::string file = "str\\" + std::string(name);
        if (std::find(list.begin(), list.end(), file) == list.end()) list.push_back(file);
      }
    return list;
  }();
  return files;
}

}  // namespace zuv::steps
