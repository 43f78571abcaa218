// The shared fixture of the upgrade tests (compiled into the test program like them).
#include "upgrade/upgrade_fixture.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "lib/files.h"
#include "support/table_support.h"
#include "lib/text.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/error/error.h"
#include "upgrade/firm_lifecycle.h"
#include "upgrade/firm_records.h"
#include "upgrade/shared_indexes.h"

namespace zuv::upgrade::testing {
namespace {

void record_firm_step(steps::StepContext& ctx, const std::string& firm_dir, const char* version,
                      const char* name) {
  StepLog& log = step_log();
  std::string dir = firm_dir.substr(0, firm_dir.size() - 1);
  log.calls.push_back(std::string(name) + "@" + std::string(os::file_name_part(dir)));
  if (ctx.values->num_fir == log.fail_firm && log.fail_step == version)
    firm_error(gencode::kCorrupt, 0, "Uszkodzona tabela", firm_dir + "ks_dok.dbf", "TEST");
  if (ctx.values->num_fir == log.terr_firm) ctx.values->terr.push_back(std::string("Krok ") + name + " \x88\xA5");
  // The version record, as every real step writes it last.
  if (!tables::OTWORZ(ctx.areas, firm_dir, "wersja.dbf", "wer"))
    firm_error(gencode::kOpen, 0, "wersja.dbf", firm_dir + "wersja.dbf", "TEST");
  table::Table* t = ctx.areas.current();
  EXPECT_TRUE(t->put("baza", table::Value::of_text(version)));
  EXPECT_TRUE(t->put("wariant", table::Value::of_text(std::string(version).substr(7))));
  EXPECT_TRUE(t->commit());
  tables::ZAMKNIJ(ctx.areas, "wer");
}

#define FIRM_STEP(fn, v)                                                                                  \
  void fn(steps::StepContext& ctx, const std::string& f, const std::string&, const std::string&, \
          const std::string&) {                                                                           \
    record_firm_step(ctx, f, v, #fn);                                                                     \
  }
FIRM_STEP(I_26_01_001, "026.01.001")
FIRM_STEP(I_26_01_016, "026.01.016")
FIRM_STEP(I_26_01_017, "026.01.017")
FIRM_STEP(I_26_01_030, "026.01.030")
FIRM_STEP(I_26_01_033, "026.01.033")
#undef FIRM_STEP

#define STRUCTURE_STEP(fn) \
  void fn(steps::StepContext&, const std::string&, const std::string&) { step_log().calls.push_back(#fn); }
STRUCTURE_STEP(STR_26_01_001)
STRUCTURE_STEP(STR_26_01_015)
STRUCTURE_STEP(STR_26_01_027)
STRUCTURE_STEP(STR_26_01_032)
#undef STRUCTURE_STEP

constexpr steps::FirmStep kFirm[] = {
    {"026.01.001", "I_26_01_001", I_26_01_001}, {"026.01.016", "I_26_01_016", I_26_01_016},
    {"026.01.017", "I_26_01_017", I_26_01_017}, {"026.01.030", "I_26_01_030", I_26_01_030},
    {"026.01.033", "I_26_01_033", I_26_01_033},
};
constexpr steps::StructureStep kStructure[] = {
    {"026.01.001", "STR_26_01_001", STR_26_01_001},
    {"026.01.015", "STR_26_01_015", STR_26_01_015},
    {"026.01.027", "STR_26_01_027", STR_26_01_027},
    {"026.01.032", "STR_26_01_032", STR_26_01_032},
};

std::string windows_dir(std::string native) {
  if (native.back() != '/') native += '/';
  return native;  // the helpers take '/' as well as '\'
}

}  // namespace

StepLog& step_log() {
  static StepLog log;
  return log;
}

StepTables fake_tables() { return {kStructure, kFirm}; }

UpgradeTest::UpgradeTest() : pauses_([](int) {}) {
  env.observer = &ops;
  table::DBESYS(areas, [](const std::string&) {});
  table::STARTINIT(areas);
  step_log() = StepLog{};
  std::string base = windows_dir(scratch_.path());
  rel = base + "rel\\";
  db = base + "baza\\";
  prog = base + "prog\\";
  for (const std::string& d : {rel, rel + "str\\", rel + "xml\\", db, db + "str\\", db + "public\\", prog})
    EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(d)));
  // The release: semaphore and workstation table, EU codes, the version record.
  make_table(rel + "str\\nazwy.dbf",
             {{"NAZWA", 'C', 20, 0}, {"X1", 'C', 1, 0}, {"X2", 'C', 1, 0}, {"CZAS1", 'N', 10, 0},
              {"CZAS2", 'N', 10, 0}, {"CZAS3", 'N', 10, 0}, {"CZAS4", 'N', 10, 0}, {"CZAS5", 'N', 10, 0}},
             {});
  make_table(rel + "str\\ue.dbf", {{"KOD", 'C', 2, 0}},
             {{{"KOD", table::Value::of_text("AT")}}, {{"KOD", table::Value::of_text("PL")}}});
  make_table(rel + "wb.dbf", {{"BAZA", 'C', 10, 0}, {"ZUV", 'C', 9, 0}, {"OK", 'C', 1, 0}, {"ROK", 'C', 4, 0}},
             {{{"BAZA", table::Value::of_text(kWersjaB)},
               {"ZUV", table::Value::of_text(kWersjaP)},
               {"OK", table::Value::of_text("T")},
               {"ROK", table::Value::of_text("2026")}}});
  EXPECT_TRUE(lib::WRITEFILE(rel + "xml\\jpk.xml", "<jpk/>"));
  // The installed program: its version record and the database it uses.
  make_table(prog + "wersja.dbf", {{"ROK", 'C', 4, 0}, {"ZUV", 'C', 9, 0}},
             {{{"ROK", table::Value::of_text("2026")}, {"ZUV", table::Value::of_text("25.01.050")}}});
  make_table(prog + "baza.dbf", {{"PATH", 'C', 120, 0}}, {{{"PATH", table::Value::of_text(db)}}});
  env.release_dir = rel;
  env.wersja_p = kWersjaP;
  env.wersja_b = kWersjaB;
  env.steps = fake_tables();
  env.time_of_day = [] { return std::string("12:00:00"); };
}

UpgradeTest::~UpgradeTest() { areas.close_all(); }

void UpgradeTest::make_table(const std::string& path, const table::Structure& s,
                             const std::vector<std::map<std::string, table::Value>>& records, bool deleted) {
  ASSERT_TRUE(table::Table::create(path, s));
  table::OpenOptions o;
  o.path = path;
  auto t = table::Table::open(o);
  ASSERT_TRUE(t);
  for (const auto& r : records) {
    ASSERT_TRUE(t->append());
    for (const auto& [name, value] : r) {
      ASSERT_TRUE(t->put(name, value));
    }
    if (deleted) {
      EXPECT_TRUE(t->remove());
    }
  }
  t->close();
}

void UpgradeTest::make_register(const std::vector<int>& numbers, bool deleted) {
  std::vector<std::map<std::string, table::Value>> records;
  for (int n : numbers) records.push_back({{"NR", table::Value::of_number(n)}});
  make_table(db + "install.dbf", {{"NR", 'N', 4, 0}, {"NAZWA", 'C', 30, 0}}, records, deleted);
}

void UpgradeTest::make_firm(int nr, const std::string& version, const std::string& ident) {
  std::string dir = db + "firma" + std::to_string(nr) + "\\";
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(dir)));
  make_table(dir + "wersja.dbf", {{"BAZA", 'C', 10, 0}, {"NR", 'N', 5, 2}, {"WARIANT", 'C', 3, 0}},
             {{{"BAZA", table::Value::of_text(version)}}});
  make_table(dir + "firma.dbf", {{"IDENT", 'C', 20, 0}},
             {{{"IDENT", table::Value::of_text(ident.empty() ? "Firma " + std::to_string(nr) : ident)}}});
  make_table(dir + "ks_dok.dbf", {{"LPP", 'C', 8, 0}}, {{{"LPP", table::Value::of_text("1")}}});
}

