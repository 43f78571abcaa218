// zuv-dbtool: a small command-line program over the table engine, for administrators
// and for tests.
#include <CLI/CLI.hpp>

#include <algorithm>
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
#include "platform/os/fault.h"
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
// The hidden commands that leave what the upgrade's recovery reads likewise.
std::function<int()> register_recovery_commands(CLI::App& app);
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

std::string with_extension(const std::string& path, const char* ext) {
  std::size_t slash = path.find_last_of("\\/");
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "." + ext;
  return path.substr(0, dot + 1) + ext;
}

int cmd_create(std::string file, const std::string& struct_text, bool replace) {
  Structure s;
  std::string error;
  if (!parse_struct(struct_text, s, error)) {
    std::cerr << "zuv-dbtool: " << error << "\n";
    return 2;
  }
  if (with_extension(file, "x") == file + ".x") file += ".dbf";
  std::string os_file = os::native_path(file);
  if (os::native_file_exists(os_file) && !replace) {
    std::cerr << "zuv-dbtool: tabela " << file << " już istnieje (--replace zastępuje ją razem z plikiem memo i indeksem)\n";
    return 1;
  }
  if (!Table::create(file, s)) return 1;
  if (replace) {
    // The old table's memo and index belong to the old records: they go too, unless
    // the new table has a memo file of its own (written in their place).
    bool memo = std::any_of(s.begin(), s.end(), [](const FieldInfo& f) { return f.type == 'M'; });
    for (const char* ext : {"cdx", "CDX", "fpt", "FPT", "dbt", "DBT"}) {
      if (memo && (ext[0] == 'f' || ext[0] == 'F')) continue;
      std::string other = os::native_path(with_extension(file, ext));
      if (os::native_file_exists(other) && os::remove_file(other) != 0) {
        std::cerr << "zuv-dbtool: nie można usunąć pliku " << with_extension(file, ext) << "\n";
        return 1;
      }
    }
  }
  return 0;
}

// The CSV's columns: a field number for each (-1: a column of our own such as
// _recno), and the column of the deletion mark.
struct CsvColumns {
  std::vector<int> fields;
  std::vector<std::string> names;
  int deleted = -1;
};

