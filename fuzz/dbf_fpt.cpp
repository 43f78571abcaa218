// Fuzzes the DBF and memo readers: the input is a table image and a memo image
// (the first four bytes, little-endian, give the table's share of the rest; the
// table's own version byte picks an FPT or a DBT memo). Every record and field is read,
// both ways, from memory; then the same bytes as files are opened, walked through the
// record window as a shared reader does, and checked; last, the table is written as an
// upgrade writes (a copy of its last record appended, a record deleted, recalled and
// changed back): a table the checker passed must pass it still.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scratch_files.h"
#include "platform/error/error.h"
#include "platform/table/index_check.h"
#include "platform/table/table.h"

namespace {

// Deleted records shown, and hidden as the suite reads.
const zuv::table::Settings& settings(bool hide_deleted) {
  static const zuv::table::Settings shown = [] {
    zuv::table::Settings s;
    s.deleted_hidden = false;
    return s;
  }();
  static const zuv::table::Settings hidden = [] {
    zuv::table::Settings s;
    s.deleted_hidden = true;
    return s;
  }();
  return hide_deleted ? hidden : shown;
}

void walk(zuv::table::Table& table, bool hide_deleted) {
  table.set_settings(&settings(hide_deleted));
  (void)table.structure();
  zuv::table::Value v;
  for (table.go_top(); !table.eof(); table.skip(1)) {
    for (int f = 0; f < table.field_count(); ++f) table.read(f, v);
  }
  for (table.go_bottom(); !table.bof(); table.skip(-1)) {
    for (int f = 0; f < table.field_count(); ++f) (void)table.get(f);
  }
  // Jumps, as a seek's answer lands: the window reads a few records, not a whole one.
  const std::uint32_t n = table.record_count();
  for (std::uint32_t r : {n, n / 2 + 1, 1u, n + 1}) {
    if (table.go_to(r)) (void)table.get(0);
  }
}

// The last record copied by field name into a new one, the first deleted and recalled,
// a change forgotten: append, encode, memo writes and the header over a damaged table.
void write(const std::string& path) {
  zuv::table::OpenOptions o;
  o.path = path;
  auto table = zuv::table::Table::open(o);
  if (!table) return;
  table->set_settings(&settings(false));
  std::vector<zuv::table::Value> last;
  table->go_bottom();
  for (int f = 0; f < table->field_count(); ++f) last.push_back(table->get(table->fields()[f].name));
  if (table->append()) {
    for (int f = 0; f < table->field_count(); ++f) (void)table->put(table->fields()[f].name, last[f]);
    (void)table->commit();
  }
  table->go_top();
  if (!table->eof() && table->remove() && table->recall()) {
    if (table->field_count() > 0) (void)table->put(0, last[0]);
    table->rollback();
  }
  table->close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t split = std::uint32_t(data[0]) | (std::uint32_t(data[1]) << 8) | (std::uint32_t(data[2]) << 16) |
                        (std::uint32_t(data[3]) << 24);
  data += 4;
  size -= 4;
  split = static_cast<std::uint32_t>(split % (size + 1));
  std::string dbf(reinterpret_cast<const char*>(data), split);
  std::string memo(reinterpret_cast<const char*>(data) + split, size - split);

  zuv::ScopedHandler quiet([](zuv::ErrorRecord&) { return zuv::HandlerAnswer::Default; });
  if (auto table = zuv::table::Table::open_image(dbf, memo)) {
    walk(*table, false);
    walk(*table, true);
  }

  ScratchFiles files;
  const std::string path = files.write("t.dbf", dbf);
  if (path.empty() || files.write("t.fpt", memo).empty() || files.write("t.dbt", memo).empty()) return 0;
  zuv::table::OpenOptions o;
  o.path = path;
  o.shared = true;
  o.read_only = true;
  if (auto table = zuv::table::Table::open(o)) walk(*table, true);
  zuv::table::CheckReport before;
  zuv::table::check_table(path, before);
  write(path);
  zuv::table::CheckReport after;
  zuv::table::check_table(path, after);
  if (before.clean() && !after.clean()) {
    std::fprintf(stderr, "a sound table was damaged by writing it:\n%s\n", after.text().c_str());
    std::abort();
  }
  return 0;
}
