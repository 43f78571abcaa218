#include "steps/firm_step_common.h"

#include <algorithm>
#include <functional>

#include "lib/files.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "platform/error/error.h"
#include "tables/catalogue.h"
#include "tables/rebuild.h"
#include "tables/table_access.h"

namespace zuv::steps {
namespace {

ErrorRecord step_error(int gen_code, const std::string& description, const std::string& file, const char* operation) {
  // No default: a step that goes on past a failed helper would record a version it
  // did not reach. Retry is offered, since a table held elsewhere may be let go.
  return error_record(gen_code, "BASE", description, file, operation, false);
}

// Runs op until it succeeds; on failure the handler may ask for another try, and any
// other answer ends the step (a handler that does not break still must not let the
// step go on).
void until_done(const std::function<bool()>& op, int gen_code, const std::string& description,
                const std::string& file, const char* operation) {
  while (!op()) {
    ErrorRecord r = step_error(gen_code, description, file, operation);
    r.canRetry = true;
    if (raise_error(r) == HandlerAnswer::Retry) continue;
    throw Break(r);
  }
}

}  // namespace

bool firm_reached(const std::string& firm_version, std::string_view step_version) {
  // Texts compared as the runtime compares them: the shorter padded with blanks, so a
  // version read from a wider field still equals the step's own.
  std::string a = firm_version, b(step_version);
  size_t n = std::max(a.size(), b.size());
  a.resize(n, ' ');
  b.resize(n, ' ');
  return a >= b;
}

void open_or_fail(StepContext& ctx, const std::string& directory, std::string_view name, std::string_view alias,
                  std::optional<std::string> order) {
  std::optional<tables::OrderArg> o;
  if (order) o = tables::OrderArg(*order);
  until_done([&] { return tables::OTWORZ(ctx.areas, directory, name, alias, o); }, gencode::kOpen,
             "Nie można otworzyć tabeli", directory + std::string(name), "OTWORZ");
}

void add_fields_or_fail(StepContext& ctx, const table::Structure& fields,
                        const std::vector<std::optional<table::Value>>& initial, const std::string& directory,
                        std::string_view name, const std::function<void(table::Table&)>& each) {
  until_done([&] { return tables::DODAJ_POLE(ctx.areas, fields, initial, directory, name, each); }, gencode::kWrite,
             "Nie można dodać pól do tabeli", directory + std::string(name), "DODAJ_POLE");
}

void index_or_fail(StepContext& ctx, const std::string& table_path,
                   const std::vector<std::pair<std::string, std::string>>& tags) {
  until_done([&] { return tables::INDEXON(ctx.areas, table_path, tags) == tables::kIndexBuilt; }, gencode::kCreate,
             "Nie można zbudować indeksu tabeli", table_path + ".cdx", "INDEXON");
}

void copy_or_fail(const std::string& source, const std::string& destination) {
  until_done([&] { return lib::FCOPY(source, destination).ok(); }, gencode::kCreate, "Nie można skopiować pliku",
             source, "FCOPY");
}

void move_or_fail(const std::string& source, const std::string& destination) {
  if (os::rename_file(source, destination)) return;
  copy_or_fail(source, destination);
  base::let_go(lib::DEL_FILE(source), "the work file's contents are in place; a leftover is removed by the next run");
}

void step_failed(int gen_code, const std::string& description, const std::string& file) {
  ErrorRecord r = step_error(gen_code, description, file, "");
  raise_error(r);
  throw Break(r);
}

void write_firm_version(StepContext& ctx, const std::string& firm_dir, std::string_view version,
                        std::string_view wariant) {
  open_or_fail(ctx, firm_dir, "wersja.dbf", "wer");
  const std::string file = firm_dir + "wersja.dbf";
  table::Table* wer = ctx.areas.current();
  if (!wer) step_failed(gencode::kOpen, "Nie można otworzyć tabeli", file);
  bool ok = true;
  try {
    // A record to hold the version; without one the firm would meet every step again.
    if (wer->eof()) ok = wer->append();
    ok = ok && wer->put("baza", table::Value::of_text(version)) &&
         wer->put("nr", table::Value::of_number(26.01)) && wer->put("wariant", table::Value::of_text(wariant)) &&
         wer->commit();
  } catch (const Break&) {
    // The handler broke out of a write: the buffer must not reach the disk when the
    // area is closed later, or the firm would record a version it did not reach.
    wer->rollback();
    tables::ZAMKNIJ(ctx.areas, "wer");
    throw;
  }
  if (!ok) wer->rollback();  // half a version record is worse than the old one
  tables::ZAMKNIJ(ctx.areas, "wer");
  if (!ok) step_failed(gencode::kWrite, "Nie można zapisać wersji danych firmy", file);
}

}  // namespace zuv::steps
