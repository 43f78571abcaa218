// Table engine throughput on a table of 20 mixed fields: append, a full scan reading
// every field, and an update pass, in records per second; and the scan's time as a
// multiple of the time `cat` needs to read the same file from the page cache.
//   bench_table_scan [records=1000000] [directory=/tmp]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/table/table.h"

using namespace zuv::table;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

Structure twenty_fields() {
  return {{"LP", 'N', 8, 0},       {"NAZWA", 'C', 40, 0},   {"ADRES", 'C', 30, 0},  {"MIASTO", 'C', 20, 0},
          {"NIP", 'C', 13, 0},     {"KWOTA", 'N', 12, 2},   {"VAT", 'N', 10, 2},    {"BRUTTO", 'N', 12, 2},
          {"ILOSC", 'N', 6, 0},    {"DATA", 'D', 8, 0},     {"TERMIN", 'D', 8, 0},  {"ZAPLATA", 'D', 8, 0},
          {"OK", 'L', 1, 0},       {"KOREKTA", 'L', 1, 0},  {"SYMBOL", 'C', 10, 0}, {"KONTO", 'C', 16, 0},
          {"RMC", 'C', 6, 0},      {"STAWKA", 'N', 5, 2},   {"KURS", 'N', 10, 4},   {"UWAGI", 'M', 10, 0}};
}

// One record's values, rebuilt in place for each record as a caller converting data
// would: the engine's cost is what is measured, not the making of strings. Values
// that are the same in every record are made once.
struct Row {
  std::vector<Value> values = std::vector<Value>(19);
  Row() {
    values[2] = Value::of_text("ul. Długa 12");
    values[3] = Value::of_text("Kraków");
    values[4] = Value::of_text("123-456-78-90");
    values[11] = Value::of_date("");
    values[13] = Value::of_logical(false);
    values[14] = Value::of_text("FV");
    values[15] = Value::of_text("201-01");
    values[16] = Value::of_text("202604");
    values[17] = Value::of_number(23);
    values[18] = Value::of_number(4.2512);
  }
  void make(std::uint32_t i) {
    char text[32] = "Kontrahent numer ";
    char* d = text + 17;
    char digits[12];
    int n = 0;
    for (std::uint32_t k = i; k; k /= 10) digits[n++] = static_cast<char>('0' + k % 10);
    while (n) *d++ = digits[--n];
    values[0] = Value::of_number(i);
    values[1].type = ValueType::Text;
    values[1].text.assign(text, static_cast<std::size_t>(d - text));
    values[5] = Value::of_number(i * 0.37);
    values[6] = Value::of_number(i * 0.0851);
    values[7] = Value::of_number(i * 0.4551);
    values[8] = Value::of_number(i % 1000);
    char date[9] = "20260101";
    unsigned month = i % 12 + 1, day = i % 28 + 1;
    date[4] = static_cast<char>('0' + month / 10);
    date[5] = static_cast<char>('0' + month % 10);
    date[6] = static_cast<char>('0' + day / 10);
    date[7] = static_cast<char>('0' + day % 10);
    values[9].type = values[10].type = ValueType::Date;
    values[9].text.assign(date, 8);
    values[10].text.assign(date, 8);
    values[12] = Value::of_logical(i % 2);
  }
};

bool fill(Table& t, Row& row, std::uint32_t i) {
  row.make(i);
  bool stored = true;
  for (int f = 0; f < 19; ++f) stored = t.put(f, row.values[f]) && stored;
  return stored;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t records = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  std::filesystem::path dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  dir /= "zuv-bench-table";
  std::filesystem::create_directories(dir);
  std::string path = (dir / "bench.dbf").string();
  if (!Table::create(path, twenty_fields())) return 1;
  OpenOptions o;
  o.path = path;

  auto t0 = Clock::now();
  {
    auto t = Table::open(o);
    Row row;
    for (std::uint32_t i = 1; i <= records; ++i) {
      if (!t->append() || !fill(*t, row, i)) return 1;
    }
  }
  double append_s = seconds_since(t0);

  std::string cat = "cat '" + path + "' > /dev/null";
  if (std::system(cat.c_str()) != 0) return 1;  // into the page cache
  t0 = Clock::now();
  if (std::system(cat.c_str()) != 0) return 1;
  double cat_s = seconds_since(t0);

  t0 = Clock::now();
  double checksum = 0;
  std::uint32_t scanned = 0;
  {
    auto t = Table::open(o);
    Value v;
    for (t->go_top(); !t->eof(); t->skip(1)) {
      for (int f = 0; f < t->field_count(); ++f) {
        t->read(f, v);
        checksum += v.number + static_cast<double>(v.text.size());
      }
      ++scanned;
    }
  }
  double scan_s = seconds_since(t0);

  t0 = Clock::now();
  {
    auto t = Table::open(o);
    for (t->go_top(); !t->eof(); t->skip(1))
      if (!t->put(5, Value::of_number(t->recno() * 0.5))) return 1;
  }
  double update_s = seconds_since(t0);

  auto size = std::filesystem::file_size(path);
  std::printf("records %u, 20 fields, file %.1f MB\n", records, size / 1e6);
  std::printf("append : %8.3f s  %10.0f records/s  (%.2fx scan)\n", append_s, records / append_s, append_s / scan_s);
  std::printf("scan   : %8.3f s  %10.0f records/s  (%u records, checksum %.0f)\n", scan_s, scanned / scan_s, scanned,
              checksum);
  std::printf("update : %8.3f s  %10.0f records/s  (%.2fx scan)\n", update_s, records / update_s, update_s / scan_s);
  std::printf("cat    : %8.3f s  scan = %.2fx cat\n", cat_s, scan_s / cat_s);
  if (!std::getenv("ZUV_BENCH_KEEP")) std::filesystem::remove_all(dir);
  return 0;
}
