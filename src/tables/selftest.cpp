#include "tables/selftest.h"

#include <memory>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/error/call_context.h"
#include "platform/error/error.h"
#include "platform/os/clock.h"
#include "platform/os/files.h"
#include "platform/table/copying.h"
#include "tables/index_ops.h"
#include "tables/rebuild.h"
#include "tables/table_access.h"
#include "ui/dialogs.h"

namespace zuv::tables {
namespace {

// A step operation that reports failure by its answer instead of raising: the
// failure becomes a runtime error of the step, as the engine's own would.
void must(bool ok, const char* operation, const std::string& file) {
  if (ok) return;
  ErrorRecord r =
      error_record(gencode::kWrite, "BASE", std::string("Operacja nie powiodła się: ") + operation, file, operation, false);
  raise_error(r);
  throw Break(r);  // a handler that chose to go on does not make the step pass
}

table::Table& area(table::WorkAreas& areas, const char* alias) {
  must(areas.select(alias), "DBSELECTAREA", alias);
  return *areas.current();
}

// Step 1 and 19: every file of the scratch directory, the four test files by name,
// then the directory itself. Only the removal of a directory that exists can fail
// the step; the file helpers settle their own failures.
void clear_scratch(const std::string& scratch) {
  base::let_go(lib::DEL_KAT(scratch), "the test writes its tables anew");
  for (const char* f : {"\\test.dbf", "\\test.ntx", "\\test0.dbf", "\\test0.ntx"}) base::let_go(lib::DEL_FILE(scratch + f), "the test writes its tables anew");
  if (os::directory_exists(scratch)) must(os::remove_directory(scratch).ok(), "REMOVEDIR", scratch);
}

void open_exclusive(table::WorkAreas& areas, const std::string& file, const char* alias) {
  table::UseRequest r;
  r.path = file;
  r.alias = alias;
  r.shared = false;
  r.read_only = false;
  must(areas.use_area(r), "DBUSEAREA", file);
  area(areas, alias);
}

std::string strzero(int n, int width) {
  std::string s = std::to_string(n);
  return std::string(width > int(s.size()) ? width - s.size() : 0, '0') + s;
}

}  // namespace

int TEST_ZUV(table::WorkAreas& areas, std::string_view directory, std::string_view name,
             const std::function<void(int step)>& on_step) {
  CallContext routine("TEST_ZUV");
  const std::string scratch = std::string(directory) + std::string(name);
  const std::string test = scratch + "\\test.dbf", test0 = scratch + "\\test0.dbf";
  int step = 0;
  auto at = [&](int n) {
    step = n;
    if (on_step) on_step(n);
  };
  bool passed = guarded([&] {
    at(1);
    clear_scratch(scratch);
    at(2);
    base::let_go(lib::MKDIR(scratch), "the test's first table in it fails when the directory is missing");
    at(3);
    table::Structure six;
    for (const char* f : {"A", "B", "C", "D", "E", "F"}) six.push_back({f, 'C', 10, 0});
    must(table::Table::create(test, six), "DBCREATE", test);
    at(4);
    open_exclusive(areas, test, "test");
    at(5);
    {
      table::Table& t = area(areas, "test");
      for (int i = 1; i <= 5; ++i) {
        must(t.append(), "DBAPPEND", test);
        must(t.put("a", table::Value::of_text(strzero(i, 10))), "FIELDPUT", test);
        must(t.put("b", table::Value::of_text(os::time_of_day())), "FIELDPUT", test);
      }
    }
    at(6);
    must(table::export_records(area(areas, "test"), test0, {"B"}), "DBEXPORT", test0);
    at(7);
    must(order_create(area(areas, "test"), &areas, scratch + "\\test.ntx", "ntx", "b"), "ORDCREATE",
         scratch + "\\test.ntx");
    at(8);
    open_exclusive(areas, test0, "test0");
    at(9);
    must(set_relation(areas, "test0", "test", "test0->b"), "DBSETRELATION", test0);
    area(areas, "test0").go_top();
    sync_relations(areas, "test0");
    at(10);
    must(order_create(area(areas, "test0"), &areas, scratch + "\\test0.ntx", "ntx", "test->a"), "ORDCREATE",
         scratch + "\\test0.ntx");
    area(areas, "test0").go_top();
    sync_relations(areas, "test0");
    {
      table::Table& t = area(areas, "test");
      t.go_top();
      while (!t.eof()) {
        if (t.recno() % 2 == 0) must(t.remove(), "DBDELETE", test);
        must(t.put("a", table::Value::of_text(os::time_of_day())), "FIELDPUT", test);
        t.skip();
      }
    }
    at(11);
    must(order_list_rebuild(area(areas, "test0")), "ORDLISTREBUILD", test0);
    at(12);
    must(area(areas, "test0").pack(), "DBPACK", test0);
    at(13);
    must(area(areas, "test0").zap(), "DBZAP", test0);
    at(14);
    must(areas.current()->commit(), "DBCOMMIT", test0);
    at(15);
    clear_relations(areas, "test0");
    at(16);
    must(areas.close_area("test0"), "DBCLOSEAREA", test0);
    at(17);
    area(areas, "test");
    areas.close_area();
    at(18);
    DODAJ_POLA(areas, scratch + "\\", "test.dbf", {{"PTU1", 'C', 2, 0}, {"PTU2", 'C', 3, 0}, {"PTU3", 'C', 4, 0}});
    at(19);
    clear_scratch(scratch);
    return true;
  });
  guarded([&] {
    clear_relations(areas, "test0");
    return true;
  });
  for (const char* alias : {"test0", "test"})
    if (areas.find(alias)) ZAMKNIJ(areas, alias);
  return passed ? 0 : step;
}

bool SA_BLEDY(ui::MessageDialog& dialog, table::WorkAreas& areas, std::string_view directory,
              std::string_view kind) {
  CallContext routine("SA_BLEDY");
  const bool local = kind == "P";
  const std::string title = local ? "Test dysków lokalnych" : "Test dysków sieciowych";
  const std::string text = local ? "Trwa testowanie dostepu do lokalnych dysków twardych..."
                                 : "Trwa testowanie dostepu do dysków twardych serwera...";
  int result = 0;
  {
    // The wait window lives while the test runs. A dialog object of the program can
    // hand it over; through the plain interface it stays up until the next dialog.
    std::unique_ptr<gui::WaitWindow> wait;
    if (auto* dialogs = dynamic_cast<ui::Dialogs*>(&dialog))
      wait = dialogs->ALARM_WAIT(title, text);
    else
      dialog.ALARM("1", title, text);
    result = TEST_ZUV(areas, directory, "Test");
  }
  if (result <= 0) return false;
  const std::string where = kind == "B" ? "Na dysku sieciowym" : "Na dysku lokalnym";
  dialog.ALARM("3", "Błąd nr (" + std::to_string(result) + ")",
               where + " nie można przeprowadzić wszystkich operacji;prawdopodobnie są blokowane przez program "
                       "antywirusowy, lub;użytkownik ma zbyt ograniczone uprawnienia!");
  return true;
}

}  // namespace zuv::tables
