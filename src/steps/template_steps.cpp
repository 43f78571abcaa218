// The release's template and screen-mask steps, run by the program deployment: each
// copies the release's new print templates into the program's "txt\", removes the
// database's edited copies of them (so the new standard ones are used) and, for some,
// their registrations in "str\wzorce.dbf". Missing files are passed over without a
// word; every step gives the same result when run again.
#include <cstdio>
#include <string>
#include <vector>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "steps/firm_step_common.h"
#include "steps/step_routines.h"
#include "tables/table_access.h"

namespace zuv::steps {
namespace {

using Names = std::vector<std::string>;

// A template the release does not carry is passed over; one it carries must arrive.
void copy_if_carried(const std::string& source, const std::string& destination) {
  if (os::file_exists(std::string_view(source))) copy_or_fail(source, destination);
}

void copy_new_templates(const StepContext& ctx, const std::string& program_dir, const Names& names) {
  for (const std::string& f : names) copy_if_carried(ctx.release_dir + "txt\\" + f, program_dir + "txt\\" + f);
}

void refresh_templates(const StepContext& ctx, const std::string& program_dir, const std::string& database_dir,
                       const Names& names) {
  for (const std::string& f : names) {
    copy_if_carried(ctx.release_dir + "txt\\" + f, program_dir + "txt\\" + f);
    base::let_go(lib::DEL_FILE(database_dir + "txt\\" + f), "an edited copy that stays is used instead of the new standard one");
  }
}

// Marks deleted the registrations of the named templates; a record another
// workstation holds locked is left. Skipped when "wzorce.dbf" cannot be opened shared.
void drop_registrations(StepContext& ctx, const std::string& database_dir, const Names& names) {
  if (!tables::S_OTWORZ(ctx.areas, database_dir + "str\\", "wzorce.dbf", "wzorce")) return;
  table::Table* t = ctx.areas.current();
  const int plik = t ? t->field_index("plik") : -1;
  if (plik >= 0) {
    for (t->go_top(); !t->eof(); t->skip()) {
      const std::string name = lib::lower_ascii(lib::trim(t->get(plik).text));
      bool listed = false;
      for (const std::string& f : names) listed = listed || f == name;
      if (!listed || !t->rlock()) continue;
      // A registration that stays points the suite at the standard template anyway.
      base::let_go(t->remove() && t->commit(), "a registration left in place is harmless");
      t->unlock();
    }
  }
  tables::ZAMKNIJ(ctx.areas, "wzorce");
}

void template_step(StepContext& ctx, const std::string& program_dir, const std::string& database_dir,
                   const Names& names, bool registrations) {
  refresh_templates(ctx, program_dir, database_dir, names);
  if (registrations) drop_registrations(ctx, database_dir, names);
}

// Screen masks and templates the release no longer uses, relative to the program.
Names obsolete_program_files() {
  Names out;
  auto range = [&](const char* prefix, int from, int to) {
    for (int i = from; i <= to; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "mask\\%s%02d.scn", prefix, i);
      out.push_back(name);
    }
  };
  range("01_01_", 1, 10);
  for (const char* m :
       {"02_01_01", "02_01_02", "02_02_01", "02_02_02", "02_03_01", "02_03_02", "02_04_01", "03_03_01", "03_03_02",
        "03_03_04", "03_04_01", "03_05_01", "03_05_02", "04_01_01", "04_02_01", "04_03_01", "04_04_01"})
    out.push_back(std::string("mask\\") + m + ".scn");
  range("05_01_", 1, 5);
  for (const char* m : {"06_01_02", "07_01_01", "07_01_02"}) out.push_back(std::string("mask\\") + m + ".scn");
  range("08_01_", 2, 9);
  for (const char* m : {"08_02_01", "08_03_01", "08_03_02", "09_01_01", "09_02_01", "09_03_01", "09_04_01",
                        "09_04_02", "09_05_01", "09_07_01", "09_08_01", "09_09_01", "09_09_02", "10_01_02",
                        "10_01_03", "10_01_04", "10_02_01", "10_03_01", "10_03_02", "10_03_03"})
    out.push_back(std::string("mask\\") + m + ".scn");
  range("11_01_", 1, 5);
  for (const char* m :
       {"11_02_01", "11_03_01", "12_01_01", "12_02_01", "12_02_02", "12_02_03", "12_04_01", "12_05_01", "12_06_01",
        "12_08_01", "12_09_01", "12_10_01", "12_11_01", "12_12_01", "12_13_01", "13_01_01", "13_02_01", "14_01_01",
        "14_01_02", "14_02_01", "14_02_02", "14_04_01", "15_01_01", "15_02_01", "16_01_01", "17_01_01", "17_02_01",
        "18_01_01", "19_01_01", "19_01_02", "19_02_01", "dpitu", "dpito", "kinder", "pit_imp", "pit_opp", "pit_pwz",
        "pit_pwzz", "ptree1", "ptree2", "ptree3"})
    out.push_back(std::string("mask\\") + m + ".scn");
  for (const char* t : {"pit_dsf", "pit_op", "pit_opp", "pit_pito", "pit_str", "pit_u", "pit_zap", "pit_zes",
                        "rap_26l", "rap_28l", "rap_36l", "rap_37l"})
    out.push_back(std::string("txt\\") + t + ".txt");
  for (const char* t : {"dsf_2", "p28_26", "p28b_20", "p28s_26", "p2k_9", "p36_31", "p36l_20", "p36ls_20", "p36s_31",
                        "p37_30", "p38_16", "p39_12", "pcsr_1", "pcsrs_1", "pd_31", "pdz_2", "pip_5", "pitb_21",
                        "pitbr_7", "pm_10", "pmit_2", "po_28", "prb_2", "prbs_2", "pwz_2", "pwzr_2", "pzg_8"})
    out.push_back(std::string("vistrel\\") + t + ".txt");
  return out;
}

}  // namespace

