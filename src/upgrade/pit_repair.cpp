// The repair of the shared PIT tables for databases written before release 026.01.030:
// duplicate declarations go, payment totals and the payments' links are recomputed
// from the payment table.
#include <cmath>

#include "lib/text.h"
#include "tables/table_access.h"
#include "ui/licznik.h"
#include "upgrade/shared_indexes.h"

namespace zuv::upgrade {
namespace {

using table::Table;
using table::Value;

std::string text_of(const Table& t, const char* field) { return t.get(field).text; }
double number_of(const Table& t, const char* field) { return t.get(field).number; }
bool filled(const std::string& s) { return !lib::trim(s).empty(); }

// Positions t on the first record of its controlling order whose key starts with key;
// false (t at eof or elsewhere) when none does.
bool seek_prefix(Table& t, const std::string& key) {
  t.seek(Value::of_text(key), true);
  return !t.eof();
}

// The progress window of one pass: a step per hundred records.
class PassProgress {
 public:
  PassProgress(const UpgradeEnv& env, Table& t, const std::string& text) : env_(env) {
    env_.progress_restart(t.record_count() / 100.0, text);
  }
  void record() {
    if (++n_ % 100 == 0) env_.progress();
  }

 private:
  const UpgradeEnv& env_;
  long n_ = 0;
};

// Walks t in its controlling order and deletes every record whose key fields equal
// those of the last record kept.
bool drop_duplicates(Table& t, const std::vector<const char*>& key_fields) {
  bool written = true;
  std::vector<std::string> last;
  bool have_last = false;
  for (t.go_top(); !t.eof(); t.skip()) {
    std::vector<std::string> key;
    for (const char* f : key_fields) key.push_back(text_of(t, f));
    if (have_last && key == last) {
      written = t.remove() && written;
      continue;
    }
    last = std::move(key);
    have_last = true;
  }
  return written;
}

}  // namespace

bool repair_pit_tables(const UpgradeEnv& env, const std::string& database_dir) {
  table::WorkAreas& areas = env.areas;
  const std::string pub = database_dir + "public\\";
  bool opened = tables::OTWORZ(areas, pub, "fpit", "pf", std::string("rmc")) &&
                tables::OTWORZ(areas, pub, "wpit", "pw", std::string("nrw")) &&
                tables::OTWORZ(areas, pub, "pit_zap", "pz", std::string("lpw")) &&
                tables::OTWORZ(areas, pub, "wf", "wf", std::string("wf"));
  if (!opened) {
    for (const char* a : {"pf", "pw", "pz", "wf"}) tables::ZAMKNIJ(areas, a);
    return false;
  }
  Table& pf = *areas.find("pf");
  Table& pw = *areas.find("pw");
  Table& pz = *areas.find("pz");
  Table& wf = *areas.find("wf");

  // Every write must take: a repair half done is not a repair.
  bool written = drop_duplicates(pf, {"pit", "rmc", "nrfir"});
  written = drop_duplicates(pw, {"pit", "lpp_o"}) && written;
  auto put = [&](Table& t, std::string_view field, const Value& v) { written = t.put(field, v) && written; };

  {
    PassProgress progress(env, pw, "Sumowanie zapłat (1)...");
    pz.set_order_focus("lpw");
    for (pw.go_top(); !pw.eof(); pw.skip()) {
      progress.record();
      const std::string lpp = text_of(pw, "lpp");
      double paid = 0, interest = 0;
      if (filled(lpp) && seek_prefix(pz, lpp))
        for (; !pz.eof() && text_of(pz, "lpp_w") == lpp; pz.skip()) {
          paid += number_of(pz, "kwota_gl");
          interest += number_of(pz, "odsetki");
        }
      put(pw, "kw_zap", Value::of_number(paid));
      put(pw, "kw_ods", Value::of_number(interest));
    }
  }
  {
    PassProgress progress(env, pf, " Sumowanie zapłat (2)...");
    pz.set_order_focus("lpf");
    for (pf.go_top(); !pf.eof(); pf.skip()) {
      progress.record();
      const std::string lpp = text_of(pf, "lpp");
      const Value firm = pf.get("nrfir");
      double paid = 0, interest = 0;
      if (filled(lpp) && seek_prefix(pz, lpp))
        for (; !pz.eof() && text_of(pz, "lpp_f") == lpp; pz.skip()) {
          paid += number_of(pz, "kwota_gl");
          interest += number_of(pz, "odsetki");
          if (pz.get("nrfir").text != firm.text || pz.get("nrfir").number != firm.number) put(pz, "nrfir", firm);
        }
      put(pf, "kw_zap", Value::of_number(paid));
      put(pf, "kw_odsetek", Value::of_number(interest));
    }
  }
  {
    PassProgress progress(env, pz, " Sumowanie zapłat (3)...");
    pz.set_order_focus(0);
    pw.set_order_focus("lpp");
    pf.set_order_focus("lpp");
    for (pz.go_top(); !pz.eof(); pz.skip()) {
      progress.record();
      const std::string lpp_w = text_of(pz, "lpp_w");
      const std::string lpp_f = text_of(pz, "lpp_f");
      // A payment whose declaration is not found keeps the link it has.
      if (filled(lpp_w)) {
        pw.seek(Value::of_text(lpp_w), false);
        if (!pw.found()) continue;
        const Value lpp_o = pw.get("lpp_o");
        put(pz, "lpp_o", lpp_o);
        wf.seek(Value::of_text(lpp_o.text), true);
        if (!wf.eof() && wf.get("lpp_o").text == lpp_o.text) put(pz, "nrfir", wf.get("nrfir"));
      } else if (filled(lpp_f)) {
        pf.seek(Value::of_text(lpp_f), false);
        if (pf.found()) put(pz, "nrfir", pf.get("nrfir"));
      }
    }
  }
  for (const char* a : {"pf", "pw", "pz", "wf"}) tables::ZAMKNIJ(areas, a);
  return written;
}

}  // namespace zuv::upgrade
