// A firm of the layouts that the firm steps 015-033 convert, built table by table in a
// scratch database directory, with the readers and the step runner the tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "lib/files.h"
#include "platform/os/fault.h"
#include "platform/table/engine_setup.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "steps/steps.h"
#include "support/table_support.h"
#include "platform/error/error.h"
#include "tables/table_access.h"

namespace zuv::steps::late_testing {

using Row = std::map<std::string, table::Value>;
inline table::Value T(std::string_view s) { return table::Value::of_text(s); }
inline table::Value N(double n) { return table::Value::of_number(n); }
inline table::Value D(std::string_view yyyymmdd) { return table::Value::of_date(yyyymmdd); }

// The named fields in their order, then one-character fillers up to count fields.
inline table::Structure padded(table::Structure named, int count) {
  for (int p = static_cast<int>(named.size()) + 1; p <= count; ++p) named.push_back({"F" + std::to_string(p), 'C', 1, 0});
  return named;
}

inline table::FieldInfo money(const std::string& name) { return {name, 'N', 14, 2}; }

// Purchase documents, 170 fields: the rate totals at 35-48, the category totals at
// 129-156 (as the step reads them by position).
inline table::Structure old_purchase_documents() {
  table::Structure s = {{"LPP", 'C', 10, 0},    {"NIP", 'C', 13, 0},   {"IS_K", 'C', 1, 0},  {"TYP_FAK", 'C', 10, 0},
                        {"BN", 'C', 1, 0},      {"DATA_P1", 'D', 8, 0}, {"NR_KSEF", 'C', 36, 0}, money("BRUTTO"),
                        {"ALL_ZW", 'C', 1, 0},  {"IS_MARZA", 'C', 1, 0}, money("N_EUR"),       money("V_EUR"),
                        money("B_EUR"),         {"XML", 'M', 10, 0}};
  s = padded(s, 34);
  for (const char* f : {"N23", "N8", "N5", "N4", "N0", "ZW", "V23", "V8", "V5", "V4", "V23PLN", "V8PLN", "V5PLN",
                        "V4PLN"})
    s.push_back(money(f));
  s = padded(s, 128);
  for (const char* c : {"STS", "STI", "STA", "TOW", "UBO", "INN", "PAL", "LEA", "PZU", "MAG", "MTZ", "MTP", "MRU", "MRL"}) {
    s.push_back(money(std::string("N_") + c));
    s.push_back(money(std::string("V_") + c));
  }
  return padded(s, 170);
}

// Sales documents, 170 fields: the rate totals at 32-45, the foreign sales at 46-49.
inline table::Structure old_sales_documents() {
  table::Structure s = {{"LPP", 'C', 10, 0},     {"NIP", 'C', 13, 0},     {"IS_K", 'C', 1, 0}, {"TYP_FAK", 'C', 10, 0},
                        {"DATA_P1", 'D', 8, 0},  {"NR_KSEF", 'C', 36, 0}, money("BRUTTO"),      {"ALL_ZW", 'C', 1, 0},
                        {"IS_MARZA", 'C', 1, 0}, {"KRAJ", 'C', 2, 0},     {"NIP_KRAJ", 'C', 2, 0}, {"OSS", 'C', 1, 0},
                        money("N_OSS"),          money("V_OSS"),          money("N"),          money("V"),
                        money("B"),              money("NT"),             money("NU"),         money("NP"),
                        {"XML", 'M', 10, 0}};
  s = padded(s, 31);
  for (const char* f : {"N23", "N8", "N5", "N4", "N0", "ZW", "V23", "V8", "V5", "V4", "V23PLN", "V8PLN", "V5PLN",
                        "V4PLN", "WDT", "EKS_TOW", "EKS_USL", "EKS_USL_UE"})
    s.push_back(money(f));
  return padded(s, 170);
}

// The release's templates: the old fields and the new ones after them.
inline table::Structure release_layout(table::Structure old, int count) {
  for (int p = static_cast<int>(old.size()) + 1; p <= count; ++p) old.push_back({"G" + std::to_string(p), 'C', 2, 0});
  return old;
}

inline table::Structure buffer_lines() {
  return {{"LPPF", 'C', 10, 0}, {"LP", 'N', 4, 0},   {"LPP", 'C', 10, 0},  {"PTU", 'C', 5, 0},
          money("NETTO"),       money("VAT"),        money("BRUTTO"),      {"CENAN", 'N', 14, 4},
          {"CENAB", 'N', 14, 4},       {"ILOSC", 'N', 12, 3}, {"DEKRET", 'C', 3, 0}, money("NETTO_U"),
          money("VAT_U"),       {"KAS", 'C', 1, 0}};
}

class LateFirmStepsTest : public ::testing::Test {
 protected:
  LateFirmStepsTest()
      : pauses_([](int) {}), handler_([](ErrorRecord&) { return HandlerAnswer::Break; }) {
    table::DBESYS(areas, [](const std::string&) {});
    table::STARTINIT(areas);
    root = scratch.path() + "\\";
    firm = root + "firma1\\";
    templates = root + "str\\";
    values.kraje_ue = ",AT,BE,BG,CY,CZ,DE,DK,EE,EL,ES,FI,FR,HR,HU,IE,IT,LT,LU,LV,MT,NL,PT,RO,SE,SI,SK,";
    build_firm();
  }

