#include "upgrade/upgrade_plan.h"

#include <cmath>

#include "tables/table_access.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery.h"
#include "upgrade/run_note.h"
#include "upgrade/shared_indexes.h"
#include "upgrade/upgrade_answers.h"

namespace zuv::upgrade {
namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += (s.empty() ? "" : " ") + n;
  return s;
}

}  // namespace

SharedWork shared_work(const StepTables& steps, const std::string& database_version) {
  SharedWork w;
  for (const steps::StructureStep& s : steps.structure)
    if (database_version < s.version) w.structure.push_back(&s);
  w.copies_xml = database_version < kXmlCopiedBelow;
  w.rate_index_first = !(database_version < kRateIndexBuiltBelow);
  w.shared_step = database_version < kSharedStepBelow;
  w.pit_repair = database_version < kPitRepairedFrom;
  return w;
}

UpgradePlan plan_upgrade(const UpgradeEnv& env, const std::string& database_dir, const std::string& recorded_version) {
  UpgradePlan p;
  p.database_version = recorded_version;
  // An unfinished run of this release is carried on from the version it started from.
  const std::optional<RunNote> note = read_run_note(database_dir, env.wersja_b);
  const bool carried_on = carries_on(note, recorded_version, read_finished_flag(env.areas, database_dir));
  const std::string database_version = carried_on ? note->version : recorded_version;
  if (carried_on) p.carried_on_from = database_version;
  const SharedWork work = shared_work(env.steps, database_version);
  for (const steps::StructureStep* s : work.structure) p.structure_steps.emplace_back(s->name);
  p.copies_xml = work.copies_xml;
  p.shared_step = work.shared_step;
  p.pit_repair = work.pit_repair;

  std::vector<double> numbers;
  const bool readable = read_register(env.areas, database_dir, numbers) == RegisterRead::Read;
  if (!readable) {
    p.refusal = register_unreadable_message();
    return p;
  }
  if (numbers.empty()) {
    p.refusal = kMsgNoFirms;
    return p;
  }
  for (double nr : numbers) {
    FirmPlanEntry e;
    e.number = std::llround(nr);
    e.directory = firm_directory(database_dir, nr);
    if (const std::string missing = missing_core_file(e.directory); !missing.empty()) {
      e.reason = "brak pliku " + missing;
    } else if (auto version = read_recorded_version(env.areas, e.directory)) {
      // What the firm's own recovery notes will make of it first, as the run does.
      const FirmRecovery recovery = peek_firm_recovery(e.directory);
      const std::string start = recovery.restored_version.empty() ? *version : recovery.restored_version;
      if (carried_on && listed_as_brought_through(*note, e.number, start, env.steps.firm)) {
        e.plan.processed = true;
        e.plan.recorded_version = e.plan.version = start;
        e.plan.current = true;
      } else if (const std::string fault = firm_version_fault(start); !fault.empty()) {
        e.failure = fault;
      } else {
        e.plan = plan_firm(start, database_version, env.wersja_b, env.steps.firm, recovery.finish_pending);
        std::erase_if(e.plan.steps, [&](const std::string& s) { return recovery.completed_steps.count(s) != 0; });
        e.plan.full_reindex = e.plan.full_reindex || recovery.reindex_pending;
      }
    } else {
      e.failure = "nie można odczytać pliku wersja.dbf";
    }
    p.firms.push_back(std::move(e));
  }
  return p;
}

std::string format_plan(const UpgradePlan& p, const std::string& database_dir) {
  std::string s = "Baza danych: " + database_dir + " (wersja " + p.database_version + ")\n";
  if (!p.carried_on_from.empty())
    s += "Dokończenie przerwanej aktualizacji rozpoczętej od wersji " + p.carried_on_from + "\n";
  s += "Kroki struktury: " + (p.structure_steps.empty() ? std::string("brak") : joined(p.structure_steps)) + "\n";
  if (p.copies_xml) s += "Kopiowanie katalogu xml\\ do str\\xml\\\n";
  if (!p.refusal.empty()) {
    std::string r = p.refusal;
    for (char& c : r)
      if (c == ';') c = ' ';
    return s + "Odmowa: " + r + "\n";
  }
  for (const FirmPlanEntry& e : p.firms) {
    s += "Firma " + std::to_string(e.number) + " (" + e.directory + "): ";
    if (!e.reason.empty()) {
      s += "pominięta, " + e.reason + "\n";
      continue;
    }
    if (!e.failure.empty()) {
      s += "nie zostanie zaktualizowana: " + e.failure + "\n";
      continue;
    }
    const FirmPlan& f = e.plan;
    s += "wersja " + f.recorded_version;
    if (f.version_rewritten) s += " (przyjęta " + f.version + ")";
    if (f.current) {
      s += ", aktualna";
      if (f.full_reindex) s += ", pełna reindeksacja: tak";
      s += "\n";
      continue;
    }
    s += ", kroki: " + (f.steps.empty() ? std::string("brak") : joined(f.steps));
    s += std::string(", pełna reindeksacja: ") + (f.full_reindex ? "tak" : "nie") + "\n";
  }
  if (p.shared_step) s += "Krok danych wspólnych: PUB_26_01_001\n";
  s += std::string("Indeksy tabel wspólnych: tak, naprawa tabel PIT: ") + (p.pit_repair ? "tak" : "nie") + "\n";
  return s;
}

}  // namespace zuv::upgrade
