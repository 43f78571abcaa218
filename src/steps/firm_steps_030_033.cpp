// Firm data steps 030 and 033 of release 26.01: the firm's KSeF working directories
// emptied, the new KSeF fields, exempt documents settled, and the KSeF document
// buffers brought to the release's layout with their totals recomputed from the lines.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "platform/table/copying.h"
#include "steps/firm_step_common.h"
#include "steps/firm_step_tables.h"
#include "steps/step_routines.h"
#include "platform/error/error.h"

namespace zuv::steps {

namespace {

using Tags = std::vector<std::pair<std::string, std::string>>;

const Tags kBufferTags = {{"dat", "data_p1"}, {"lpp", "lpp"}, {"kkk", "is_k"}, {"ksef", "nr_ksef"}};
const Tags kLineTags = {{"lpf", "lppf+str(lp,4,0)"}, {"lpp", "lpp"}};

std::string templates_of(const std::string& database_dir) { return database_dir + "str\\"; }

bool exists(const std::string& path) { return os::file_exists(std::string_view(path)); }

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

void empty_ksef_directories(const std::string& firm_dir) {
  for (const char* d : {"ksef\\", "ksef\\r\\", "ksef\\r\\log\\", "ksef\\r\\xml\\", "ksef\\w\\", "ksef\\w\\log\\",
                        "ksef\\w\\xml\\"})
    base::let_go(lib::DEL_KAT(firm_dir + d), "files of the e-invoice exchange, which the suite fetches again");
}

bool vat_payer(StepContext& ctx, const std::string& firm_dir) {
  StepTables tables(ctx);
  table::Table& fir = tables.open(firm_dir, "firma.dbf", "fir");
  // Without the firm's record every sale would be taken for a non-payer's and settled
  // as exempt; such a firm is reported instead.
  if (fir.eof()) step_failed(gencode::kCorrupt, "Brak danych firmy w tabeli firma.dbf", firm_dir + "firma.dbf");
  bool payer = lib::upper_ascii(lib::trim(text_of(fir, "vt"))) == "T";
  tables.close("fir");
  return payer;
}

void zero_fields(table::Table& t, std::initializer_list<const char*> names) {
  for (const char* n : names) put_number(t, n, 0);
}

// The document totals a line feeds by its rate text: the net total and, for taxed
// rates, the VAT total. The "np" texts are written in lower case by the suite and are
// compared like the others, upper-cased.
std::pair<const char*, const char*> rate_totals(const std::string& ptu) {
  const std::string rate = lib::upper_ascii(lib::trim(ptu));
  if (rate == "0 KR" || rate == "0 WDT" || rate == "0 EX" || rate == "NP I" || rate == "NP II") return {"n0", nullptr};
  if (rate == "23" || rate == "22") return {"n23", "v23"};
  if (rate == "8" || rate == "7") return {"n8", "v8"};
  if (rate == "5") return {"n5", "v5"};
  if (rate == "4") return {"n4", "v4"};
  if (rate == "ZW") return {"zw", nullptr};
  return {nullptr, nullptr};
}

constexpr std::array<const char*, 14> kPurchaseCategories = {"STS", "STI", "STA", "TOW", "UBO", "INN", "PAL",
                                                             "LEA", "PZU", "MAG", "MTZ", "MTP", "MRU", "MRL"};

// Sums to be added to a document's fields, written once its lines are read.
class Totals {
 public:
  explicit Totals(table::Table& document) : doc_(document) {}
  void add(const std::string& field, double amount) { sums_[field] += amount; }
  void write() {
    for (const auto& [field, amount] : sums_) put_number(doc_, field, number_of(doc_, field) + amount);
  }

