// The firm's KSeF document buffers: purchase documents with their lines and booking
// lines, sales documents with their lines. The first documents of each table are the
// cases the buffer conversions tell apart; the rest are drawn at random with the same
// cases mixed in.
#include "firm_context.h"

namespace zuv::sample {

namespace {

const char* const kRateTexts[] = {"23", "22", "8", "7", "5", "4", "0 KR", "0 WDT", "0 EX", "np I", "np II", "ZW", "oo"};
const char* const kBookingCodes[] = {"STS", "STI", "STA", "TOW", "UBO", "INN", "PAL", "LEA", "PZU",
                                     "MAG", "MTZ", "MTP", "MRU", "MRL", "XYZ", "STA", "TOW"};
const char* const kSalesCodes[] = {"SPT", "SPU", "SPP", "SPT", "XXX"};

long long rate_of(const std::string& ptu) {
  // The numeric value of the rate text, as the conversions read it ("0 KR" is 0).
  long long r = 0;
  std::size_t i = 0;
  while (i < ptu.size() && ptu[i] == ' ') ++i;
  while (i < ptu.size() && ptu[i] >= '0' && ptu[i] <= '9') r = r * 10 + (ptu[i++] - '0');
  return r;
}

// Lines per document: document 1 has the four lines of the worked cases, the others
// one to three; the lines run out after `records` lines.
int lines_of(long document) { return document == 1 ? 4 : 1 + static_cast<int>(document % 3); }

std::string nip10(Prng& prng) { return std::to_string(prng.range(1, 9)) + prng.digits(9); }

void write_lines(FirmContext& firm, const char* table, char line_prefix, char document_prefix, bool sales) {
  Prng prng = firm.prng_for(table);
  TableWriter w(firm.path(table), firm.layout(table));
  long document = 1;
  int in_document = 0;
  for (long j = 1; j <= firm.records; ++j) {
    if (in_document == lines_of(document)) {
      ++document;
      in_document = 0;
    }
    ++in_document;
    std::string ptu = prng.pick(kRateTexts);
    long long qty = prng.range(1, 20000);  // thousandths
    long long net_price = cents_of(prng.amount(1, 500));
    long long gross_price = 0;
    bool zero_amounts = prng.chance(10);
    bool by_gross = zero_amounts && prng.chance(50);
    if (document == 1) {
      // The worked cases: quantity 2 at net 10.00 or gross 12.30, rate 23, amounts
      // still zero; then rates 22 and 7, which count as 23 and 8.
      static const char* const kFirst[] = {"23", "23", "22", "7"};
      ptu = kFirst[in_document - 1];
      qty = 2000;
      zero_amounts = in_document <= 2;
      by_gross = in_document == 2;
      net_price = 1000;
    }
    if (by_gross) {
      gross_price = document == 1 ? 1230 : cents_of(prng.amount(1, 600));
      net_price = 0;
    } else {
      gross_price = percent_of(net_price, 100 + rate_of(ptu));
    }
    w.append();
    w.text("lpp", key(line_prefix, j));
    w.text("lppf", key(document_prefix, document));
    w.text("indeks", "T" + std::to_string(prng.range(100, 9999)));
    w.number("lp", in_document);
    w.text("nazwa", "Towar " + std::to_string(prng.range(1, 500)));
    w.number("ilosc", static_cast<double>(qty) / 1000.0);
    w.number("cenan", money(net_price));
    w.number("cenab", money(gross_price));
    if (!zero_amounts) {
      long long net = (qty * net_price + 500) / 1000;
      long long vat = percent_of(net, rate_of(ptu));
      w.number("netto", money(net));
      w.number("vat", money(vat));
      w.number("brutto", money(net + vat));
    }
    w.text("ptu", ptu);
    w.text("dekret", sales ? prng.pick(kSalesCodes) : prng.pick(kBookingCodes));
    w.text("jm", "szt.");
  }
  w.close();
}

// The document cases, by number; past them the same cases come at random.
enum class Case { Plain, Margin, Correction, ZeroValue, AllExempt, Settlement, SettlementGross, Totalled, NoNip, NotBooked };

Case purchase_case(long k, Prng& prng) {
  static const Case kFirst[] = {Case::Plain,      Case::Margin,          Case::Correction, Case::ZeroValue,
                                Case::AllExempt,  Case::Settlement,      Case::SettlementGross, Case::Totalled,
                                Case::NoNip,      Case::NotBooked};
  if (k <= 10) return kFirst[k - 1];
  long r = prng.range(0, 99);
  if (r < 3) return Case::Margin;
  if (r < 7) return Case::Correction;
  if (r < 9) return Case::ZeroValue;
  if (r < 12) return Case::AllExempt;
  if (r < 16) return Case::Settlement;
  if (r < 40) return Case::Totalled;
  if (r < 45) return Case::NoNip;
  if (r < 55) return Case::NotBooked;
  return Case::Plain;
}

void fill_rate_totals(TableWriter& w, Prng& prng) {
  long long n23 = cents_of(prng.amount(10, 5000)), n8 = cents_of(prng.amount(0, 800));
  w.number("n23", money(n23));
  w.number("n8", money(n8));
  w.number("v23", money(percent_of(n23, 23)));
  w.number("v8", money(percent_of(n8, 8)));
  w.number("v23pln", money(percent_of(n23, 23)));
  w.number("v8pln", money(percent_of(n8, 8)));
}

}  // namespace

void write_purchase_buffers(FirmContext& firm) {
  {
    Prng prng = firm.prng_for("ksef_bz");
    TableWriter w(firm.path("ksef_bz"), firm.layout("ksef_bz"));
    long first = days_from_civil(2025, 10, 1);
    for (long k = 1; k <= firm.records; ++k) {
      Case c = purchase_case(k, prng);
      std::string date = dtos(first + prng.range(0, 150));
      std::string nip = c == Case::NoNip ? "" : nip10(prng);
      w.append();
      w.text("lpp", key('Z', k));
      w.date("data_p1", date);
      w.text("is_k", c == Case::NotBooked ? "0" : "1");
      if (!nip.empty() && prng.chance(70)) w.text("nr_ksef", ksef_number(prng, nip, date));
      w.text("nip", nip);
      w.text("typ_fak", c == Case::Correction ? "KOR" : c == Case::Settlement || c == Case::SettlementGross ? "ROZ" : "VAT");
      w.text("bn", c == Case::SettlementGross ? "B" : "N");
      w.text("nr_dok", "FZ/" + std::to_string(k) + "/2025");
      w.text("nazwa", cp852("Dostawca sp. z o.o. nr ") + std::to_string(prng.range(1, 300)));
      w.text("kraj", "PL");
      w.text("nip_kraj", "PL");
      w.text("waluta", "PLN");
      w.number("kurs", 1);
      w.date("d_dok", date);
      double gross = c == Case::ZeroValue ? 0 : prng.amount(10, 20000);
      w.number("brutto", gross);
      w.text("all_zw", c == Case::AllExempt ? "T" : "N");
      w.text("is_marza", c == Case::Margin ? "T" : "N");
      w.text("kas", "N");
      if (c == Case::Totalled) {
        fill_rate_totals(w, prng);
        w.number("n_tow", prng.amount(1, 900));
        w.number("v_tow", prng.amount(1, 200));
      }
      if (k % 5 == 0) w.memo("xml", "<Faktura nr=\"FZ/" + std::to_string(k) + "\"/>");
    }
    w.close();
  }
  write_lines(firm, "ksef_bza", 'A', 'Z', false);
  {
    // Booking lines: categories, cancelled lines, codes of no category, lines of
    // documents that do not exist, and the settlement marks ("-", blank).
    Prng prng = firm.prng_for("ksef_bzb");
    TableWriter w(firm.path("ksef_bzb"), firm.layout("ksef_bzb"));
    static const char* const kMarks[] = {"-", "A-B", "", "STA"};
    for (long j = 1; j <= firm.records; ++j) {
      long document = j <= 20 ? (j + 1) / 2 : prng.range(1, firm.records + firm.records / 10 + 1);
      w.append();
      w.text("lpp", key('B', j));
      w.text("lppf", key('Z', document));
      w.text("dekret", prng.chance(15) ? prng.pick(kMarks) : prng.pick(kBookingCodes));
      w.text("kas", prng.chance(10) ? "T" : "N");
      w.number("netto", prng.amount(1, 3000));
      w.number("vat", prng.amount(0, 600));
      w.text("konto", "402-" + std::to_string(prng.range(1, 9)));
    }
    w.close();
  }
}

namespace {

struct SalesParty {
  const char* kraj;
  const char* nip_kraj;
  bool nip;
};

}  // namespace

void write_sales_buffers(FirmContext& firm) {
  {
    Prng prng = firm.prng_for("ksef_bs");
    TableWriter w(firm.path("ksef_bs"), firm.layout("ksef_bs"));
    // Domestic (nip_kraj "PL" or blank), EU with an EU tax number, an EU country with
    // a Polish tax number, outside the EU without and with a tax number.
    static const SalesParty kParties[] = {{"PL", "PL", true}, {"PL", "", true},  {"DE", "DE", true},
                                          {"FR", "PL", true}, {"US", "", false}, {"NO", "NO", true},
                                          {"CZ", "CZ", true}, {"PL", "PL", false}, {"CH", "", false}};
    long first = days_from_civil(2025, 10, 1);
    for (long k = 1; k <= firm.records; ++k) {
      const SalesParty& party = k <= 9 ? kParties[k - 1] : prng.pick(kParties);
      long r = k <= 9 ? 99 : prng.range(0, 99);
      bool oss_empty = k == 10 || r < 4, oss_filled = k == 11 || (r >= 4 && r < 7);
      bool margin = k == 12 || (r >= 7 && r < 10), correction = k == 13 || (r >= 10 && r < 14);
      bool zero = k == 14 || (r >= 14 && r < 16), all_exempt = k == 15 || (r >= 16 && r < 20);
      bool totalled = k == 16 || (r >= 20 && r < 40);
      std::string date = dtos(first + prng.range(0, 150));
      std::string nip = !party.nip ? "" : std::string(party.nip_kraj).empty() || std::string(party.nip_kraj) == "PL"
                                              ? nip10(prng)
                                              : std::string(party.nip_kraj) + prng.digits(9);
      w.append();
      w.text("lpp", key('S', k));
      w.date("data_p1", date);
      w.text("is_k", prng.chance(90) ? "1" : "0");
      if (prng.chance(60)) w.text("nr_ksef", ksef_number(prng, firm_nip(firm.plan.number), date));
      w.text("nip", nip);
      w.text("typ_fak", correction ? "KOR" : "VAT");
      w.text("bn", "N");
      w.text("nr_dok", "FS/" + std::to_string(k) + "/2025");
      w.text("nazwa", "Odbiorca " + std::to_string(prng.range(1, 400)));
      w.text("kraj", party.kraj);
      w.text("nip_kraj", party.nip_kraj);
      w.text("waluta", std::string(party.kraj) == "PL" ? "PLN" : "EUR");
      w.number("kurs", std::string(party.kraj) == "PL" ? 1.0 : 4.27);
      w.date("d_dok", date);
      w.number("brutto", zero ? 0 : prng.amount(10, 30000));
      w.text("all_zw", all_exempt ? "T" : "N");
      w.text("is_marza", margin ? "T" : "N");
      w.text("oss", oss_empty || oss_filled ? "T" : "N");
      if (oss_filled) {
        w.number("n_oss", prng.amount(10, 900));
        w.number("v_oss", prng.amount(1, 200));
      }
      if (totalled) fill_rate_totals(w, prng);
      w.text("kas", "N");
      if (k % 7 == 0) w.memo("xml", "<Faktura nr=\"FS/" + std::to_string(k) + "\"/>");
    }
    w.close();
  }
  write_lines(firm, "ksef_bsa", 'L', 'S', true);
}

}  // namespace zuv::sample
