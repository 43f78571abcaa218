// zuv-dbtool: a small command-line program over the table engine, for administrators
// and for tests.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "lib/text.h"
#include "platform/os/args.h"
#include "platform/os/codepage.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "platform/table/csv_text.h"
#include "platform/table/order.h"
#include "platform/table/table.h"
#include "platform/error/error.h"

using namespace zuv;
using namespace zuv::table;

namespace zuv::dbtool {
// The index commands (index, seek, dump --order) live beside this file.
std::function<int()> register_index_commands(CLI::App& app);
// The firm commands (reindex-firm, disk-test) likewise.
std::function<int()> register_firm_commands(CLI::App& app);
}  // namespace zuv::dbtool

namespace {

// "NAME:C:10:0,KWOTA:N:12:2,DATA:D,OK:L,UWAGI:M"
bool parse_struct(const std::string& text, Structure& out, std::string& error) {
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    item = lib::trim(item);
    if (item.empty()) continue;
    std::vector<std::string> parts;
    std::stringstream ps(item);
    for (std::string p; std::getline(ps, p, ':');) parts.push_back(lib::trim(p));
    if (parts.size() < 2 || parts[1].size() != 1) {
      error = "błędny opis pola: " + item;
      return false;
    }
    FieldInfo f;
    f.name = parts[0];
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
    try {
      f.length = parts.size() > 2 ? std::stoi(parts[2]) : 0;
      f.decimals = parts.size() > 3 ? std::stoi(parts[3]) : 0;
    } catch (const std::exception&) {
      error = "błędny opis pola: " + item;
      return false;
    }
    if (f.type == 'D') f.length = 8;
    if (f.type == 'L') f.length = 1;
    if (f.type == 'M') f.length = 10;
    out.push_back(f);
  }
  if (out.empty()) error = "pusta struktura";
  return !out.empty();
}

std::unique_ptr<Table> open_table(const std::string& file, bool shared, bool read_only) {
  OpenOptions o;
  o.path = file;
  o.shared = shared;
  o.read_only = read_only;
  auto table = Table::open(o);
  // Every command that writes keeps the table's own compound index current.
  if (table && !read_only && !attach_structural_index(*table)) return nullptr;
  return table;
}

int cmd_create(const std::string& file, const std::string& struct_text) {
  Structure s;
  std::string error;
  if (!parse_struct(struct_text, s, error)) {
    std::cerr << "zuv-dbtool: " << error << "\n";
    return 2;
  }
  return Table::create(file, s) ? 0 : 1;
}

int cmd_append(const std::string& file, const std::string& csv_file, bool shared) {
  std::ifstream in(os::native_path(csv_file), std::ios::binary);
  if (!in) {
    std::cerr << "zuv-dbtool: nie można otworzyć pliku " << csv_file << "\n";
    return 1;
  }
  auto table = open_table(file, shared, false);
  if (!table) return 1;
  auto header = read_csv_row(in);
  if (!header) return 0;
  if (!header->empty() && header->front().rfind("\xEF\xBB\xBF", 0) == 0) header->front().erase(0, 3);
  std::vector<int> map;
  int deleted_column = -1;
  for (std::size_t i = 0; i < header->size(); ++i) {
    std::string name = lib::trim((*header)[i]);
    if (name == "_deleted") deleted_column = static_cast<int>(i);
    int f = name.empty() || name[0] == '_' ? -1 : table->field_index(name);
    if (f < 0 && !name.empty() && name[0] != '_') {
      std::cerr << "zuv-dbtool: tabela nie ma pola " << name << "\n";
      return 1;
    }
    map.push_back(f);
  }
  long line = 1;
  while (auto row = read_csv_row(in)) {
    ++line;
    if (row->size() == 1 && lib::trim((*row)[0]).empty()) continue;
    // Every cell is checked before the record is added, so a bad row adds nothing.
    std::vector<std::pair<int, Value>> values;
    for (std::size_t i = 0; i < row->size() && i < map.size(); ++i) {
      if (map[i] < 0) continue;
      const FieldDescriptor& f = table->fields()[map[i]];
      Value v;
      char text[64];
      bool ok = value_from_cell(f, (*row)[i], v);
      if (ok && v.type == ValueType::Number) ok = Table::format_number(v.number, f.length, f.decimals, text) <= f.length;
      if (!ok) {
        std::cerr << "zuv-dbtool: wiersz " << line << ": błędna wartość pola " << f.name << "\n";
        table->commit();
        return 1;
      }
      values.emplace_back(map[i], std::move(v));
    }
    if (!table->append()) {
      std::cerr << "zuv-dbtool: nie można dopisać rekordu\n";
      return 1;
    }
    for (auto& [field, v] : values)
      if (!table->put(field, v)) return 1;
    if (deleted_column >= 0 && deleted_column < static_cast<int>(row->size()) &&
        lib::upper_ascii(lib::trim((*row)[deleted_column])) == "T")
      table->remove();
    if (shared) table->unlock();
  }
  return table->commit() ? 0 : 1;
}

