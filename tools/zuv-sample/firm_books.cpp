// The firm's books: documents, VAT lines, reference documents, OSS sales, the
// correction register, the purchase VAT register and the smaller registers the steps
// extend. The first records of each table are the cases the steps tell apart.
#include "firm_context.h"

namespace zuv::sample {

namespace {

std::string last_closed_date(const FirmPlan& plan) {
  // A firm that has passed the date correction closes its books in 2026, so that the
  // re-sequencing of 2026 dates has documents on both sides of the closed date.
  return plan.version >= kAfterStep16Version ? "20260131" : "20251130";
}

struct DocumentCase {
  const char* tk;
  const char* p35;
  const char* datak;
  const char* data_vat;
  const char* d_dok;
  const char* data_zapl;
  long lp;
};

// Around the closed date 2025-11-30 (and 2026-01-31 for the later firms): a 2025
// document whose VAT date lies before and issue date after it, one wholly after it,
// one wholly before it, and 2026 documents with and without earlier 2026 dates.
const DocumentCase kDocumentCases[] = {
    {"P", "X", "20251115", "20251110", "20251205", "", 1},
    {"P", "N", "20251210", "20251210", "20251220", "20251222", 2},
    {"K", " ", "20250601", "20250530", "20250528", "", 3},
    {"P", "A", "20260205", "20260120", "20260203", "", 4},
    {"S", "X", "20260210", "", "20260209", "20260125", 5},
    {"P", " ", "20260215", "", "", "", 6},
    {"P", "M", "20260101", "20251231", "20260101", "", 0},
    {"W", "D", "20260301", "20260302", "20260228", "20260305", 8},
};

}  // namespace

void write_books(FirmContext& firm) {
  const long m = firm.records;
  {
    Prng prng = firm.prng_for("ks_dok");
    TableWriter w(firm.path("ks_dok"), firm.layout("ks_dok"));
    static const char* const kTm[] = {"KS", "KP", "RS", "RZ", "WB"};
    static const char* const kP35[] = {"N", "M", "D", "A", "X", " ", "X"};
    long first = days_from_civil(2025, 9, 1);
    for (long k = 1; k <= m; ++k) {
      w.append();
      w.text("lpp", document_key(k));
      w.text("tm", prng.pick(kTm));
      std::string datak;
      if (k <= static_cast<long>(std::size(kDocumentCases))) {
        const DocumentCase& c = kDocumentCases[k - 1];
        datak = c.datak;
        w.date("datak", c.datak);
        w.text("tk", c.tk);
        w.text("p35", c.p35);
        w.date("data_vat", c.data_vat);
        w.date("d_dok", c.d_dok);
        w.date("data_zapl", c.data_zapl);
        w.number("lp", static_cast<double>(c.lp));
      } else {
        long day = first + prng.range(0, 195);
        datak = dtos(day);
        w.date("datak", datak);
        w.text("tk", prng.chance(40) ? "P" : prng.chance(50) ? "K" : "S");
        w.text("p35", prng.pick(kP35));
        if (!prng.chance(10)) w.date("data_vat", dtos(day + prng.range(-25, 25)));
        w.date("d_dok", dtos(day - prng.range(0, 10)));
        if (!prng.chance(30)) w.date("data_zapl", dtos(day + prng.range(0, 30)));
        w.number("lp", prng.chance(10) ? 0.0 : static_cast<double>(k));
      }
      long long k1 = cents_of(prng.amount(1, 9000)), k2 = cents_of(prng.amount(0, 2000));
      w.number("kwota1", money(k1));
      w.number("kwota2", money(k2));
      if (prng.chance(50)) w.number("kwota3", money(k1 + k2));
      std::string nip = std::to_string(prng.range(1, 9)) + prng.digits(9);
      if (prng.chance(30)) {
        w.text("nr_ksef", ksef_number(prng, nip, datak));
        w.text("ksef_serw", prng.chance(50) ? "P" : "T");
      }
      w.text("nr_dok", "DK/" + std::to_string(k) + "/2025");
      w.text("nip", nip);
      w.text("nazwa", "Kontrahent " + std::to_string(prng.range(1, 800)));
    }
    w.close();
  }
  {
    // VAT lines: registers with and without "R" in the code, lines whose document
    // exists and lines without one, cancelled lines, and the reference register "RF"
    // in every arrangement the reference step tells apart.
    Prng prng = firm.prng_for("vat_ptu");
    TableWriter w(firm.path("vat_ptu"), firm.layout("vat_ptu"));
    auto line = [&](const char* plik, const std::string& lpp_g, const char* kas) {
      w.append();
      w.text("plik", plik);
      w.text("lpp_g", lpp_g);
      w.text("kor", "N");
      w.text("kas", kas);
      static const char* const kRates[] = {"23", " 8", " 5", "ZW"};
      std::string p = prng.pick(kRates);
      w.text("p1", p);
      w.text("p2", p);
      long long net = cents_of(prng.amount(1, 5000));
      long long vat = percent_of(net, p == "ZW" ? 0 : std::stoi(p));
      w.number("kn", money(net));
      w.number("kv", money(vat));
      w.number("kb", money(net + vat));
      w.text("rmc", month_text(2025, static_cast<int>(prng.range(9, 12))));
      w.date("data", dtos(days_from_civil(2025, 9, 1) + prng.range(0, 120)));
    };
    // Reference documents F1..F8: none, [T], [T, N], [N], [T, T], none, [N], [T].
    line("RF", key('F', 2), "T");
    line("RF", key('F', 3), "T");
    line("RF", key('F', 3), "N");
    line("RF", key('F', 4), "N");
    line("RF", key('F', 5), "T");
    line("RF", key('F', 5), "T");
    line("RF", key('F', 7), "N");
    line("RF", key('F', 8), "T");
    static const char* const kRegisters[] = {"RS", "RZ", "RF", "KS", "ZS", "RS"};
    for (long j = 9; j <= m; ++j) {
      long document = prng.chance(85) ? prng.range(1, m) : prng.range(m + 1, 2 * m + 1);
      line(prng.pick(kRegisters), document_key(document), prng.chance(8) ? "T" : "N");
    }
    w.close();
  }
  {
    Prng prng = firm.prng_for("ks_ref");
    TableWriter w(firm.path("ks_ref"), firm.layout("ks_ref"));
    for (long i = 1; i <= 8; ++i) {
      long long net = cents_of(prng.amount(100, 4000));
      w.append();
      w.text("lpp", key('F', i));
      w.number("netto", money(net));
      w.number("vat", money(percent_of(net, 8)));
      w.number("brutto", money(net + percent_of(net, 8)));
      w.date("data", "20250915");
      w.text("nr_dok", "RF/" + std::to_string(i) + "/2025");
    }
    w.close();
  }
  {
    // OSS sales in the currencies the rate lookup tells apart (per unit, per 100, per
    // 10,000, PLN and one without a rate column), delivered on any day, so that the
    // day before is sometimes a day without rates.
    Prng prng = firm.prng_for("v_oss");
    Era era = era_for(*find_firm_table("v_oss"), firm.plan.version);
    TableWriter w(firm.path("v_oss"), firm.layout("v_oss"));
    static const char* const kCurrencies[] = {"USD", "EUR", "JPY", "HUF", "IDR", "PLN", "SEK", "EUR", "USD"};
    static const char* const kCountries[] = {"DE", "FR", "AT", "CZ", "SK", "IT", "ES"};
    long count = firm.plan.empty_v_oss ? 0 : m;
    long first = days_from_civil(2025, 1, 2);
    for (long k = 1; k <= count; ++k) {
      long day = first + prng.range(0, 450);
      std::string currency = k <= 7 ? kCurrencies[k - 1] : prng.pick(kCurrencies);
      w.append();
      w.text("lpp", key('O', k));
      w.text("rmc", dtos(day).substr(0, 6));
      w.text("pczk_kod", prng.pick(kCountries));
      w.date("d_dost", dtos(day));
      w.date("d_wyst", dtos(day + prng.range(0, 5)));
      w.text("nr_dok", "OSS/" + std::to_string(k));
      w.text("kraj", prng.pick(kCountries));
      w.text("wal_kwb", currency);
      long long due = 0;
      int groups = static_cast<int>(prng.range(1, 4));
      for (int g = 1; g <= groups; ++g) {
        std::string n = std::to_string(g);
        int rate = g == 1 ? 20 : g == 2 ? 10 : g == 3 ? 5 : 0;
        long long net = cents_of(prng.amount(1, 3000));
        long long vat = percent_of(net, rate);
        w.number("stawka" + n, rate);
        w.number("netto" + n, money(net));
        w.number("brutto" + n, money(net + vat));
        w.number("vat" + n, money(vat));
        due += net + vat;
      }
      w.number("kw_nal", money(due));
      w.number("kurs_zap", currency == "PLN" ? 1.0 : static_cast<double>(prng.range(10000, 50000)) / 10000.0);
      w.text("kas", "N");
      w.number("lp", static_cast<double>(k));
      if (era == Era::Release) {
        w.number("KURS_DOCH", 1);
        w.number("ST_R", 3.0);
      }
    }
    w.close();
  }
  {
    // Counterparty markers of the correction register: tax numbers of ten digits
    // (bare or among other characters), nine digits, none, and the other markers.
    Prng prng = firm.prng_for("ks_kor");
    TableWriter w(firm.path("ks_kor"), firm.layout("ks_kor"));
    struct Entry { const char* mp; const char* c2; const char* strona; const char* nip; };
    static const Entry kCases[] = {{"T", "T", "N", "1234567890"},       {"T", "T", "N", "123456789"},
                                   {"T", "T", "N", ""},                 {"T", "T", "N", "PL 526-000-12-34"},
                                   {"T", "T", "N", "DE123456789"},      {"T", "T", "W", "12345"},
                                   {"R", "T", "N", "brak"},             {"R", "T", "N", "987654321"},
                                   {"T", "N", "N", "12"},               {"R", "T", "W", "1"}};
    static const char* const kNips[] = {"5260001234", "526000123", "", "526-000-12-34", "brak numeru", "PL5260001234"};
    for (long k = 1; k <= m; ++k) {
      Entry e = k <= 10 ? kCases[k - 1]
                        : Entry{prng.chance(70) ? "T" : "R", prng.chance(80) ? "T" : "N", prng.chance(80) ? "N" : "W",
                                prng.pick(kNips)};
      w.append();
      w.text("lpp", key('K', k));
      w.text("kas", prng.chance(5) ? "T" : "N");
      w.text("mp", e.mp);
      w.text("c2", e.c2);
      w.text("strona", e.strona);
      w.text("nip", e.nip);
      w.text("nazwa", "Kontrahent " + std::to_string(k));
      w.number("kwota", prng.amount(1, 9000));
      w.date("data", dtos(days_from_civil(2025, 1, 1) + prng.range(0, 400)));
    }
    w.close();
  }
  {
    // Purchase VAT register entries pointing at documents; most without a KSeF
    // number (to be taken from the document), some with one already.
    Prng prng = firm.prng_for("v_z");
    TableWriter w(firm.path("v_z"), firm.layout("v_z"));
    for (long k = 1; k <= m; ++k) {
      long day = days_from_civil(2025, 9, 1) + prng.range(0, 180);
      w.append();
      w.text("lpp", key('V', k));
      w.text("rmc", dtos(day).substr(0, 6));
      w.date("data", dtos(day));
      w.text("lpp_ks", document_key(k <= m / 2 ? k : prng.range(1, m)));
      if (prng.chance(20)) {
        w.text("nr_ksef", ksef_number(prng, firm_nip(firm.plan.number), dtos(day)));
        w.text("ksef_serw", "T");
      }
      w.number("netto", prng.amount(1, 5000));
      w.number("vat", prng.amount(0, 1000));
      w.text("nip", std::to_string(prng.range(1, 9)) + prng.digits(9));
    }
    w.close();
  }
  {
    Prng prng = firm.prng_for("vd");
    TableWriter w(firm.path("vd"), firm.layout("vd"));
    for (long k = 1; k <= 25; ++k) {
      long day = days_from_civil(2025, 6, 1) + prng.range(0, 250);
      w.append();
      w.text("lpp", key('D', k));
      w.text("pz", prng.chance(50) ? "P" : "Z");
      w.text("rmc", dtos(day).substr(0, 6));
      w.date("data", dtos(day));
      w.text("nr_dok", "VD/" + std::to_string(k));
      w.number("netto", prng.amount(1, 4000));
      w.number("vat", prng.amount(0, 900));
    }
    w.close();
  }
  {
    Prng prng = firm.prng_for("rk_200");
    TableWriter w(firm.path("rk_200"), firm.layout("rk_200"));
    for (long k = 1; k <= 25; ++k) {
      w.append();
      w.text("lpp", key('W', k));
      w.text("lpp_ks", document_key(prng.range(1, m)));
      w.text("strona", prng.chance(50) ? "W" : "M");
      w.date("data_d", dtos(days_from_civil(2025, 7, 1) + prng.range(0, 200)));
      w.number("kwota", prng.amount(1, 9000));
      w.text("opis", "Rozrachunek " + std::to_string(k));
    }
    w.close();
  }
  {
    TableWriter w(firm.path("data"), firm.layout("data"));
    w.append();
    w.text("rok", "2025");
    w.date("last_dat", last_closed_date(firm.plan));
    w.date("first_dat", "20250101");
    w.text("mc", "11");
    w.text("zamk", "T");
    if (w.has("IMZ_KSEF")) {
      w.text("IMZ_KSEF", "T");
      w.text("IMS_KSEF", "T");
    }
    w.close();
  }
}

}  // namespace zuv::sample
