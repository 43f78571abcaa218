#include "tables/table_access.h"

#include "lib/text.h"
#include "platform/error/error.h"
#include "platform/os/clock.h"
#include "platform/os/files.h"
#include "platform/table/last_error.h"
#include "tables/index_ops.h"

namespace zuv::tables {
namespace {

OperatorInterrupt*& installed_interrupt() {
  static OperatorInterrupt* interrupt = nullptr;
  return interrupt;
}

PauseFn& pause_fn() {
  static PauseFn fn;
  return fn;
}

// What the open helpers check before touching any work area.
bool files_usable(const TableFiles& files) {
  // Windows path text: the string_view overload (the other one takes OS paths).
  if (!os::file_exists(files.data)) return false;
  auto size = os::file_size(files.data);
  if (!size || size.value < kMinimumTableBytes) return false;
  if (!files.index.empty() && !os::file_exists(files.index)) return false;
  return true;
}

// ORDLISTADD and ORDSETFOCUS on the selected area.
void add_index(table::WorkAreas& areas, const TableFiles& files, const std::optional<OrderArg>& order) {
  if (files.index.empty() || !order) return;
  table::Table* t = areas.current();
  if (!t) return;
  if (order_list_add(*t, files.index)) order_set_focus(*t, *order);
}

}  // namespace

void set_operator_interrupt(OperatorInterrupt* interrupt) { installed_interrupt() = interrupt; }
OperatorInterrupt* operator_interrupt() { return installed_interrupt(); }
bool NIC() { return installed_interrupt() && installed_interrupt()->NIC(); }

void SLEEP(int hundredths) {
  if (hundredths <= 0) return;
  if (pause_fn()) {
    pause_fn()(hundredths);
    return;
  }
  os::sleep_hundredths(hundredths);
}

ScopedPauses::ScopedPauses(PauseFn fn) : previous_(pause_fn()) { pause_fn() = std::move(fn); }
ScopedPauses::~ScopedPauses() { pause_fn() = std::move(previous_); }

bool guarded(const std::function<bool()>& body) {
  try {
    GuardedBlock trap;
    return body();
  } catch (const Break&) {
    // Settled here: the engine's error must not be shown later beside another one.
    table::clear_last_error();
    return false;
  }
}

TableFiles table_files(std::string_view directory, std::string_view name, bool with_index) {
  std::string base(name.substr(0, name.find('.')));
  TableFiles f;
  f.data = std::string(directory) + base + ".dbf";
  if (with_index) f.index = std::string(directory) + base + ".cdx";
  return f;
}

bool USEEX(table::WorkAreas& areas, std::string_view data_file, std::string_view alias) {
  return guarded([&] {
    table::UseRequest r;
    r.path = std::string(data_file);
    r.alias = std::string(alias);
    r.shared = false;
    r.read_only = false;
    if (!areas.use_area(r)) return false;
    return areas.select(r.alias);
  });
}

bool OTWORZ(table::WorkAreas& areas, std::string_view directory, std::string_view name, std::string_view alias,
            const std::optional<OrderArg>& order) {
  TableFiles files = table_files(directory, name, order.has_value());
  if (!files_usable(files)) return false;
  std::string a(alias);
  if (areas.find(a)) {
    areas.select(a);
    guarded([&] {
      areas.current()->go_top();
      return true;
    });
    return true;
  }
  for (int attempt = 0; attempt <= 5; ++attempt) {
    if (!USEEX(areas, files.data, a)) continue;
    // The open counts only with the order asked for: a table left open without its
    // index would answer seeks in the wrong order.
    bool ready = guarded([&] {
      add_index(areas, files, order);
      areas.current()->go_top();
      return true;
    });
    if (ready) return true;
    ZAMKNIJ(areas, a);
  }
  return false;
}

bool S_OTWORZ(table::WorkAreas& areas, std::string_view directory, std::string_view name, std::string_view alias,
              const std::optional<OrderArg>& order) {
  TableFiles files = table_files(directory, name, order.has_value());
  if (!files_usable(files)) return false;
  std::string a(alias);
  if (areas.find(a)) return areas.select(a);
  bool opened = false;
  bool ok = guarded([&] {
    table::UseRequest r;
    r.path = files.data;
    r.alias = a;
    r.shared = true;
    r.read_only = false;
    if (!areas.use_area(r)) return false;
    opened = true;
    areas.select(a);
    add_index(areas, files, order);
    areas.current()->go_top();
    return true;
  });
  if (!ok && opened) ZAMKNIJ(areas, a);
  return ok;
}

bool ZAMKNIJ(table::WorkAreas& areas, std::string_view alias) {
  std::string a = lib::trim(std::string(alias));
  if (a.empty() || !areas.find(a)) return true;
  // Closing stores the current record and brings the indexes to the disk; a failure
  // there must not escape a helper, nor keep the area: a table left open would lock
  // out the firm. The caller learns that the last writes may not have reached the disk.
  bool ok = guarded([&] {
    areas.select(a);
    if (table::Table* t = areas.current()) t->clear_orders();
    return true;
  });
  ok = guarded([&] {
    areas.select(a);
    areas.close_area();
    return true;
  }) && ok;
  return ok;
}

void CLOSEALL(table::WorkAreas& areas) {
  for (const std::string& alias : areas.aliases()) {
    std::string a = lib::upper_ascii(alias);
    if (!a.empty() && std::string(",INS,SEM,").find("," + a + ",") == std::string::npos) ZAMKNIJ(areas, a);
  }
}

bool REK_LOCK(table::WorkAreas& areas, std::optional<int> attempts) {
  int n = attempts ? std::max(1, std::min(20, *attempts)) : 10;
  for (int i = 1; i <= n; ++i) {
    bool locked = guarded([&] {
      table::Table* t = areas.current();
      return t && t->rlock();
    });
    if (locked) return true;
    SLEEP(5);
  }
  return false;
}

bool REK_ADD(table::WorkAreas& areas, std::optional<int> attempts, OperatorInterrupt* interrupt) {
  int n = attempts ? *attempts : 500;
  if (!interrupt) interrupt = operator_interrupt();
  for (int i = 1; i <= n; ++i) {
    bool added = guarded([&] {
      table::Table* t = areas.current();
      if (!t) return false;
      // An append that fails for contention sets the failure flag and is settled by
      // the trap: the answer decides, not the flag alone.
      return t->append() && !t->net_error();
    });
    if (added) return true;
    if (i == 1) {
      if (interrupt) interrupt->TONE(5000, 0.2);
      continue;
    }
    if (interrupt && interrupt->NIC()) return false;
    SLEEP(1);
  }
  return false;
}

}  // namespace zuv::tables
