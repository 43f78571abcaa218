#include "flows/records.h"

#include <cmath>
#include <cstdio>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/clock.h"
#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/files.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "tables/selftest.h"
#include "tables/table_access.h"
#include "ui/dialogs.h"

namespace zuv::flows {

std::string field_text(const table::Table& t, std::string_view name) {
  if (t.field_index(name) < 0) return "";
  table::Value v = t.get(name);
  switch (v.type) {
    case table::ValueType::Text:
    case table::ValueType::Memo:
      return lib::trim(os::utf8_from_852(v.text));
    case table::ValueType::Number: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.*f", v.decimals, v.number);
      return buf;
    }
    case table::ValueType::Logical:
      return v.logical ? "T" : "F";
    case table::ValueType::Date:
      return lib::trim(v.text);
    default:
      return "";
  }
}

namespace {

// Opens one table, hands its first record to read, closes it.
template <class Read>
bool with_first_record(table::WorkAreas& areas, const std::string& file, std::string_view alias, bool shared,
                       Read read) {
  tables::ZAMKNIJ(areas, alias);
  bool opened = false;
  if (shared) {
    size_t cut = file.find_last_of('\\');
    std::string d = cut == std::string::npos ? "" : file.substr(0, cut + 1);
    std::string n = cut == std::string::npos ? file : file.substr(cut + 1);
    opened = tables::S_OTWORZ(areas, d, n, alias);
  } else {
    opened = tables::USEEX(areas, file, alias);
  }
  if (!opened) return false;
  table::Table* t = areas.find(std::string(alias));
  if (t) {
    t->go_top();
    read(*t);
  }
  tables::ZAMKNIJ(areas, alias);
  return t != nullptr;
}

}  // namespace

std::optional<ProgramVersion> read_program_version(table::WorkAreas& areas, const std::string& file,
                                                   std::string_view alias) {
  ProgramVersion v;
  if (!with_first_record(areas, file, alias, false, [&](table::Table& t) {
        v.rok = field_text(t, "rok");
        v.zuv = field_text(t, "zuv");
      }))
    return std::nullopt;
  return v;
}

std::optional<DatabaseVersion> read_database_version(table::WorkAreas& areas, const std::string& file,
                                                     std::string_view alias, bool shared) {
  DatabaseVersion v;
  if (!with_first_record(areas, file, alias, shared, [&](table::Table& t) {
        v.baza = field_text(t, "baza");
        v.zuv = field_text(t, "zuv");
        v.ok = lib::upper_ascii(field_text(t, "ok")) == "T";
        v.rok = field_text(t, "rok");
      }))
    return std::nullopt;
  return v;
}

std::optional<std::string> read_database_path(table::WorkAreas& areas, const std::string& file) {
  std::string path;
  if (!with_first_record(areas, file, "baza", false, [&](table::Table& t) { path = field_text(t, "path"); }))
    return std::nullopt;
  return path;
}

bool write_database_path(table::WorkAreas& areas, const std::string& program_dir, const std::string& database_dir) {
  const std::string fresh = program_dir + "baza_new.dbf";
  const std::string target = program_dir + "baza.dbf";
  bool ok = tables::guarded([&] {
    if (!table::Table::create(fresh, {{"PATH", 'C', 60, 0}})) return false;
    if (!tables::USEEX(areas, fresh, "baza")) return false;
    table::Table* t = areas.find("baza");
    bool done = t && t->append() && t->put("PATH", table::Value::of_text(os::cp852_from_utf8(database_dir))) &&
                t->commit();
    tables::ZAMKNIJ(areas, "baza");
    return done;
  });
  tables::ZAMKNIJ(areas, "baza");
  if (ok) ok = os::rename_durably(fresh, target).ok();
  if (!ok) base::let_go(os::delete_file(fresh), "the failure is answered; a leftover is overwritten next time");
  return ok;
}

bool write_program_year(table::WorkAreas& areas, const std::string& file, const std::string& year) {
  bool ok = tables::guarded([&] {
    if (!tables::USEEX(areas, file, "wersja")) return false;
    table::Table* t = areas.find("wersja");
    if (!t) return false;
    t->go_top();
    bool done = true;
    if (t->eof()) done = t->append();
    int i = t->field_index("rok");
    if (done && i >= 0) {
      const auto& f = t->fields()[static_cast<size_t>(i)];
      table::Value v = f.type == 'N' ? table::Value::of_number(std::atof(year.c_str()))
                                     : table::Value::of_text(os::cp852_from_utf8(year));
      done = t->put(i, v) && t->commit();
    }
    tables::ZAMKNIJ(areas, "wersja");
    return done;
  });
  tables::ZAMKNIJ(areas, "wersja");
  return ok;
}

void make_program_directories(const std::string& program_dir) {
  static const char* const kDirs[] = {"czytaj.to", "export", "export\\zus", "export\\edek", "export\\crm",
                                      "export\\gus", "export\\nfz", "mask", "vistrel", "install",
                                      "setings", "temp", "temp\\arch", "txt", "dek"};
  for (const char* sub : kDirs)
    base::let_go(lib::MKDIR(program_dir + sub), "an existing directory answers 183; the program makes missing ones");
}

bool file_here(const std::string& path) { return os::file_exists(std::string_view(path)); }

bool dir_here(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '\\' && !(p.size() == 3 && p[1] == ':')) p.pop_back();
  return os::directory_exists(p);
}

double seconds_now(const FlowEnv& env) { return env.seconds ? env.seconds() : os::seconds_since_midnight(); }

void stage(const FlowEnv& env, const std::string& text) {
  if (env.stage) env.stage(text);
}

bool disk_test_failed(FlowEnv& env, const std::string& directory, const std::string& kind) {
  stage(env, kind == "P" ? "Test dysku programu: " + directory : "Test dysku bazy danych: " + directory);
  if (env.self_test) return env.self_test(directory, kind);
  return tables::SA_BLEDY(env.dialogs, env.areas, directory, kind);
}

void run_template_steps(FlowEnv& env, const std::string& program_dir, const std::string& database_dir,
                        const std::string& last_version) {
  steps::StepContext ctx{env.areas, env.release.release_dir, nullptr};
  for (const auto& step : env.template_steps) {
    if (!(last_version < std::string(step.version))) continue;
    stage(env, "Wzorce wydruków i masek: " + std::string(step.name));
    step.run(ctx, program_dir, database_dir);
  }
}

}  // namespace zuv::flows