 private:
  table::Table& doc_;
  std::map<std::string, double> sums_;
};

bool all_zero(const table::Table& t, int first, int last) {
  for (int p = first; p <= last; ++p)
    if (!is_zero(number_at(t, p))) return false;
  return true;
}

// Walks the lines of the document under doc's current record (lines ordered by "lpf").
template <class Fn>
void for_each_line(table::Table& doc, table::Table& lines, Fn&& fn) {
  if (!seek_exact(lines, "lppf", doc.get(field_or_fail(doc, "lpp")))) return;
  const std::string document = text_of(doc, "lpp");
  for (; !lines.eof() && text_of(lines, "lppf") == document; lines.skip()) fn(lines);
}

bool passed_over(const table::Table& doc) {
  return text_of(doc, "is_marza") == "T" || contains(text_of(doc, "typ_fak"), "KOR") ||
         number_of(doc, "brutto") < 0.000001;
}

void purchase_totals(StepContext& ctx, const std::string& firm_dir) {
  StepTables tables(ctx);
  table::Table& bza = tables.open(firm_dir, "ksef_bza.dbf", "bza", "lpf");
  table::Table& bz = tables.open(firm_dir, "ksef_bz.dbf", "bz");
  for (bz.go_top(); !bz.eof(); bz.skip()) {
    if (passed_over(bz)) continue;
    double filled = 0;
    for (int p = 35; p <= 48; ++p) filled += std::abs(number_at(bz, p));
    if (!is_zero(filled)) continue;
    for (int p = 129; p <= 156; ++p) put_number_at(bz, p, 0);
    zero_fields(bz, {"n_eur", "v_eur", "b_eur"});
    Totals totals(bz);
    for_each_line(bz, bza, [&](table::Table& line) {
      const double netto = number_of(line, "netto");
      const double vat = number_of(line, "vat");
      auto [net_total, vat_total] = rate_totals(text_of(line, "ptu"));
      if (net_total) totals.add(net_total, netto);
      if (vat_total) totals.add(vat_total, vat);
      const std::string dekret = text_of(line, "dekret");
      if (std::find(kPurchaseCategories.begin(), kPurchaseCategories.end(), dekret) != kPurchaseCategories.end()) {
        totals.add("n_" + lib::lower_ascii(dekret), netto);
        totals.add("v_" + lib::lower_ascii(dekret), vat);
      }
      totals.add("n_eur", netto);
      totals.add("v_eur", vat);
    });
    totals.write();
    put_number(bz, "b_eur", number_of(bz, "brutto"));
  }
  tables.close("bza");
  tables.close("bz");
}

// A country code of the EU list (",AT,BE,...,"); an empty code is no country at all.
bool in_eu(const std::string& list, const std::string& code) {
  return !code.empty() && contains(list, "," + code + ",");
}

void sales_totals(StepContext& ctx, const std::string& firm_dir) {
  const std::string eu = ctx.values ? ctx.values->kraje_ue : std::string();
  StepTables tables(ctx);
  table::Table& bsa = tables.open(firm_dir, "ksef_bsa.dbf", "bsa", "lpf");
  table::Table& bs = tables.open(firm_dir, "ksef_bs.dbf", "bs");
  auto by_line_code = [](const std::string& dekret) {
    return dekret == "SPT" ? "nt" : dekret == "SPP" ? "np" : "nu";
  };
  for (bs.go_top(); !bs.eof(); bs.skip()) {
    if (text_of(bs, "oss") == "T" && is_zero(number_of(bs, "n_oss")) && is_zero(number_of(bs, "v_oss")))
      put_text(bs, "oss", "N");
    if (passed_over(bs)) continue;
    const std::string kraj = lib::trim(text_of(bs, "kraj"));
    const std::string nip_kraj = lib::trim(text_of(bs, "nip_kraj"));
    const bool domestic = kraj == "PL" && (nip_kraj == "PL" || nip_kraj.empty());
    if (!all_zero(bs, 32, domestic ? 45 : 49)) continue;
    // Every total is recomputed from the lines, so each one starts from zero.
    zero_fields(bs, {"n", "v", "b", "nt", "nu", "np"});
    Totals totals(bs);
    for_each_line(bs, bsa, [&](table::Table& line) {
      const double netto = number_of(line, "netto");
      const double vat = number_of(line, "vat");
      if (domestic) {
        auto [net_total, vat_total] = rate_totals(text_of(line, "ptu"));
        if (net_total) totals.add(net_total, netto);
        if (vat_total) totals.add(vat_total, vat);
      }
      totals.add(by_line_code(text_of(line, "dekret")), netto);
      totals.add("n", netto);
      totals.add("v", vat);
    });
    totals.write();
    put_number(bs, "b", number_of(bs, "brutto"));
    if (domestic) {
      zero_fields(bs, {"wdt", "eks_tow", "eks_usl", "eks_usl_ue", "n_oss", "v_oss"});
      put_text(bs, "oss", "N");
      continue;
    }
    const double nt = number_of(bs, "nt");
    const double services = number_of(bs, "nu") + number_of(bs, "np");
    if (!lib::trim(text_of(bs, "nip")).empty()) {
      if (nip_kraj != "PL" && in_eu(eu, nip_kraj)) {
        put_number(bs, "wdt", nt);
        put_number(bs, "eks_usl_ue", services);
      } else if (kraj != "PL" && in_eu(eu, kraj)) {
        put_number(bs, "eks_usl_ue", nt + services);
      }
    } else if (!kraj.empty() && kraj != "PL" && !in_eu(eu, kraj)) {
      put_number(bs, "eks_tow", nt);
      put_number(bs, "eks_usl", services);
    }
  }
  tables.close("bsa");
  tables.close("bs");
}

// Brings the firm's table (name without extension) to the template's layout in the
// firm's "bak\" directory: the firm's files are kept there under their own names, the
// template is filled with their records as `short_name` and copied back over them.
void carry_over_to_template(StepContext& ctx, const std::string& firm_dir, const std::string& templates,
                            const std::string& name, const std::string& short_name) {
  const std::string bak = firm_dir + "bak\\";
  const std::string dbf = name + ".dbf", fpt = name + ".fpt";
  const bool firm_memo = exists(firm_dir + fpt);
  copy_or_fail(firm_dir + dbf, bak + dbf);
  if (firm_memo) copy_or_fail(firm_dir + fpt, bak + fpt);
  copy_or_fail(templates + dbf, bak + short_name + ".dbf");
  const bool new_memo = exists(templates + fpt);
  if (new_memo) copy_or_fail(templates + fpt, bak + short_name + ".fpt");
  {
    StepTables tables(ctx);
    table::Table& filled = tables.open(bak, short_name + ".dbf", short_name);
    if (!table::import_records(filled, bak + dbf))
      step_failed(gencode::kWrite, "Nie można przenieść rekordów " + bak + dbf, bak + short_name + ".dbf");
    tables.close(short_name);
  }
  // The data file and its memo file cannot be replaced together: when the second copy
  // fails the first is undone from the kept copy, so the firm's table stays a pair.
  if (new_memo) copy_or_fail(bak + short_name + ".fpt", firm_dir + fpt);
  if (!lib::FCOPY(bak + short_name + ".dbf", firm_dir + dbf)) {
    if (new_memo && firm_memo) base::let_go(lib::FCOPY(bak + fpt, firm_dir + fpt), "the firm's kept copies put the pair back when the failed step is undone");
    step_failed(gencode::kCreate, "Nie można skopiować pliku " + bak + short_name + ".dbf do " + firm_dir + dbf,
                firm_dir + dbf);
  }
}

}  // namespace

void I_26_01_030(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string& database_dir,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.030")) return;
  empty_ksef_directories(firm_dir);
  if (!exists(firm_dir + "idw_lst.dbf"))
    copy_or_fail(templates_of(database_dir) + "idw_lst.dbf", firm_dir + "idw_lst.dbf");

  const int rk_fields = field_count_or_fail(ctx, firm_dir, "rk_200.dbf");
  const int data_fields = field_count_or_fail(ctx, firm_dir, "data.dbf");
  const int dok_fields = field_count_or_fail(ctx, firm_dir, "ks_dok.dbf");
  if (rk_fields < 32)
    add_fields_or_fail(ctx, {{"NR_KSEF", 'C', 36, 0}, {"KSEF_SERW", 'C', 1, 0}}, {}, firm_dir, "rk_200.dbf");
  if (data_fields < 56)
    add_fields_or_fail(ctx, {{"IMZ_KSEF", 'C', 1, 0}, {"IMS_KSEF", 'C', 1, 0}},
                       {table::Value::of_text("T"), table::Value::of_text("T")}, firm_dir, "data.dbf");
  if (dok_fields < 93) add_fields_or_fail(ctx, {{"ID_WEW", 'C', 10, 0}}, {}, firm_dir, "ks_dok.dbf");

  const bool payer = vat_payer(ctx, firm_dir);
  StepTables tables(ctx);
  table::Table& bs = tables.open(firm_dir, "ksef_bs.dbf", "bs");
  for (bs.go_top(); !bs.eof(); bs.skip()) {
    if (!(text_of(bs, "all_zw") == "T" || !payer) || !is_zero(number_of(bs, "zw"))) continue;
    put_number(bs, "zw", number_of(bs, "brutto"));
    zero_fields(bs, {"n23", "n8", "n5", "n4", "n0", "wdt", "v23", "v8", "v5", "v4", "v23pln", "v8pln", "v5pln",
                     "v4pln", "eks_tow", "eks_usl", "eks_usl_ue"});
  }
  tables.close("bs");

  table::Table& bz = tables.open(firm_dir, "ksef_bz.dbf", "bz");
  for (bz.go_top(); !bz.eof(); bz.skip()) {
    if (text_of(bz, "all_zw") != "T" || !is_zero(number_of(bz, "zw"))) continue;
    const double brutto = number_of(bz, "brutto");
    put_number(bz, "zw", brutto);
    put_number(bz, "n_eur", brutto);
    put_number(bz, "b_eur", brutto);
    zero_fields(bz, {"v_eur", "n23", "n8", "n5", "n4", "n0", "v23", "v8", "v5", "v4", "v23pln", "v8pln", "v5pln",
                     "v4pln"});
  }
  tables.close("bz");

  index_or_fail(ctx, firm_dir + "rk_200", {{"lpk", "lpp_ks"}, {"lsd", "strona+dtos(data_d)"}});
  index_or_fail(ctx, firm_dir + "ks_dok", {{"lpp", "lpp"}, {"dat", "tm+dtos(datak)"}});
  index_or_fail(ctx, firm_dir + "ksef_nip", {{"nip", "nip"}});
  write_firm_version(ctx, firm_dir, "026.01.030", "030");
}

void I_26_01_033(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string& database_dir,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.033")) return;
  empty_ksef_directories(firm_dir);
  const int bz_fields = field_count_or_fail(ctx, firm_dir, "ksef_bz.dbf");
  const int bs_fields = field_count_or_fail(ctx, firm_dir, "ksef_bs.dbf");
  if (bz_fields > 175 && bs_fields > 205) {
    write_firm_version(ctx, firm_dir, "026.01.033", "033");
    return;
  }

  index_or_fail(ctx, firm_dir + "ksef_bza", kLineTags);
  index_or_fail(ctx, firm_dir + "ksef_bsa", kLineTags);
  base::let_go(lib::MKDIR(firm_dir + "bak\\"), "an existing directory answers 183; nothing is written into it here");
  purchase_totals(ctx, firm_dir);
  sales_totals(ctx, firm_dir);

  const std::string templates = templates_of(database_dir);
  if (bz_fields < 215) carry_over_to_template(ctx, firm_dir, templates, "ksef_bz", "bz");
  // A sales buffer of 176 to 205 fields would pass neither field test and come back at
  // every upgrade; it is brought to the template's layout as well.
  if (bs_fields <= 205) carry_over_to_template(ctx, firm_dir, templates, "ksef_bs", "bs");

  index_or_fail(ctx, firm_dir + "ksef_bz", kBufferTags);
  index_or_fail(ctx, firm_dir + "ksef_bs", kBufferTags);
  index_or_fail(ctx, firm_dir + "ksef_bzb", {{"lpf", "lppf+dekret+kas"}, {"kas", "kas"}});
  // One below the step's own: the next upgrade runs the step again, finds the layout in
  // place and only then records "026.01.033".
  write_firm_version(ctx, firm_dir, "026.01.032", "032");
}

}  // namespace zuv::steps
