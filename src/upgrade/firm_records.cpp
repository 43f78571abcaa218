#include "upgrade/firm_records.h"

#include <utility>

#include "lib/text.h"
#include "platform/os/files.h"
#include "platform/error/error.h"
#include "tables/table_access.h"

namespace zuv::upgrade {

[[noreturn]] void firm_error(int gen_code, int os_code, const std::string& description, const std::string& file,
                             const std::string& operation) {
  ErrorRecord r = error_record(gen_code, "ZUVINST", description, file, operation);
  r.osCode = os_code;
  raise_error(r);
  throw Break(r);
}

bool valid_data_version(const std::string& v) {
  if (v.size() != 10 || v[3] != '.' || v[6] != '.') return false;
  for (size_t i = 0; i < v.size(); ++i)
    if (i != 3 && i != 6 && (v[i] < '0' || v[i] > '9')) return false;
  return true;
}

std::string firm_version_fault(const std::string& recorded_version) {
  if (recorded_version.empty()) return "Brak wersji danych firmy w pliku wersja.dbf";
  if (!valid_data_version(recorded_version))
    return "Nieprawidłowa wersja danych firmy w pliku wersja.dbf: \"" + recorded_version + "\"";
  return "";
}

FirmPlan plan_firm(const std::string& recorded_version, const std::string& database_version,
                   const std::string& wersja_b, std::span<const steps::FirmStep> firm_steps, bool began) {
  FirmPlan p;
  p.processed = true;
  p.recorded_version = recorded_version;
  p.version = recorded_version;
  if (!began && database_version >= kOldestKeptFirmVersion && p.version < kOldestKeptFirmVersion) {
    p.version = database_version;
    p.version_rewritten = true;
  }
  if (p.version >= wersja_b) {
    p.current = true;
    return p;
  }
  // Every row is compared with the version read at the start, not with what earlier
  // steps of this run wrote.
  for (const steps::FirmStep& s : firm_steps)
    if (p.version < s.version) p.steps.emplace_back(s.name);
  p.full_reindex = p.version < kFullReindexBelow;
  return p;
}

std::string missing_core_file(const std::string& firm_dir) {
  for (const char* name : {"wersja.dbf", "firma.dbf", "ks_dok.dbf"})
    if (!os::file_exists(std::string_view(firm_dir + name))) return name;
  return "";
}

bool firm_has_core_files(const std::string& firm_dir) { return missing_core_file(firm_dir).empty(); }

std::unique_ptr<table::Table> open_read_only(const std::string& path, const table::Settings& settings) {
  table::OpenOptions o;
  o.path = path;
  o.shared = true;
  o.read_only = true;
  auto t = table::Table::open(o);
  if (t) t->set_settings(&settings);
  return t;
}

std::string record_text(table::Table& t, const char* name) {
  const int f = t.field_index(name);
  return f < 0 || t.eof() ? "" : lib::trim(t.get(f).text);
}

std::optional<std::string> read_recorded_version(table::WorkAreas& areas, const std::string& directory) {
  std::optional<std::string> version;
  tables::guarded([&] {
    auto t = open_read_only(directory + "wersja.dbf", areas.settings());
    if (!t) return false;
    t->go_top();
    if (!t->eof()) version = record_text(*t, "baza");
    return true;
  });
  return version;
}

bool read_finished_flag(table::WorkAreas& areas, const std::string& directory) {
  bool finished = false;
  tables::guarded([&] {
    auto t = open_read_only(directory + "wersja.dbf", areas.settings());
    if (!t) return false;
    t->go_top();
    finished = !t->eof() && lib::upper_ascii(record_text(*t, "ok")) == "T";
    return true;
  });
  return finished;
}

RegisterRead read_register(table::WorkAreas& areas, const std::string& database_dir, std::vector<double>& numbers) {
  numbers.clear();
  RegisterRead answer = RegisterRead::Unreadable;
  table::Settings settings = areas.settings();
  settings.deleted_hidden = true;
  auto read = [&](table::Table& t) {
    const int f = t.field_index("nr");
    if (f < 0) return (answer = RegisterRead::NoNumberField), true;
    if (t.fields()[f].type != 'N') return (answer = RegisterRead::NumberNotNumeric), true;
    t.eval([&](table::Table& r) {
      numbers.push_back(r.get(f).number);
      return true;
    });
    answer = RegisterRead::Read;
    return true;
  };
  table::Table* open = areas.find("ins");
  const bool read_through = tables::guarded([&] {
    if (open) return read(*open);
    auto t = open_read_only(database_dir + "install.dbf", settings);
    return t && read(*t);
  });
  return read_through ? answer : RegisterRead::Unreadable;
}

}  // namespace zuv::upgrade
