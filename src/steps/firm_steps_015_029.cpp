// Firm data steps 015-029 of release 26.01: the KSeF parameter and buffer tables, the
// per-taxpayer summary of purchase lines, the booking dates around the turn of 2026
// and the counterparty markers of the correction register.
#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "lib/text.h"
#include "platform/table/table.h"
#include "steps/firm_step_common.h"
#include "steps/firm_step_tables.h"
#include "steps/step_routines.h"
#include "platform/error/error.h"

namespace zuv::steps {

namespace {

using Tags = std::vector<std::pair<std::string, std::string>>;

const Tags kBufferTags = {{"dat", "data_p1"}, {"lpp", "lpp"}, {"kkk", "is_k"}, {"ksef", "nr_ksef"}};
const Tags kBookingTags = {{"lpf", "lppf+dekret+kas"}, {"kas", "kas"}};
const Tags kLineTags = {{"lpf", "lppf+str(lp,4,0)"}, {"lpp", "lpp"}};
const Tags kDocumentTags = {{"lpp", "lpp"}, {"dat", "tm+dtos(datak)"}};
const Tags kCorrectionTags = {{"lpp", "lpp"}, {"kas", "kas"}};

// The purchase categories of "ksef_nip.dbf", each counted in the field at its position.
constexpr std::array<std::pair<std::string_view, int>, 14> kCategories = {{{"STS", 16},
                                                                          {"STI", 17},
                                                                          {"STA", 18},
                                                                          {"TOW", 19},
                                                                          {"UBO", 20},
                                                                          {"INN", 21},
                                                                          {"PAL", 22},
                                                                          {"LEA", 23},
                                                                          {"PZU", 24},
                                                                          {"MTZ", 25},
                                                                          {"MTP", 26},
                                                                          {"MRU", 27},
                                                                          {"MRL", 28},
                                                                          {"MAG", 29}}};
constexpr int kFirstCounter = 16;
constexpr int kLastCounter = 29;

// The KSeF parameters of the release: who the firm is in KSeF and its four switches.
void add_ksef_parameters_when_old(StepContext& ctx, const std::string& firm_dir) {
  if (field_count_or_fail(ctx, firm_dir, "ksef_p.dbf") >= 23) return;
  const table::Structure fields = {{"NAZWA", 'C', 80, 0}, {"ADRES", 'C', 80, 0}, {"IDWEW", 'C', 40, 0},
                                   {"KLI_NR", 'C', 40, 0}, {"WN", 'C', 1, 0},     {"WA", 'C', 1, 0},
                                   {"WI", 'C', 1, 0},      {"WK", 'C', 1, 0}};
  std::vector<std::optional<table::Value>> initial;
  for (const char* v : {"", "", "", "", "0", "0", "0", "0"}) initial.emplace_back(table::Value::of_text(v));
  add_fields_or_fail(ctx, fields, initial, firm_dir, "ksef_p.dbf");
}

// L: the last closed booking date of the firm, blank when "data.dbf" holds no record.
std::string last_closed_date(StepContext& ctx, const std::string& firm_dir) {
  StepTables tables(ctx);
  table::Table& data = tables.open(firm_dir, "data.dbf", "data");
  std::string last = data.eof() ? std::string(8, ' ') : date_of(data, "last_dat");
  tables.close("data");
  return last;
}

bool empty_date(const std::string& d) { return d.find_first_not_of(' ') == std::string::npos; }

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

void I_26_01_015(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.015")) return;
  add_ksef_parameters_when_old(ctx, firm_dir);
  index_or_fail(ctx, firm_dir + "ksef_nip", {{"nip", "nip"}});
  index_or_fail(ctx, firm_dir + "ksef_bz", kBufferTags);
  index_or_fail(ctx, firm_dir + "ksef_bzb", kBookingTags);

  StepTables tables(ctx);
  table::Table& knip = tables.open(firm_dir, "ksef_nip.dbf", "knip", "nip");
  table::Table& bz = tables.open(firm_dir, "ksef_bz.dbf", "bz", "lpp");
  table::Table& bzb = tables.open(firm_dir, "ksef_bzb.dbf", "bzb");

  // A record appended here starts with its counters at 0, not blank, so every counter
  // of the summary reads as a number.
  auto append_taxpayer = [&](const std::string& nip) {
    if (!knip.append()) step_failed(gencode::kAppendLock, "Nie można dopisać rekordu do ksef_nip.dbf", knip.path());
    put_text(knip, "nip", nip);
    for (int p = kFirstCounter; p <= kLastCounter; ++p) put_number_at(knip, p, 0);
  };

  for (knip.go_top(); !knip.eof(); knip.skip())
    for (int p = kFirstCounter; p <= kLastCounter; ++p) put_number_at(knip, p, 0);
  if (knip.record_count() == 0) append_taxpayer("0000000000");

  for (bzb.go_top(); !bzb.eof(); bzb.skip()) {
    if (text_of(bzb, "kas") == "T") continue;
    std::string dekret = text_of(bzb, "dekret");
    auto category = std::find_if(kCategories.begin(), kCategories.end(),
                                 [&](const auto& c) { return c.first == dekret; });
    if (category == kCategories.end()) continue;
    if (!seek_exact(bz, "lpp", bzb.get(field_or_fail(bzb, "lppf")))) continue;
    if (text_of(bz, "is_k") != "1") continue;
    std::string nip = lib::trim(text_of(bz, "nip"));
    if (nip.empty()) continue;
    if (!seek_exact(knip, "nip", table::Value::of_text(nip))) append_taxpayer(nip);
    // The suite counts a fixed asset line once and every other category line twice.
    double add = contains("STA,STA", dekret) ? 1 : 2;
    put_number_at(knip, category->second, number_at(knip, category->second) + add);
  }
  tables.close("knip");
  tables.close("bz");
  tables.close("bzb");
  write_firm_version(ctx, firm_dir, "026.01.015", "015");
}

void I_26_01_016(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.016")) return;
  const std::string last = last_closed_date(ctx, firm_dir);

  StepTables tables(ctx);
  table::Table& dok = tables.open(firm_dir, "ks_dok.dbf", "dok");
  // A firm that never closed a period has no date to keep bookings above; measured
  // against an empty date the rule would blank the booking dates it cannot place.
  for (dok.go_top(); !empty_date(last) && !dok.eof(); dok.skip()) {
    if (!(date_of(dok, "datak") < "20260101")) continue;
    std::string d = std::min(std::max(date_of(dok, "data_vat"), last), date_of(dok, "d_dok"));
    if (d <= last) d = last;
    put_date(dok, "datak", d);
  }
  tables.close("dok");

  table::Table& kso = tables.open(firm_dir, "ks_kor.dbf", "kso");
  for (kso.go_top(); !kso.eof(); kso.skip()) {
    if (text_of(kso, "mp") != "T" || text_of(kso, "c2") != "T" || text_of(kso, "strona") != "N") continue;
    if (lib::ONLY_NUM(text_of(kso, "nip")).size() != 10) put_text(kso, "mp", "R");
  }
  tables.close("kso");

  index_or_fail(ctx, firm_dir + "ks_dok", kDocumentTags);
  index_or_fail(ctx, firm_dir + "ks_kor", kCorrectionTags);
  // The next step's number: a firm converted here needs no date correction of step 017.
  write_firm_version(ctx, firm_dir, "026.01.017", "017");
}

void I_26_01_017(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.017")) return;
  {
    StepTables tables(ctx);
    table::Table& wer = tables.open(firm_dir, "wersja.dbf", "wer");
    std::string wariant = wer.eof() ? std::string() : text_of(wer, "wariant");
    tables.close("wer");
    if (wariant >= "017") return;
  }
  const std::string last = last_closed_date(ctx, firm_dir);

  StepTables tables(ctx);
  table::Table& dok = tables.open(firm_dir, "ks_dok.dbf", "dok");
  struct Booked {
    std::uint32_t recno;
    double lp;
  };
  std::vector<Booked> booked;
  // Without a last closed date every numbered document would fall to 1 January.
  for (dok.go_top(); !empty_date(last) && !dok.eof(); dok.skip())
    if (number_of(dok, "lp") > 0.000001 && date_of(dok, "datak") >= last) booked.push_back({dok.recno(), number_of(dok, "lp")});
  // Documents of equal number keep their record order, so a run is repeatable.
  std::stable_sort(booked.begin(), booked.end(), [](const Booked& a, const Booked& b) { return a.lp < b.lp; });

  std::string previous = "20260101";
  for (const Booked& b : booked) {
    dok.go_to(b.recno);
    std::string d = last;
    for (const char* field : {"data_vat", "d_dok", "data_zapl"}) {
      std::string candidate = date_of(dok, field);
      if (!empty_date(candidate) && candidate.compare(0, 4, "2026") == 0) d = std::min(d, candidate);
    }
    if (d == last) d = previous;
    put_date(dok, "datak", d);
    if (d > previous) previous = d;
  }
  tables.close("dok");
  index_or_fail(ctx, firm_dir + "ks_dok", kDocumentTags);
  write_firm_version(ctx, firm_dir, "026.01.017", "017");
}

void I_26_01_018(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.018")) return;
  StepTables tables(ctx);
  table::Table& ksefp = tables.open(firm_dir, "ksef_p.dbf", "ksefp");
  if (!ksefp.eof()) {
    int vat = field_or_fail(ksefp, "typ_vat");
    int zal = field_or_fail(ksefp, "typ_zal");
    table::Value was_vat = ksefp.get(vat);
    table::Value was_zal = ksefp.get(zal);
    put_or_fail(ksefp, vat, was_zal);
    put_or_fail(ksefp, zal, was_vat);
  }
  tables.close("ksefp");
  write_firm_version(ctx, firm_dir, "026.01.018", "018");
}

void I_26_01_023(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.023")) return;
  StepTables tables(ctx);
  table::Table& bzb = tables.open(firm_dir, "ksef_bzb.dbf", "bzb");
  for (bzb.go_top(); !bzb.eof(); bzb.skip()) {
    std::string dekret = text_of(bzb, "dekret");
    if (contains(dekret, "-") || lib::trim(dekret).empty()) put_text(bzb, "kas", "T");
  }
  tables.close("bzb");
  index_or_fail(ctx, firm_dir + "ksef_bza", kLineTags);
  index_or_fail(ctx, firm_dir + "ksef_bzb", kBookingTags);

  table::Table& bza = tables.open(firm_dir, "ksef_bza.dbf", "bza", "lpf");
  table::Table& bz = tables.open(firm_dir, "ksef_bz.dbf", "bz");
  for (bz.go_top(); !bz.eof(); bz.skip()) {
    if (!contains(text_of(bz, "typ_fak"), "ROZ")) continue;
    const int lpp = field_or_fail(bz, "lpp");
    if (!seek_exact(bza, "lppf", bz.get(lpp))) continue;
    const std::string document = text_of(bz, "lpp");
    const bool net_priced = text_of(bz, "bn") == "N";
    for (; !bza.eof() && text_of(bza, "lppf") == document; bza.skip()) {
      amounts_from_price(bza, net_priced);
      put_number(bza, "netto_u", number_of(bza, "netto"));
      put_number(bza, "vat_u", number_of(bza, "vat"));
    }
  }
  tables.close("bza");
  tables.close("bz");
  write_firm_version(ctx, firm_dir, "026.01.023", "023");
}

void I_26_01_024(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.024")) return;
  add_ksef_parameters_when_old(ctx, firm_dir);
  write_firm_version(ctx, firm_dir, "026.01.024", "024");
}

void I_26_01_025(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.025")) return;
  if (field_count_or_fail(ctx, firm_dir, "vd.dbf") < 83) {
    add_fields_or_fail(ctx, {{"NR_KSEF", 'C', 36, 0}, {"KSEF_SERW", 'C', 1, 0}}, {}, firm_dir, "vd.dbf");
    index_or_fail(ctx, firm_dir + "vd", {{"lpp", "lpp"}, {"rmc", "pz+rmc"}, {"lpv", "pz+dtos(data)"}});
  }
  write_firm_version(ctx, firm_dir, "026.01.025", "025");
}

void I_26_01_027(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.027")) return;
  index_or_fail(ctx, firm_dir + "v_z", {{"lpp", "lpp"}, {"dat", "rmc+dtos(data)+lpp"}, {"lpk", "lpp_ks"}});
  StepTables tables(ctx);
  table::Table& dok = tables.open(firm_dir, "ks_dok.dbf", "dok");
  table::Table& vz = tables.open(firm_dir, "v_z.dbf", "vz", "lpk");
  for (dok.go_top(); !dok.eof(); dok.skip()) {
    if (lib::trim(text_of(dok, "nr_ksef")).empty()) continue;
    if (!seek_exact(vz, "lpp_ks", dok.get(field_or_fail(dok, "lpp")))) continue;
    if (!lib::trim(text_of(vz, "nr_ksef")).empty()) continue;
    put_text(vz, "nr_ksef", text_of(dok, "nr_ksef"));
    put_text(vz, "ksef_serw", text_of(dok, "ksef_serw"));
  }
  tables.close("dok");
  tables.close("vz");
  write_firm_version(ctx, firm_dir, "026.01.027", "027");
}

void I_26_01_029(StepContext& ctx, const std::string& firm_dir, const std::string&, const std::string&,
                 const std::string& firm_version) {
  if (firm_reached(firm_version, "026.01.029")) return;
  StepTables tables(ctx);
  table::Table& kso = tables.open(firm_dir, "ks_kor.dbf", "kso");
  for (kso.go_top(); !kso.eof(); kso.skip()) {
    if (text_of(kso, "mp") != "R" || text_of(kso, "c2") != "T" || text_of(kso, "strona") != "N") continue;
    if (!lib::ONLY_NUM(text_of(kso, "nip")).empty()) put_text(kso, "mp", "T");
  }
  tables.close("kso");
  index_or_fail(ctx, firm_dir + "ks_kor", kCorrectionTags);
  write_firm_version(ctx, firm_dir, "026.01.029", "029");
}

}  // namespace zuv::steps
