// Field addition (DODAJ_POLE) on a table of the given number of records with a memo
// text in every tenth record: adding three fields with initial values, and the call
// that finds every field present. Compared with copying the table's files.
//   bench_tables_field_addition [records=1000000] [directory=/tmp]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/table/engine_setup.h"
#include "platform/table/table.h"
#include "tables/rebuild.h"

using namespace zuv;
using Clock = std::chrono::steady_clock;

namespace {
double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }
}  // namespace

int main(int argc, char** argv) {
  long n = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::string base = argc > 2 ? argv[2] : "/tmp";
  std::filesystem::path dir = std::filesystem::path(base) / "zuv-bench-fields";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::string d = dir.string() + "/";

  table::Structure s = {{"LPP", 'C', 8, 0},   {"NAZWA", 'C', 40, 0}, {"NIP", 'C', 13, 0},
                        {"DATA", 'D', 8, 0},  {"KWOTA", 'N', 12, 2}, {"VAT", 'N', 10, 2},
                        {"RMC", 'C', 6, 0},   {"OK", 'L', 1, 0},     {"UWAGI", 'M', 10, 0}};
  auto t0 = Clock::now();
  if (!table::Table::create(d + "ks_dok.dbf", s)) return 1;
  {
    table::OpenOptions o;
    o.path = d + "ks_dok.dbf";
    auto t = table::Table::open(o);
    for (long i = 0; i < n; ++i) {
      bool stored = t->append() && t->put(0, table::Value::of_text(std::to_string(i))) &&
                    t->put(1, table::Value::of_text("Kontrahent numer " + std::to_string(i))) &&
                    t->put(2, table::Value::of_text("123-456-78-90")) &&
                    t->put(3, table::Value::of_date("20260115")) && t->put(4, table::Value::of_number(i * 0.37)) &&
                    t->put(5, table::Value::of_number(i * 0.08)) && t->put(6, table::Value::of_text("202601")) &&
                    t->put(7, table::Value::of_logical(i % 2));
      if (stored && i % 10 == 0) stored = t->put(8, table::Value::of_memo("notatka " + std::to_string(i)));
      if (stored && i % 50 == 0) stored = t->remove();
      if (!stored) return 1;
    }
  }
  double make = seconds_since(t0);
  auto bytes = std::filesystem::file_size(dir / "ks_dok.dbf") + std::filesystem::file_size(dir / "ks_dok.fpt");

  t0 = Clock::now();
  std::filesystem::copy_file(dir / "ks_dok.dbf", dir / "kopia.dbf");
  std::filesystem::copy_file(dir / "ks_dok.fpt", dir / "kopia.fpt");
  double copy = seconds_since(t0);
  std::filesystem::remove(dir / "kopia.dbf");
  std::filesystem::remove(dir / "kopia.fpt");

  table::WorkAreas areas;
  table::DBESYS(areas, [](const std::string&) {});
  table::STARTINIT(areas);
  table::Structure add = {{"KSEF", 'C', 40, 0}, {"KURS", 'N', 10, 4}, {"DATA_K", 'D', 8, 0}};
  t0 = Clock::now();
  bool ok = tables::DODAJ_POLE(areas, add, {table::Value::of_text("brak"), table::Value::of_number(1)}, d,
                               "ks_dok.dbf");
  double rebuild = seconds_since(t0);
  t0 = Clock::now();
  bool again = tables::DODAJ_POLE(areas, add, {}, d, "ks_dok.dbf");
  double noop = seconds_since(t0);
  std::printf("records %ld, files %.1f MB, made in %.2f s\n", n, bytes / 1e6, make);
  std::printf("DODAJ_POLE (3 fields): %.2f s, %.0f records/s; copying the files: %.2f s (%.1fx)\n", rebuild,
              n / rebuild, copy, rebuild / copy);
  std::printf("DODAJ_POLE with every field present: %.4f s\n", noop);
  std::filesystem::remove_all(dir);
  return ok && again ? 0 : 1;
}