  // Every table the steps read, in its old layout, with the one-record tables filled
  // and the others empty; the release's templates in "str\".
  void build_firm() {
    std::filesystem::remove_all(std::filesystem::path(scratch.path()) / "firma1");
    std::filesystem::remove_all(std::filesystem::path(scratch.path()) / "str");
    EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm)));
    EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(templates)));
    tables_built.clear();
    make("wersja.dbf", {{"BAZA", 'C', 10, 0}, {"NR", 'N', 5, 2}, {"WARIANT", 'C', 3, 0}},
         {{{"BAZA", T("026.01.013")}, {"NR", N(26.01)}, {"WARIANT", T("013")}}});
    make("firma.dbf", {{"VT", 'C', 1, 0}, {"RYCZALT", 'C', 1, 0}}, {{{"VT", T("T")}}});
    make("data.dbf", padded({{"LAST_DAT", 'D', 8, 0}}, 10), {{{"LAST_DAT", D("20251130")}}});
    make("ksef_p.dbf", padded({{"TYP_VAT", 'C', 2, 0}, {"TYP_ZAL", 'C', 2, 0}}, 15),
         {{{"TYP_VAT", T("V1")}, {"TYP_ZAL", T("Z2")}}});
    table::Structure nip = padded({{"NIP", 'C', 13, 0}}, 15);
    for (const char* c : {"STS", "STI", "STA", "TOW", "UBO", "INN", "PAL", "LEA", "PZU", "MTZ", "MTP", "MRU", "MRL", "MAG"})
      nip.push_back({std::string("K_") + c, 'N', 6, 0});
    make("ksef_nip.dbf", padded(nip, 30), {});
    make("ksef_bz.dbf", old_purchase_documents(), {});
    make("ksef_bs.dbf", old_sales_documents(), {});
    make("ksef_bza.dbf", buffer_lines(), {});
    make("ksef_bsa.dbf", buffer_lines(), {});
    make("ksef_bzb.dbf", {{"LPPF", 'C', 10, 0}, {"DEKRET", 'C', 3, 0}, {"KAS", 'C', 1, 0}}, {});
    make("ks_dok.dbf",
         {{"LPP", 'C', 10, 0}, {"LP", 'N', 8, 0}, {"TM", 'C', 2, 0}, {"TK", 'C', 1, 0}, {"DATAK", 'D', 8, 0},
          {"DATA_VAT", 'D', 8, 0}, {"D_DOK", 'D', 8, 0}, {"DATA_ZAPL", 'D', 8, 0}, {"NR_KSEF", 'C', 36, 0},
          {"KSEF_SERW", 'C', 1, 0}},
         {});
    make("ks_kor.dbf",
         {{"LPP", 'C', 10, 0}, {"KAS", 'C', 1, 0}, {"MP", 'C', 1, 0}, {"C2", 'C', 1, 0}, {"STRONA", 'C', 1, 0},
          {"NIP", 'C', 20, 0}},
         {});
    make("vd.dbf", padded({{"LPP", 'C', 10, 0}, {"PZ", 'C', 1, 0}, {"RMC", 'C', 6, 0}, {"DATA", 'D', 8, 0}}, 80), {});
    make("v_z.dbf",
         {{"LPP", 'C', 10, 0}, {"RMC", 'C', 6, 0}, {"DATA", 'D', 8, 0}, {"LPP_KS", 'C', 10, 0},
          {"NR_KSEF", 'C', 36, 0}, {"KSEF_SERW", 'C', 1, 0}},
         {});
    make("rk_200.dbf", padded({{"LPP_KS", 'C', 10, 0}, {"STRONA", 'C', 1, 0}, {"DATA_D", 'D', 8, 0}}, 30), {});
    make_in(templates, "idw_lst.dbf", {{"IDW", 'C', 10, 0}}, {{{"IDW", T("wzorzec")}}});
    make_in(templates, "ksef_bz.dbf", release_layout(old_purchase_documents(), 215), {});
    make_in(templates, "ksef_bs.dbf", release_layout(old_sales_documents(), 210), {});
  }

  void make_in(const std::string& dir, const std::string& name, const table::Structure& s, const std::vector<Row>& rows) {
    ASSERT_TRUE(table::Table::create(dir + name, s)) << name;
    if (dir == firm) tables_built.push_back(name);
    add_in(dir, name, rows);
  }
  void make(const std::string& name, const table::Structure& s, const std::vector<Row>& rows) { make_in(firm, name, s, rows); }

  void add_in(const std::string& dir, const std::string& name, const std::vector<Row>& rows) {
    if (rows.empty()) return;
    auto t = open(dir + name);
    ASSERT_TRUE(t) << name;
    for (const Row& r : rows) {
      ASSERT_TRUE(t->append());
      for (const auto& [field, v] : r) {
        ASSERT_TRUE(t->put(field, v)) << name << "." << field;
      }
    }
    ASSERT_TRUE(t->commit());
  }
  void add(const std::string& name, const std::vector<Row>& rows) { add_in(firm, name, rows); }

  // Changes fields of one record.
  void change(const std::string& name, std::uint32_t recno, const Row& r) {
    auto t = open(firm + name);
    ASSERT_TRUE(t && t->go_to(recno));
    for (const auto& [field, v] : r) {
      ASSERT_TRUE(t->put(field, v));
    }
    ASSERT_TRUE(t->commit());
  }

  static std::unique_ptr<table::Table> open(const std::string& path) {
    table::OpenOptions o;
    o.path = path;
    return table::Table::open(o);
  }

  table::Value value(const std::string& name, std::uint32_t recno, const std::string& field, const std::string& dir = "") {
    auto t = open((dir.empty() ? firm : dir) + name);
    if (!t || !t->go_to(recno)) return {};
    return t->get(field);
  }
  std::string text(const std::string& name, std::uint32_t recno, const std::string& field, const std::string& dir = "") {
    std::string s = value(name, recno, field, dir).text;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  double number(const std::string& name, std::uint32_t recno, const std::string& field) {
    return value(name, recno, field).number;
  }
  int field_count(const std::string& name, const std::string& dir = "") {
    auto t = open((dir.empty() ? firm : dir) + name);
    return t ? t->field_count() : -1;
  }
  std::uint32_t record_count(const std::string& name, const std::string& dir = "") {
    auto t = open((dir.empty() ? firm : dir) + name);
    return t ? t->record_count() : 0;
  }
  std::string recorded() { return text("wersja.dbf", 1, "BAZA"); }
  std::string wariant() { return text("wersja.dbf", 1, "WARIANT"); }
  void set_version(const std::string& baza, const std::string& wariant_text) {
    change("wersja.dbf", 1, {{"BAZA", T(baza)}, {"WARIANT", T(wariant_text)}});
  }

  // Runs a step as the dispatcher does; true when it finished, false when it raised.
  // A finished step leaves no table open.
  bool run(FirmStepFn step, const std::string& firm_version) {
    StepContext ctx{areas, ".\\", &values};
    bool finished = false;
    try {
      step(ctx, firm, root + "program\\", root, firm_version);
      finished = true;
      std::string open;
      for (const auto& alias : areas.aliases()) open += " " + alias;
      EXPECT_EQ(open, "") << "a table was left open";
    } catch (const Break& b) {
      last_error = b.record.description + " (" + b.record.fileName + ")";
      if (std::getenv("ZUV_STEP_TRACE")) std::fprintf(stderr, "step raised: %s\n", last_error.c_str());
    }
    tables::CLOSEALL(areas);
    return finished;
  }
  bool run(FirmStepFn step) { return run(step, recorded()); }

  // Every record of every table built (and of "bak\"), field by field, as text.
  std::map<std::string, std::string> dump() {
    std::map<std::string, std::string> out;
    std::vector<std::string> paths;
    for (const std::string& n : tables_built) paths.push_back(firm + n);
    for (const char* n : {"ksef_bz.dbf", "ksef_bs.dbf", "idw_lst.dbf"})
      if (std::filesystem::exists(std::filesystem::path(scratch.path()) / "firma1" / "bak" / n)) paths.push_back(firm + "bak\\" + n);
    for (const std::string& p : paths) {
      auto t = open(p);
      std::string& s = out[p];
      if (!t) {
        s = "(missing)";
        continue;
      }
      for (const auto& f : t->fields()) s += f.name + ":" + f.type + " ";
      s += "\n";
      for (std::uint32_t r = 1; r <= t->record_count(); ++r) {
        t->go_to(r);
        s += t->deleted() ? "*" : " ";
        for (int i = 0; i < t->field_count(); ++i) {
          table::Value v = t->get(i);
          if (v.type == table::ValueType::Number) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.4f", v.number);
            s += buf;
          } else {
            s += v.text;
          }
          s += "|";
        }
        s += "\n";
      }
    }
    return out;
  }

  // The tables in which two dumps differ, each with its first differing line.
  static std::string differences(const std::map<std::string, std::string>& a,
                                 const std::map<std::string, std::string>& b) {
    std::string out;
    auto first_line = [](const std::string& x, const std::string& y) {
      size_t i = 0;
      while (i < x.size() && i < y.size() && x[i] == y[i]) ++i;
      size_t start = x.rfind('\n', i == 0 ? 0 : i - 1);
      start = start == std::string::npos ? 0 : start + 1;
      return x.substr(start, x.find('\n', start) - start) + "  <>  " +
             y.substr(start, y.find('\n', start) - start);
    };
    for (const auto& [k, v] : a) {
      auto it = b.find(k);
      if (it == b.end()) out += k + ": only in the first\n";
      else if (it->second != v) out += k + ": " + first_line(v, it->second) + "\n";
    }
    for (const auto& [k, v] : b)
      if (!a.count(k)) out += k + ": only in the second\n";
    return out;
  }

  // Runs the step with a fault at each file operation it performs, every time on the
  // firm that prepare builds. A run that fails leaves the version record as it was and
  // (when repeatable) a clean run afterwards gives the result of an undisturbed run; a
  // run that absorbs the fault gives that result itself.
  void fault_sweep(const std::string& label, const std::function<void()>& prepare, FirmStepFn step,
                   bool repeatable) {
    prepare();
    const std::string before = recorded();
    ASSERT_TRUE(run(step, before));
    const auto reference = dump();
    const std::string reference_version = recorded();
    prepare();
    os::fault::start_counting();
    ASSERT_TRUE(run(step, before));
    int counts[int(os::fault::Op::Count_)];
    for (int k = 0; k < int(os::fault::Op::Count_); ++k) counts[k] = os::fault::counted(os::fault::Op(k));
    os::fault::disarm();
    int failures = 0, late_versions = 0, injected = 0;
    for (int k = 0; k < int(os::fault::Op::Count_); ++k) {
      for (int n = 1; n <= counts[k]; ++n) {
        prepare();
        ++injected;
        SCOPED_TRACE("operation kind " + std::to_string(k) + ", number " + std::to_string(n));
        bool finished;
        {
          os::fault::Scope scope;
          os::fault::arm(os::fault::Op(k), n, 112);
          finished = run(step, before);
        }
        if (finished) {
          EXPECT_EQ(differences(dump(), reference), "");
          continue;
        }
        ++failures;
        if (recorded() != before) {
          // The fault hit the version record itself, whose change reached the disk
          // when the area was closed after the failure: only a step that finished its
          // work may end so.
          ++late_versions;
          EXPECT_EQ(differences(dump(), reference), "") << "a version recorded for work not done";
          continue;
        }
        if (repeatable) {
          EXPECT_TRUE(run(step, before)) << last_error;
          // A step that finds its work done may record a later version than the
          // undisturbed run (step 033 finding the release's layout): the data agree.
          auto again = dump();
          auto expected = reference;
          EXPECT_GE(recorded(), reference_version);
          again.erase(firm + "wersja.dbf");
          expected.erase(firm + "wersja.dbf");
          EXPECT_EQ(differences(again, expected), "");
        }
      }
    }
    RecordProperty(label + "_faults", injected);
    RecordProperty(label + "_failed_runs", failures);
    RecordProperty(label + "_versions_written_on_close", late_versions);
    EXPECT_LE(late_versions, 2) << "only the version record's own writes may end so";
  }

  table::WorkAreas areas;
  zuv::testing::TableTempDir scratch;
  std::string root, firm, templates;
  RunValues values;
  std::vector<std::string> tables_built;
  std::string last_error;  // of the last step that raised

 private:
  tables::ScopedPauses pauses_;
  ScopedHandler handler_;
};

}  // namespace zuv::steps::late_testing