int cmd_dump(const std::string& file, bool with_deleted) {
  auto table = open_table(file, true, true);
  if (!table) return 1;
  std::string out = csv_header(*table);
  std::uint32_t n = table->record_count();
  for (std::uint32_t r = 1; r <= n; ++r) {
    table->go_to(r);
    if (table->deleted() && !with_deleted) continue;
    out += csv_record(*table);
    if (out.size() > (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int cmd_struct(const std::string& file) {
  auto table = open_table(file, true, true);
  if (!table) return 1;
  for (const auto& f : table->structure())
    std::printf("%s:%c:%d:%d\n", f.name.c_str(), f.type, f.length, f.decimals);
  return 0;
}

// For tests of sharing between processes: opens the table, optionally locks a record,
// tells it is ready by creating the ready file, and holds on until the stop file
// appears (or it is killed).
int cmd_hold(const std::string& file, bool shared, unsigned rlock, const std::string& ready, const std::string& stop) {
  auto table = open_table(file, shared, false);
  if (!table) return 1;
  if (rlock && !table->rlock(rlock)) return 33;
  {
    os::FileHandle f;
    if (f.create(os::native_path(ready), os::Share::Shared)) return 1;
  }
  for (int i = 0; i < 6000 && !os::native_file_exists(os::native_path(stop)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = os::utf8_args(argc, argv);
  CLI::App app{"zuv-dbtool: tabele DBF z plikami memo FPT"};
  app.require_subcommand(1);
  std::string file, struct_text, csv, ready, stop;
  bool deleted = false, shared = false;
  unsigned rlock = 0;

  auto* create = app.add_subcommand("create", "utwórz tabelę");
  create->add_option("file", file)->required();
  create->add_option("--struct", struct_text, "NAZWA:TYP:DŁ:DZ,...")->required();
  auto* append = app.add_subcommand("append", "dopisz rekordy z pliku CSV (UTF-8)");
  append->add_option("file", file)->required();
  append->add_option("--csv", csv)->required();
  append->add_flag("--shared", shared);
  auto* dump = app.add_subcommand("dump", "wypisz rekordy jako CSV (UTF-8)");
  dump->add_option("file", file)->required();
  dump->add_flag("--deleted", deleted, "także rekordy usunięte");
  auto* structure = app.add_subcommand("struct", "wypisz strukturę tabeli");
  structure->add_option("file", file)->required();
  auto* hold = app.add_subcommand("hold");
  hold->group("");  // for tests only
  hold->add_option("file", file)->required();
  hold->add_flag("--shared", shared);
  hold->add_option("--rlock", rlock);
  hold->add_option("--ready", ready)->required();
  hold->add_option("--stop", stop)->required();

  auto index_commands = zuv::dbtool::register_index_commands(app);
  auto firm_commands = zuv::dbtool::register_firm_commands(app);
  std::vector<const char*> argv_utf8;
  for (const auto& a : args) argv_utf8.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv_utf8.size()), argv_utf8.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  // Every error record ends the command with its description.
  set_program_handler([](ErrorRecord&) { return HandlerAnswer::Break; });
  try {
    if (int rc = index_commands(); rc >= 0) return rc;
    if (int rc = firm_commands(); rc >= 0) return rc;
    if (*create) return cmd_create(file, struct_text);
    if (*append) return cmd_append(file, csv, shared);
    if (*dump) return cmd_dump(file, deleted);
    if (*structure) return cmd_struct(file);
    if (*hold) return cmd_hold(file, shared, rlock, ready, stop);
  } catch (const Break& b) {
    const ErrorRecord& r = b.record;
    std::cerr << "zuv-dbtool: " << r.description;
    if (!r.fileName.empty()) std::cerr << " (" << r.fileName << ")";
    if (r.osCode) std::cerr << " [kod systemu " << r.osCode << "]";
    std::cerr << "\n";
    return r.osCode == os::oscode::kSharingViolation ? 32 : 1;
  }
  return 2;
}