int cmd_append(const std::string& file, const std::string& csv_file, bool shared, bool truncate) {
  std::ifstream in(os::native_path(csv_file), std::ios::binary);
  if (!in) {
    std::cerr << "zuv-dbtool: nie można otworzyć pliku " << csv_file << "\n";
    return 1;
  }
  auto table = open_table(file, shared, false);
  if (!table) return 1;
  bool unclosed = false;
  auto header = read_csv_row(in, &unclosed);
  if (!header) return 0;
  if (!header->empty() && header->front().rfind("\xEF\xBB\xBF", 0) == 0) header->front().erase(0, 3);
  CsvColumns columns;
  for (std::size_t i = 0; i < header->size(); ++i) {
    std::string name = lib::trim((*header)[i]);
    if (name == "_deleted") columns.deleted = static_cast<int>(i);
    int f = name.empty() || name[0] == '_' ? -1 : table->field_index(name);
    if (f < 0 && !name.empty() && name[0] != '_') {
      std::cerr << "zuv-dbtool: tabela nie ma pola " << name << "\n";
      return 1;
    }
    columns.fields.push_back(f);
    columns.names.push_back(name);
  }
  // Reads the rows from the first data row on; each checked row goes to take (when
  // given). Answers false after telling the operator of the first bad row.
  auto each_row = [&](const std::function<bool(const std::vector<std::pair<int, Value>>&, bool)>& take) {
    long line = 1;
    bool open_quote = false;
    while (auto row = read_csv_row(in, &open_quote)) {
      ++line;
      if (open_quote) {
        std::cerr << "zuv-dbtool: wiersz " << line << ": cudzysłów bez zamknięcia\n";
        return false;
      }
      if (row->size() == 1 && lib::trim((*row)[0]).empty()) continue;
      if (row->size() != columns.fields.size()) {
        std::cerr << "zuv-dbtool: wiersz " << line << ": " << row->size() << " komórek zamiast "
                  << columns.fields.size() << "\n";
        return false;
      }
      std::vector<std::pair<int, Value>> values;
      for (std::size_t i = 0; i < row->size(); ++i) {
        if (columns.fields[i] < 0) continue;
        const FieldDescriptor& f = table->fields()[columns.fields[i]];
        Value v;
        std::string why;
        if (!value_from_cell(f, (*row)[i], v, why, truncate)) {
          std::cerr << "zuv-dbtool: wiersz " << line << ", kolumna " << columns.names[i] << ": " << why << "\n";
          return false;
        }
        values.emplace_back(columns.fields[i], std::move(v));
      }
      bool deleted = false;
      if (columns.deleted >= 0) {
        std::string mark = lib::upper_ascii(lib::trim((*row)[columns.deleted]));
        if (!mark.empty() && mark != "T" && mark != "F") {
          std::cerr << "zuv-dbtool: wiersz " << line << ", kolumna _deleted: wartość musi być T, F lub pusta\n";
          return false;
        }
        deleted = mark == "T";
      }
      if (take && !take(values, deleted)) return false;
    }
    return true;
  };
  // The whole file is checked before the first record is added, so a bad row anywhere
  // leaves the table as it was.
  const std::streampos data_start = in.tellg();
  if (!each_row(nullptr)) return 1;
  in.clear();
  in.seekg(data_start);
  bool ok = each_row([&](const std::vector<std::pair<int, Value>>& values, bool deleted) {
    if (!table->append()) {
      std::cerr << "zuv-dbtool: nie można dopisać rekordu\n";
      return false;
    }
    for (auto& [field, v] : values)
      if (!table->put(field, v)) return false;
    if (deleted && !table->remove()) return false;
    if (shared) table->unlock();
    return true;
  });
  return table->commit() && ok ? 0 : 1;
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

// Everything the parser shows in Polish: its labels, the help flag, and a description
// for every option and argument the commands did not describe themselves.
void polish_parser(CLI::App& app) {
  auto f = app.get_formatter();
  for (auto [en, pl] : std::initializer_list<std::pair<const char*, const char*>>{
           {"Usage", "Użycie"}, {"OPTIONS", "OPCJE"}, {"SUBCOMMAND", "POLECENIE"}, {"SUBCOMMANDS", "POLECENIA"},
           {"Positionals", "Argumenty"}, {"REQUIRED", "WYMAGANE"}, {"TEXT", "TEKST"}, {"UINT", "LICZBA"},
           {"INT", "LICZBA"}, {"Needs", "Wymaga"}, {"Excludes", "Wyklucza"}, {"Env", "Zmienna"}})
    f->label(en, pl);
  std::function<void(CLI::App*)> each = [&](CLI::App* a) {
    a->set_help_flag("-h,--help", "pokaż tę pomoc");
    for (CLI::Option* o : a->get_options()) {
      if (o->get_group() == "Options") o->group("Opcje");
      if (o->get_description().empty()) {
        const std::string& n = o->get_name();
        const char* d = n == "file" ? "plik tabeli (.dbf)" : n == "tag" ? "nazwa znacznika" : n == "expr" ? "wyrażenie klucza"
                      : n == "key" ? "szukany klucz" : n == "--csv" ? "plik CSV (UTF-8) z wierszem nagłówka"
                      : n == "--shared" ? "otwórz tabelę we współdzieleniu" : n == "--cdx" ? "plik indeksu (domyślnie .cdx tabeli)"
                      : n == "--order" ? "znacznik, według którego iść" : "";
        if (*d) o->description(d);
      }
    }
    for (CLI::App* sub : a->get_subcommands({})) {
      if (sub->get_group() == "Subcommands") sub->group("Polecenia");
      each(sub);
    }
  };
  each(&app);
}

// A command-line mistake in Polish, with the usage; exit code 2 (0 for --help).
int usage_error(CLI::App& app, const CLI::ParseError& e) {
  if (dynamic_cast<const CLI::CallForHelp*>(&e) || dynamic_cast<const CLI::CallForAllHelp*>(&e)) {
    std::cout << app.help();
    return 0;
  }
  std::string what = e.what(), text;
  if (dynamic_cast<const CLI::RequiredError*>(&e)) {
    text = what.find("ubcommand") != std::string::npos ? "nie podano polecenia"
                                                       : "brak wymaganego argumentu lub opcji " + what.substr(0, what.find(' '));
  } else if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    auto colon = what.find(": ");
    text = "nieznane polecenie lub argument: " + (colon == std::string::npos ? what : what.substr(colon + 2));
  } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
    text = "zła liczba wartości opcji";
  } else {
    text = "błędne wywołanie";
  }
  std::cerr << "zuv-dbtool: " << text << "\n\n" << app.help();
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = os::utf8_args(argc, argv);
  CLI::App app{"zuv-dbtool: tabele DBF z plikami memo FPT"};
  app.require_subcommand(1);
  std::string file, struct_text, csv, ready, stop;
  bool deleted = false, shared = false, replace = false, truncate = false;
  unsigned rlock = 0;
  int kill_at = 0;

  auto* create = app.add_subcommand("create", "utwórz tabelę");
  create->add_option("file", file)->required();
  create->add_option("--struct", struct_text, "NAZWA:TYP:DŁ:DZ,...")->required();
  create->add_flag("--replace", replace, "zastąp istniejącą tabelę (razem z jej plikiem memo i indeksem)");
  auto* append = app.add_subcommand("append", "dopisz rekordy z pliku CSV (UTF-8)");
  append->add_option("file", file)->required();
  append->add_option("--csv", csv)->required();
  append->add_flag("--shared", shared);
  append->add_flag("--truncate", truncate, "utnij teksty dłuższe niż pole (bez tego: błąd)");
  // What a cut leaves behind (an index's undo journal), for tests and fuzzing seeds.
  append->add_option("--kill-at", kill_at, "zakończ proces jak awaria przed N-tą operacją na plikach")->group("");
  auto* dump = app.add_subcommand("dump", "wypisz rekordy jako CSV (UTF-8)");
  dump->add_option("file", file)->required();
  dump->add_flag("--deleted", deleted, "także rekordy usunięte");
  auto* structure = app.add_subcommand("struct", "wypisz strukturę tabeli (NAZWA:TYP:DŁ:DZ)");
  structure->add_option("file", file)->required();
  auto* hold = app.add_subcommand("hold");
  hold->group("");  // for tests only
  hold->add_option("file", file)->required();
  hold->add_flag("--shared", shared);
  hold->add_option("--rlock", rlock, "zablokuj rekord o tym numerze");
  hold->add_option("--ready", ready, "plik tworzony, gdy tabela jest otwarta")->required();
  hold->add_option("--stop", stop, "plik, na który się czeka")->required();

  auto index_commands = zuv::dbtool::register_index_commands(app);
  auto firm_commands = zuv::dbtool::register_firm_commands(app);
  auto recovery_commands = zuv::dbtool::register_recovery_commands(app);
  std::vector<const char*> argv_utf8;
  for (const auto& a : args) argv_utf8.push_back(a.c_str());
  polish_parser(app);
  if (args.size() > 1 && !args[1].empty() && args[1][0] != '-') {
    try {
      app.get_subcommand(args[1]);
    } catch (const CLI::OptionNotFound&) {
      std::cerr << "zuv-dbtool: nieznane polecenie: " << args[1] << "\n\n" << app.help();
      return 2;
    }
  }
  try {
    app.parse(static_cast<int>(argv_utf8.size()), argv_utf8.data());
  } catch (const CLI::ParseError& e) {
    return usage_error(app, e);
  }
  // Every error record ends the command with its description.
  set_program_handler([](ErrorRecord&) { return HandlerAnswer::Break; });
  try {
    if (int rc = index_commands(); rc >= 0) return rc;
    if (int rc = firm_commands(); rc >= 0) return rc;
    if (int rc = recovery_commands(); rc >= 0) return rc;
    if (*create) return cmd_create(file, struct_text, replace);
    if (*append) {
      if (kill_at > 0) os::fault::arm_kill(kill_at);
      return cmd_append(file, csv, shared, truncate);
    }
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
