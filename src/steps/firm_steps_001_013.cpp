// The firm data steps 001 to 013 of the release: the KSeF tables and buffers, the
// JPK tables from October 2020, the lump-sum partners' health contribution bases, OSS
// sales in zloty, and the VAT lines of the "RF" register. Each step runs once per firm
// (its version record is written last) and raises a runtime error rather than go on
// past a table it could not open, change or index.
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "platform/table/copying.h"
#include "platform/table/index_key.h"
#include "steps/firm_step_common.h"
#include "steps/step_routines.h"
#include "steps/wez_kurs.h"
#include "platform/error/error.h"
#include "tables/rebuild.h"
#include "tables/table_access.h"

namespace zuv::steps {
namespace {

using table::Table;
using table::Value;

constexpr double kTolerance = 0.000001;
bool is_zero(double v) { return std::abs(v) < kTolerance; }

// The table just opened (and selected) under alias.
Table& opened(StepContext& ctx, const std::string& directory, std::string_view name, std::string_view alias,
              std::optional<std::string> order = std::nullopt) {
  open_or_fail(ctx, directory, name, alias, std::move(order));
  Table* t = ctx.areas.current();
  if (!t) step_failed(gencode::kOpen, "Nie można otworzyć tabeli", directory + std::string(name));
  return *t;
}

// A field the step needs; a table without it cannot be converted.
int field_of(Table& t, std::string_view name) {
  int i = t.field_index(name);
  if (i < 0) step_failed(gencode::kArgument, "Brak pola " + lib::upper_ascii(name) + " w tabeli", t.path());
  return i;
}

std::string text(Table& t, std::string_view name) { return lib::rtrim(t.get(field_of(t, name)).text); }
double number(Table& t, std::string_view name) { return t.get(field_of(t, name)).number; }

void set(Table& t, std::string_view name, const Value& v) {
  if (!t.put(field_of(t, name), v)) step_failed(gencode::kWrite, "Nie można zapisać pola tabeli", t.path());
}
void set_number(Table& t, std::string_view name, double v) { set(t, name, Value::of_number(v)); }
void set_text(Table& t, std::string_view name, std::string_view v) { set(t, name, Value::of_text(v)); }

// Stores the last change and closes; a table whose changes cannot be written fails the step.
void close(StepContext& ctx, std::string_view alias) {
  if (Table* t = ctx.areas.find(std::string(alias)); t && !t->commit())
    step_failed(gencode::kWrite, "Nie można zapisać tabeli", t->path());
  tables::ZAMKNIJ(ctx.areas, alias);
}

// Every record of the table from its first in the order it was opened with.
void walk(Table& t, const std::function<void(Table&)>& body) {
  for (t.go_top(); !t.eof(); t.skip()) body(t);
}

int field_count_of(StepContext& ctx, const std::string& directory, std::string_view name) {
  int n = opened(ctx, directory, name, "robo").field_count();
  tables::ZAMKNIJ(ctx.areas, "robo");
  return n;
}

// APPEND FROM source (fields matched by name) into the table at target, only the
// records for which keep holds: through a filtered copy beside the target when a
// condition is given.
void append_from(StepContext& ctx, const std::string& directory, std::string_view target,
                 const std::string& source_dir, std::string_view source, const std::function<bool(Table&)>& keep = {},
                 const std::function<void(Table&)>& each = {}) {
  std::string from = source_dir + std::string(source);
  const std::string filtered = directory + "zuvsel.dbf";
  if (keep) {
    Table& src = opened(ctx, source_dir, source, "zrodlo");
    const bool exported = table::export_records(src, filtered, {}, keep);
    tables::ZAMKNIJ(ctx.areas, "zrodlo");
    if (!exported) step_failed(gencode::kCreate, "Nie można skopiować rekordów tabeli", from);
    from = filtered;
  }
  Table& robo = opened(ctx, directory, target, "robo");
  const bool imported = table::import_records(robo, from, each);
  close(ctx, "robo");
  if (keep) {
    base::let_go(lib::DEL_FILE(filtered), "a leftover work table is replaced by the next run");
    base::let_go(lib::DEL_FILE(tables::memo_file_of(filtered)), "a leftover work table is replaced by the next run");
  }
  if (!imported) step_failed(gencode::kWrite, "Nie można dopisać rekordów do tabeli", directory + std::string(target));
}

// The numeric value of a text as the runtime's VAL reads it: leading blanks, a sign,
// digits and a decimal point; anything else ends the number ("zw" is 0).
double val(std::string_view s) {
  std::string t = lib::trim(s);
  size_t n = 0;
  if (n < t.size() && (t[n] == '-' || t[n] == '+')) ++n;
  while (n < t.size() && ((t[n] >= '0' && t[n] <= '9') || t[n] == '.')) ++n;
  return std::strtod(t.substr(0, n).c_str(), nullptr);
}

std::string day_before(const std::string& yyyymmdd) {
  long jd = table::julian_day(yyyymmdd);
  return jd == 0 ? std::string(8, ' ') : table::date_from_julian(jd - 1);
}

struct Dirs {
  std::string firm, templates, work;
};
Dirs dirs_of(const std::string& firm_dir, const std::string& program_dir, const std::string& database_dir) {
  return {firm_dir, database_dir + "str\\", program_dir + "temp\\"};
}

}  // namespace

void I_26_01_001(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir,
                 const std::string& database_dir, const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.001")) return;
  const Dirs d = dirs_of(firm_dir, program_dir, database_dir);
  copy_or_fail(d.templates + "ksef_dat.dbf", d.firm);
  write_firm_version(ctx, d.firm, "026.01.001", "001");
}

void I_26_01_003(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir,
                 const std::string& database_dir, const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.003")) return;
  const Dirs d = dirs_of(firm_dir, program_dir, database_dir);

  set_text(opened(ctx, d.firm, "firma.dbf", "fir"), "ksef_rules", "202604");
  close(ctx, "fir");

  if (field_count_of(ctx, d.firm, "v_inne.dbf") < 15)
    add_fields_or_fail(ctx, {{"NR_KSEF", 'C', 36, 0}, {"KSEF_SERW", 'C', 1, 0}}, {}, d.firm, "v_inne.dbf");

  // The JPK tables in the release's layout, keeping periods from October 2020. The
  // new tables are filled in the work directory and only then copied over the old.
  const char* jpk[] = {"v_jpke.dbf", "v_jpkd.dbf", "v7_jpk.dbf"};
  for (const char* t : jpk) copy_or_fail(d.templates + t, d.work);
  for (const char* t : jpk)
    append_from(ctx, d.work, t, d.firm, t, [](Table& r) {
      const Value rmc = r.get(field_of(r, "rmc"));
      return rmc.text >= std::string("202010");
    });
  for (const char* t : jpk) copy_or_fail(d.work + t, d.firm);

  index_or_fail(ctx, d.firm + "v_inne", {{"rmc", "rmc+typ"}});
  index_or_fail(ctx, d.firm + "v_jpkd", {{"rmc", "rmc+nrk"}});
  index_or_fail(ctx, d.firm + "v_jpke", {{"rmc", "grupa+rmc+nrk+dtos(data_dok)"}, {"kas", "kas"}});
  index_or_fail(ctx, d.firm + "v7_jpk", {{"rmc", "rmc+nrk"}});
  for (const char* t : jpk) base::let_go(lib::DEL_FILE(d.work + t), "work tables of the program's temp directory");
  write_firm_version(ctx, d.firm, "026.01.003", "003");
}

void I_26_01_005(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir,
                 const std::string& database_dir, const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.005")) return;
  const Dirs d = dirs_of(firm_dir, program_dir, database_dir);

  // Lump-sum partners: the health contribution base of 2026 by last year's revenue.
  Table& fir = opened(ctx, d.firm, "firma.dbf", "fir");
  if (text(fir, "ryczalt") == "R") {
    walk(opened(ctx, d.firm, "wspolnik.dbf", "wsp"), [](Table& wsp) {
      const double revenue = number(wsp, "prz52");
      if (text(wsp, "gzus") != "T" || !(revenue > kTolerance) || !(number(wsp, "p52") > kTolerance)) return;
      set_number(wsp, "p52", revenue <= 60000 ? 5537.18 : revenue <= 300000 ? 9228.64 : 16611.55);
    });
    close(ctx, "wsp");
  }
  set_text(fir, "ksef_serw", "P");
  close(ctx, "fir");
  write_firm_version(ctx, d.firm, "026.01.005", "005");
}

void I_26_01_006(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir,
                 const std::string& database_dir, const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.006")) return;
  const Dirs d = dirs_of(firm_dir, program_dir, database_dir);
  if (field_count_of(ctx, d.firm, "firma.dbf") < 146)
    add_fields_or_fail(ctx, {{"METODA_ZD", 'N', 1, 0}}, {}, d.firm, "firma.dbf");
  write_firm_version(ctx, d.firm, "026.01.006", "006");
}

namespace {

// OSS sales: the rate of the day before delivery, and the amounts in zloty.
void convert_oss_sales(StepContext& ctx, const Dirs& d) {
  opened(ctx, d.templates, "euro.dbf", "eur", "dat");
  auto convert = [&](Table& vos) {
    if (vos.field_count() < 42) step_failed(gencode::kArgument, "Za mało pól w tabeli", vos.path());
    const std::string currency = text(vos, "wal_kwb");
    std::optional<Rate> rate = Rate{1, 1};
    if (currency != "PLN") rate = WEZ_KURS(ctx.areas, day_before(vos.get(field_of(vos, "d_dost")).text), currency);
    // A day without a quote keeps the record's rate (a zero rate is no quote either).
    if (rate && rate->first > kTolerance) set_number(vos, "kurs_doch", rate->first / rate->second);
    double vat = 0;
    for (int position : {30, 34, 38, 42}) vat += vos.get(position - 1).number;
    const double due = number(vos, "kw_nal"), kurs = number(vos, "kurs_doch");
    set_number(vos, "pln_netto", lib::ROUND2((due - vat) * kurs));
    set_number(vos, "pln_vat", lib::ROUND2(vat * kurs));
    set_number(vos, "rk_netto", lib::ROUND2((due - vat) * number(vos, "kurs_zap")));
  };
  bool converted = false;
  Table& old = opened(ctx, d.firm, "v_oss.dbf", "vos");
  // A table that lacks a field the conversion reads fails in the walk below, with its
  // own message, rather than inside the field addition.
  const bool convertible = old.field_count() >= 42 && [&] {
    for (const char* name : {"wal_kwb", "d_dost", "kw_nal", "kurs_zap", "pln_netto", "pln_vat"})
      if (old.field_index(name) < 0) return false;
    return true;
  }();
  const bool widen = old.field_count() < 52;
  tables::ZAMKNIJ(ctx.areas, "vos");
  if (widen) {
    // The widened table is converted as it is written. The walk passes over hidden
    // deleted records, so the conversion does too.
    const bool hidden = ctx.areas.settings().deleted_hidden;
    std::function<void(Table&)> each;
    if (convertible)
      each = [&](Table& vos) {
        if (!(hidden && vos.deleted())) convert(vos);
      };
    add_fields_or_fail(ctx, {{"KURS_DOCH", 'N', 15, 8}, {"RK_NETTO", 'N', 12, 2}, {"ST_R", 'N', 4, 1}},
                       {Value::of_number(1), Value::of_number(0), Value::of_number(3.0)}, d.firm, "v_oss.dbf", each);
    converted = convertible;
  }
  if (!converted) {
    walk(opened(ctx, d.firm, "v_oss.dbf", "vos"), convert);
    close(ctx, "vos");
  }
  tables::ZAMKNIJ(ctx.areas, "eur");
}

// A buffer line with neither amount gets them from quantity and unit price; every line
// then carries its amounts into the fields the sending reads.
void complete_buffer_line(Table& t, bool vat_payer, bool purchases) {
  if (is_zero(std::abs(number(t, "netto")) + std::abs(number(t, "brutto")))) {
    const double r = val(t.get(field_of(t, "ptu")).text);
    if (!is_zero(number(t, "cenan"))) {
      set_number(t, "netto", lib::ROUND2(number(t, "ilosc") * number(t, "cenan")));
      set_number(t, "vat", lib::ROUND2(number(t, "netto") * r / 100));
      set_number(t, "brutto", number(t, "netto") + number(t, "vat"));
    } else {
      set_number(t, "brutto", lib::ROUND2(number(t, "ilosc") * number(t, "cenab")));
      set_number(t, "vat", lib::ROUND2(number(t, "brutto") * r / (100 + r)));
      set_number(t, "netto", number(t, "brutto") - number(t, "vat"));
    }
    if (purchases && !vat_payer) {
      set_number(t, "netto", number(t, "brutto"));
      set_number(t, "vat", 0);
      set_text(t, "on", "NT");
    }
  }
  set_number(t, "netto_u", number(t, "netto"));
  set_number(t, "vat_u", number(t, "vat"));
}

// The KSeF buffers in the release's layout. Each new table is filled beside the live
// one from a kept copy and copied over it, the line table of sales last: its layout
// is what tells an old firm, so a run broken off anywhere is done again in full. The
// line tables' amounts are completed as their records are copied (true then), so they
// are written once.
bool rebuild_ksef_buffers(StepContext& ctx, const Dirs& d, bool vat_payer) {
  const int firm_length = opened(ctx, d.firm, "ksef_bsa.dbf", "bsa").fields().size() >= 3
                              ? ctx.areas.current()->fields()[2].length
                              : 0;
  tables::ZAMKNIJ(ctx.areas, "bsa");
  int release_length = 10;
  if (os::file_exists(std::string_view(d.templates + "ksef_bsa.dbf"))) {
    Table& tpl = opened(ctx, d.templates, "ksef_bsa.dbf", "robo");
    if (tpl.fields().size() >= 3) release_length = tpl.fields()[2].length;
    tables::ZAMKNIJ(ctx.areas, "robo");
  }
  if (firm_length >= release_length) return false;

  struct Buffer {
    const char* live;
    const char* kept;
    const char* fresh;
    bool memo;
    std::function<void(Table&)> each;
  };
  const Buffer buffers[] = {
      {"ksef_bs", "abs", "nbs", true, {}},
      {"ksef_bz", "abz", "nbz", true, {}},
      {"ksef_bza", "abza", "nbza", false, [&](Table& t) { complete_buffer_line(t, vat_payer, true); }},
      {"ksef_bsa", "absa", "nbsa", false, [&](Table& t) { complete_buffer_line(t, vat_payer, false); }}};
  auto file = [](const char* name, const char* ext) { return std::string(name) + ext; };
  // The records are read from each buffer itself, which stays as it is until the new
  // one is renamed over it, so no copy of it is made first; a missing buffer still
  // fails the step before any is replaced, as the copy would.
  for (const Buffer& b : buffers)
    if (!os::file_exists(std::string_view(d.firm + file(b.live, ".dbf"))))
      copy_or_fail(d.firm + file(b.live, ".dbf"), d.firm + file(b.kept, ".dbf"));
  for (const Buffer& b : buffers) {
    // A memo file goes with its table where the template has one.
    const bool memo = b.memo && os::file_exists(std::string_view(d.templates + file(b.live, ".fpt")));
    if (memo) copy_or_fail(d.templates + file(b.live, ".fpt"), d.firm + file(b.fresh, ".fpt"));
    copy_or_fail(d.templates + file(b.live, ".dbf"), d.firm + file(b.fresh, ".dbf"));
    append_from(ctx, d.firm, file(b.fresh, ".dbf"), d.firm, file(b.live, ".dbf"), {}, b.each);
    if (memo) move_or_fail(d.firm + file(b.fresh, ".fpt"), d.firm + file(b.live, ".fpt"));
    move_or_fail(d.firm + file(b.fresh, ".dbf"), d.firm + file(b.live, ".dbf"));
  }
  for (const Buffer& b : buffers)
    for (const char* name : {b.kept, b.fresh}) {
      base::let_go(lib::DEL_FILE(d.firm + file(name, ".dbf")), "a leftover work table is replaced by the next run");
      if (b.memo) base::let_go(lib::DEL_FILE(d.firm + file(name, ".fpt")), "a leftover work table is replaced by the next run");
    }
  return true;
}

void complete_buffer_lines(StepContext& ctx, const std::string& firm, const char* name, const char* alias,
                           bool vat_payer, bool purchases) {
  walk(opened(ctx, firm, name, alias), [&](Table& t) { complete_buffer_line(t, vat_payer, purchases); });
  close(ctx, alias);
}

// VAT lines of registers with "R" in their code whose document is gone are cancelled,
// and every cancelled line is dropped from the table. A line cancelled here is dropped
// with the others, so the table is not marked first: the copy passes over it at once.
void drop_orphan_vat_lines(StepContext& ctx, const Dirs& d) {
  Table& dok = opened(ctx, d.firm, "ks_dok.dbf", "dok", "lpp");
  Table& lines = opened(ctx, d.firm, "vat_ptu.dbf", "ptu");
  // Fields looked up before the copy: a missing one fails the step with its own message.
  const int kas = field_of(lines, "kas"), plik = field_of(lines, "plik"), lpp_g = field_of(lines, "lpp_g");
  auto cancelled = [&](Table& ptu) {
    if (lib::rtrim(ptu.get(kas).text) == "T") return true;
    return ptu.get(plik).text.find('R') != std::string::npos && !dok.seek(ptu.get(lpp_g), false);
  };
  const bool exported = tables::EXPORTUJ(ctx.areas, d.firm + "aptu.dbf", {}, [&](Table& t) { return !cancelled(t); });
  tables::ZAMKNIJ(ctx.areas, "ptu");
  close(ctx, "dok");
  if (!exported) step_failed(gencode::kCreate, "Nie można zapisać tabeli", d.firm + "aptu.dbf");
  if (os::file_exists(std::string_view(d.firm + "aptu.fpt"))) move_or_fail(d.firm + "aptu.fpt", d.firm + "vat_ptu.fpt");
  move_or_fail(d.firm + "aptu.dbf", d.firm + "vat_ptu.dbf");
  index_or_fail(ctx, d.firm + "vat_ptu", {{"lpg", "plik+lpp_g+kor"}, {"kas", "kas"}});
  base::let_go(lib::DEL_FILE(d.firm + "aptu.dbf"), "moved already; at most a leftover the next run replaces");
  base::let_go(lib::DEL_FILE(d.firm + "aptu.fpt"), "moved already; at most a leftover the next run replaces");
}

// The balance buffer in the release's layout; "as.dbf" keeps the old records.
void rebuild_balance_buffer(StepContext& ctx, const Dirs& d) {
  if (!os::file_exists(std::string_view(d.firm + "sld_buff.dbf"))) return;
  copy_or_fail(d.firm + "sld_buff.dbf", d.firm + "as.dbf");
  copy_or_fail(d.templates + "sld_buff.dbf", d.firm + "nsld_buf.dbf");
  append_from(ctx, d.firm, "nsld_buf.dbf", d.firm, "as.dbf");
  move_or_fail(d.firm + "nsld_buf.dbf", d.firm + "sld_buff.dbf");
  base::let_go(lib::DEL_FILE(d.firm + "nsld_buf.dbf"), "moved already; at most a leftover the next run replaces");
  index_or_fail(ctx, d.firm + "sld_buff", {{"lpp", "lpp_dok"}, {"lps", "lpp_alien"}, {"kas", "kas"}});
}

}  // namespace

void I_26_01_007(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir,
                 const std::string& database_dir, const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.007")) return;
  const Dirs d = dirs_of(firm_dir, program_dir, database_dir);

  const bool vat_payer = lib::upper_ascii(lib::trim(text(opened(ctx, d.firm, "firma.dbf", "fir"), "vt"))) == "T";
  tables::ZAMKNIJ(ctx.areas, "fir");

  convert_oss_sales(ctx, d);
  const bool lines_completed = rebuild_ksef_buffers(ctx, d, vat_payer);

  index_or_fail(ctx, d.firm + "v_oss", {{"lpp", "lpp"}, {"dat", "d_dost"}, {"rmc", "pczk_kod+rmc"}});
  const std::vector<std::pair<std::string, std::string>> document_tags = {
      {"dat", "data_p1"}, {"lpp", "lpp"}, {"kkk", "is_k"}, {"ksef", "nr_ksef"}};
  index_or_fail(ctx, d.firm + "ksef_bz", document_tags);
  index_or_fail(ctx, d.firm + "ksef_bs", document_tags);

  if (!lines_completed) {
    complete_buffer_lines(ctx, d.firm, "ksef_bza.dbf", "bza", vat_payer, true);
    complete_buffer_lines(ctx, d.firm, "ksef_bsa.dbf", "bsa", vat_payer, false);
  }

  const std::vector<std::pair<std::string, std::string>> line_tags = {{"lpf", "lppf+str(lp,4,0)"}, {"lpp", "lpp"}};
  index_or_fail(ctx, d.firm + "ksef_bza", line_tags);
  index_or_fail(ctx, d.firm + "ksef_bsa", line_tags);
  index_or_fail(ctx, d.firm + "ks_dok", {{"lpp", "lpp"}, {"dat", "tm+dtos(datak)"}});

  drop_orphan_vat_lines(ctx, d);
  rebuild_balance_buffer(ctx, d);
  write_firm_version(ctx, d.firm, "026.01.007", "007");
}

void I_26_01_012(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir,
                 const std::string& database_dir, const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.012")) return;
  const Dirs d = dirs_of(firm_dir, program_dir, database_dir);
  index_or_fail(ctx, d.firm + "vat_ptu", {{"lpg", "plik+lpp_g+kor"}, {"kas", "kas"}});
  Table& ptu = opened(ctx, d.firm, "vat_ptu.dbf", "ptu", "lpg");
  const int plik = field_of(ptu, "plik"), lpp_g = field_of(ptu, "lpp_g");

  walk(opened(ctx, d.firm, "ks_ref.dbf", "ref"), [&](Table& ref) {
    const Value lpp = ref.get(field_of(ref, "lpp"));
    const std::string key = "RF" + lpp.text;
    bool add = false;
    if (!ptu.seek(Value::of_text(key), false)) {
      add = true;
    } else if (text(ptu, "kas") == "T") {
      // Cancelled: added unless an active line of the same document follows.
      add = true;
      for (ptu.skip(); !ptu.eof() && lib::rtrim(ptu.get(plik).text + ptu.get(lpp_g).text) == lib::rtrim(key);
           ptu.skip())
        if (text(ptu, "kas") == "N") {
          add = false;
          break;
        }
    }
    if (!add) return;
    if (!ptu.append()) step_failed(gencode::kAppendLock, "Nie można dopisać rekordu do tabeli", ptu.path());
    set(ptu, "lpp_g", lpp);
    set_text(ptu, "p1", " 8");
    set_number(ptu, "kn", number(ref, "netto"));
    set_number(ptu, "kb", number(ref, "brutto"));
    set_number(ptu, "kv", number(ref, "vat"));
    set_text(ptu, "p2", " 8");
    set_text(ptu, "kas", "N");
    set_text(ptu, "kor", "N");
    set_text(ptu, "plik", "RF");
    if (!ptu.commit()) step_failed(gencode::kWrite, "Nie można zapisać tabeli", ptu.path());
  });
  close(ctx, "ref");
  close(ctx, "ptu");
  write_firm_version(ctx, d.firm, "026.01.012", "012");
}

void I_26_01_013(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir,
                 const std::string& database_dir, const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.013")) return;
  const Dirs d = dirs_of(firm_dir, program_dir, database_dir);
  const std::string ryczalt = lib::upper_ascii(text(opened(ctx, d.firm, "firma.dbf", "fir"), "ryczalt"));
  tables::ZAMKNIJ(ctx.areas, "fir");
  auto oss_size = os::file_size(d.firm + "v_oss.dbf");
  if (ryczalt.find('R') == std::string::npos && oss_size && oss_size.value > 2000) {
    walk(opened(ctx, d.firm, "ks_dok.dbf", "dok"), [](Table& dok) {
      // The field as stored: a blank code does not occur in "NMDA".
      const std::string p35 = dok.get(field_of(dok, "p35")).text;
      if (text(dok, "tk") != "P" || std::string("NMDA").find(p35) != std::string::npos) return;
      if (!is_zero(number(dok, "kwota3"))) return;
      set_number(dok, "kwota3", number(dok, "kwota1") + number(dok, "kwota2"));
    });
    close(ctx, "dok");
    index_or_fail(ctx, d.firm + "ks_dok", {{"lpp", "lpp"}, {"dat", "tm+dtos(datak)"}});
  }
  write_firm_version(ctx, d.firm, "026.01.013", "013");
}

}  // namespace zuv::steps