void UpgradeTest::make_database(const std::string& version, const char* ok) {
  make_table(db + "wersja.dbf", {{"BAZA", 'C', 10, 0}, {"ZUV", 'C', 9, 0}, {"OK", 'C', 1, 0}, {"ROK", 'C', 4, 0}},
             {{{"BAZA", table::Value::of_text(version)},
               {"ZUV", table::Value::of_text("25.01.050")},
               {"OK", table::Value::of_text(ok)},
               {"ROK", table::Value::of_text("2026")}}});
  // What makes the directory a database, and the shared tables every run indexes.
  make_table(db + "semafor.dbf", {{"NAZWA", 'C', 20, 0}}, {});
  make_table(db + "str\\ks_dok.dbf", {{"LPP", 'C', 8, 0}}, {});
  make_shared_tables(/*with_optional=*/false);
}

// Every catalogue table, its fields read off the key expressions (text, dates under
// dtos, numbers under str); the PIT tables with the fields the repair uses.
void UpgradeTest::make_shared_tables(bool with_optional) {
  make_pit_tables();
  const std::set<std::string> pit = {"fpit", "wpit", "pit_zap", "wf"};
  for (const SharedIndexEntry& e : shared_index_catalogue()) {
    if (pit.count(e.table) || (e.only_if_present && !with_optional)) continue;
    table::Structure s;
    std::set<std::string> seen;
    for (const auto& [tag, key] : e.tags) {
      std::regex ident("([a-z_][a-z0-9_]*)(\\()?");
      std::string fn;
      for (std::sregex_iterator it(key.begin(), key.end(), ident), end; it != end; ++it) {
        if ((*it)[2].matched) {
          fn = (*it)[1];
          continue;
        }
        std::string name = (*it)[1];
        char type = fn == "dtos" ? 'D' : fn == "str" ? 'N' : 'C';
        fn.clear();
        if (!seen.insert(name).second) continue;
        s.push_back({name, type, type == 'D' ? 8 : type == 'N' ? 4 : 10, 0});
      }
    }
    make_table(db + e.directory + e.table + ".dbf", s, {});
  }
}
void UpgradeTest::make_pit_tables() {
  using table::Value;
  auto text = [](const char* s) { return Value::of_text(s); };
  auto num = [](double n) { return Value::of_number(n); };
  make_table(db + "public\\fpit.dbf",
             {{"PIT", 'C', 2, 0}, {"RMC", 'C', 6, 0}, {"NRFIR", 'C', 4, 0}, {"LPP", 'C', 6, 0},
              {"KW_ZAP", 'N', 12, 2}, {"KW_ODSETEK", 'N', 12, 2}},
             {{{"PIT", text("04")}, {"RMC", text("202601")}, {"NRFIR", text("0001")}, {"LPP", text("F1")}},
              {{"PIT", text("04")}, {"RMC", text("202601")}, {"NRFIR", text("0001")}, {"LPP", text("F2")}},
              {{"PIT", text("04")}, {"RMC", text("202602")}, {"NRFIR", text("0001")}, {"LPP", text("F3")}}});
  make_table(db + "public\\wpit.dbf",
             {{"PIT", 'C', 2, 0}, {"LPP_O", 'C', 6, 0}, {"RMC", 'C', 6, 0}, {"LPP", 'C', 6, 0},
              {"KW_ZAP", 'N', 12, 2}, {"KW_ODS", 'N', 12, 2}},
             {{{"PIT", text("11")}, {"LPP_O", text("O1")}, {"RMC", text("202601")}, {"LPP", text("W1")}},
              {{"PIT", text("11")}, {"LPP_O", text("O1")}, {"RMC", text("202602")}, {"LPP", text("W2")}}});
  make_table(db + "public\\pit_zap.dbf",
             {{"LPP", 'C', 6, 0}, {"LPP_W", 'C', 6, 0}, {"LPP_F", 'C', 6, 0}, {"LPP_O", 'C', 6, 0},
              {"NRFIR", 'C', 4, 0}, {"KWOTA_GL", 'N', 12, 2}, {"ODSETKI", 'N', 12, 2}, {"DATA_Z", 'D', 8, 0}},
             {{{"LPP", text("Z1")}, {"LPP_W", text("W1")}, {"KWOTA_GL", num(100)}, {"ODSETKI", num(1.5)},
               {"DATA_Z", Value::of_date("20260110")}},
              {{"LPP", text("Z2")}, {"LPP_W", text("W1")}, {"KWOTA_GL", num(50)}, {"ODSETKI", num(0.5)},
               {"DATA_Z", Value::of_date("20260120")}},
              {{"LPP", text("Z3")}, {"LPP_F", text("F1")}, {"NRFIR", text("0009")}, {"KWOTA_GL", num(70)},
               {"DATA_Z", Value::of_date("20260115")}},
              {{"LPP", text("Z4")}, {"LPP_W", text("W9")}, {"LPP_O", text("XX")}, {"NRFIR", text("0005")},
               {"DATA_Z", Value::of_date("20260115")}}});
  make_table(db + "public\\wf.dbf", {{"LPP", 'C', 6, 0}, {"LPP_O", 'C', 6, 0}, {"NRFIR", 'C', 4, 0}},
             {{{"LPP", text("L1")}, {"LPP_O", text("O1")}, {"NRFIR", text("0003")}}});
}

std::string UpgradeTest::read_field(const std::string& table_path, const char* field) {
  auto t = zuv::testing::open_for_reading(table_path);
  if (!t) return "<missing>";
  t->set_settings(&areas.settings());
  t->go_top();
  return t->eof() ? "<empty>" : lib::trim(t->get(field).text);
}

std::string UpgradeTest::bytes(const std::string& p) { return zuv::testing::table_read_bytes(os::native_path(p)); }
bool UpgradeTest::exists(const std::string& p) { return os::file_exists(std::string_view(p)); }

std::string UpgradeTest::run(const std::string& database_version, UpgradeOutcome* outcome) {
  return UPGRADE_NOWEJ_BAZY(env, prog, db, database_version, fields, nullptr, outcome);
}

std::map<std::string, std::string> snapshot(const std::string& native_dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(native_dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    files[std::filesystem::relative(e.path(), native_dir).generic_string()] = ss.str();
  }
  return files;
}

}  // namespace zuv::upgrade::testing
