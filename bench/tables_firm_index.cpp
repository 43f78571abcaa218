// Rebuilding every index of a firm (INDEKSUJ) whose catalogue tables hold the given
// number of records in all, spread over every table of the catalogue; each table has
// the fields its keys read. Prints the time, records per second and tags built.
//   bench_tables_firm_index [records=500000] [directory=/tmp]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "lib/text.h"
#include "platform/table/engine_setup.h"
#include "platform/table/table.h"
#include "tables/catalogue.h"

using namespace zuv;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

table::Structure fields_for(const tables::TagList& tags) {
  std::map<std::string, char> types;
  std::regex word("([A-Za-z_][A-Za-z0-9_]*)\\s*(\\()?");
  for (const auto& [tag, key] : tags) {
    std::string context;
    for (auto it = std::sregex_iterator(key.begin(), key.end(), word); it != std::sregex_iterator(); ++it) {
      std::string w = lib::upper_ascii((*it)[1].str());
      if ((*it)[2].matched) {
        context = w;
        continue;
      }
      char type = context == "DTOS" ? 'D' : context == "STRZERO" ? 'N' : 'C';
      if (!types.count(w) || type != 'C') types[w] = type;
      context.clear();
    }
  }
  table::Structure s;
  for (auto [name, type] : types) s.push_back({name, type, type == 'D' ? 8 : type == 'N' ? 4 : 8, 0});
  s.push_back({"NAZWA", 'C', 40, 0});
  s.push_back({"KWOTA", 'N', 12, 2});
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  long total = argc > 1 ? std::atol(argv[1]) : 500000;
  std::string base = argc > 2 ? argv[2] : "/tmp";
  std::filesystem::path dir = std::filesystem::path(base) / "zuv-bench-firm";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "klient");
  std::string d = dir.string() + "/";

  int tables_n = 0, tags_n = 0;
  for (const auto& e : tables::firm_catalogue())
    if (e.kind == tables::CatalogueEntry::Index) ++tables_n, tags_n += int(e.tags.size());
  long per_table = total / tables_n;

  auto t0 = Clock::now();
  std::uint64_t seed = 12345;
  for (const auto& e : tables::firm_catalogue()) {
    if (e.kind != tables::CatalogueEntry::Index) continue;
    table::Structure s = fields_for(e.tags);
    std::string path = d + e.name + ".dbf";
    if (!table::Table::create(path, s)) return 1;
    table::OpenOptions o;
    o.path = path;
    auto t = table::Table::open(o);
    for (long i = 0; i < per_table; ++i) {
      bool stored = t->append();
      for (int f = 0; f < t->field_count(); ++f) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        unsigned v = unsigned(seed >> 33);
        char type = s[f].type;
        if (type == 'D') {
          char date[16];
          std::snprintf(date, sizeof date, "20%02u%02u%02u", 20 + v % 7, v % 12 + 1, v % 28 + 1);
          stored = t->put(f, table::Value::of_date(date)) && stored;
        } else if (type == 'N') {
          stored = t->put(f, table::Value::of_number(v % 100)) && stored;
        } else {
          stored = t->put(f, table::Value::of_text(std::to_string(v % 1000000))) && stored;
        }
      }
      if (!stored) return 1;
    }
    t->close();
  }
  double make = seconds_since(t0);
  if (!table::Table::create(d + "ntx.dbf", {{"OK", 'L', 1, 0}})) return 1;

  table::WorkAreas areas;
  table::DBESYS(areas, [](const std::string&) {});
  table::STARTINIT(areas);
  t0 = Clock::now();
  auto report = tables::INDEKSUJ(areas, d);
  double secs = seconds_since(t0);
  int built = 0;
  for (const auto& i : report.items) built += i.result == tables::kIndexBuilt;
  long records = per_table * tables_n;
  std::printf("tables %d, tags %d, records %ld (%ld per table); generated in %.2f s\n", tables_n, tags_n, records,
              per_table, make);
  std::printf("INDEKSUJ: %.2f s, %.0f records/s, %.0f keys/s, %d tables built\n", secs, records / secs,
              double(records) / tables_n * tags_n / secs, built);
  // What was built: every table's record count, read back.
  long counted = 0;
  for (const auto& e : tables::firm_catalogue()) {
    if (e.kind != tables::CatalogueEntry::Index) continue;
    table::OpenOptions o;
    o.path = d + e.name + ".dbf";
    o.shared = true;
    if (auto t = table::Table::open(o)) counted += t->record_count();
  }
  std::printf("records read back: %ld\n", counted);
  std::filesystem::remove_all(dir);
  return built == tables_n && counted == records ? 0 : 1;
}