void L26_01_001(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  base::let_go(lib::DEL_FILE(database_dir + "str\\wzorce.dbf"), "registrations left in place point at templates the program has");
  copy_new_templates(ctx, program_dir,
                     {"ew_kas.txt", "crm_12a.txt", "drk_z52.txt", "inw_f3b.txt", "mp_zus1.txt", "p_11sum1.txt",
                      "rnw_f3b.txt", "v_pr01.txt", "v_pr3.txt", "wroz_7.txt"});
  for (const std::string& f : obsolete_program_files())
    base::let_go(os::delete_file(program_dir + f), "a retired mask left behind is never opened");
}

void L26_01_004(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"p_sum4.txt"}, false);
}

void L26_01_005(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"st_1p.txt", "st_1b.txt"}, true);
}

void L26_01_006(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"folio.txt", "folio_a.txt", "folio_b.txt"}, false);
}

void L26_01_007(StepContext&, const std::string&, const std::string&) {}

void L26_01_008(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"foliok.txt"}, false);
}

void L26_01_014(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"oss_ewi1.txt", "oss_ewi2.txt"}, true);
}

void L26_01_016(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"fakkor.txt", "fakkor_zw.txt", "faktura.txt", "faktura_zw.txt"},
                true);
}

void L26_01_024(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"ksef_zz.txt"}, false);
}

void L26_01_025(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"kso_1.txt"}, false);
}

void L26_01_027(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"vz_10.txt", "vz_20.txt", "vz_30.txt"}, false);
}

void L26_01_028(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"pl_uzl1.txt"}, false);
}

void L26_01_029(StepContext&, const std::string&, const std::string&) {}

void L26_01_030(StepContext& ctx, const std::string& program_dir, const std::string& database_dir) {
  template_step(ctx, program_dir, database_dir, {"ksef_z1.txt", "rfolio1.txt"}, false);
  base::let_go(lib::DEL_KAT(database_dir + "logs\\", "*.txt"), "old logs left in place are only read by the operator");
}

}  // namespace zuv::steps
