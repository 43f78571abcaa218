// The set of open tables of a run: work areas numbered from 1, each under an alias
// (compared case-insensitively), one of them selected; the table engines known to the
// run and its default; and the run-time settings every area obeys.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/table/area_relations.h"
#include "platform/table/settings.h"
#include "platform/table/table.h"

namespace zuv::table {

// The engines a run may open tables through. Data and order components are loaded
// by name and combined into the engines that tables are opened with.
class EngineSet {
 public:
  // The components this engine provides: data "DBFDBE", "FOXDBE"; orders "NTXDBE",
  // "CDXDBE". Answers false for any other name.
  bool load(const std::string& name, bool hidden = true);
  bool build(const std::string& name, const std::string& data, const std::string& order);
  bool set_default(const std::string& name);
  const std::string& default_engine() const { return default_; }
  bool usable(const std::string& name) const;
  // The order component of an engine ("NTXDBE" or "CDXDBE"), empty when unknown.
  std::string order_component(const std::string& name) const;
  void set_option(const std::string& component, int option, int value) { options_[component][option] = value; }
  std::optional<int> option(const std::string& component, int option) const;

  // Called for every table opened through the engine, before it is handed out (the
  // order component opens the table's structural index here). false fails the open.
  using TableOpened = std::function<bool(Table& table)>;
  void on_table_opened(const std::string& engine, TableOpened hook) { opened_[key_of(engine)] = std::move(hook); }
  const TableOpened* table_opened_hook(const std::string& engine) const;

 private:
  std::vector<std::string> loaded_;
  std::map<std::string, std::pair<std::string, std::string>> built_;
  std::string default_;
  std::map<std::string, std::map<int, int>> options_;
  std::map<std::string, TableOpened> opened_;
  static std::string key_of(const std::string& name);
};

struct UseRequest {
  std::string path;             // Windows path text of the table
  std::string alias;            // empty: the file's base name
  std::string engine;           // empty: the default engine
  std::optional<bool> shared;   // empty: shared unless exclusive opening is the default
  bool read_only = false;
};

class WorkAreas {
 public:
  WorkAreas() = default;
  ~WorkAreas();
  WorkAreas(const WorkAreas&) = delete;
  WorkAreas& operator=(const WorkAreas&) = delete;

  Settings& settings() { return settings_; }
  const Settings& settings() const { return settings_; }
  EngineSet& engines() { return engines_; }

  // DBUSEAREA in a new area, which becomes the selected one. False after a raised
  // error (open failure, alias in use, unknown engine).
  bool use_area(const UseRequest& request);
  // DBSELECTAREA by alias or number; false when no such area is in use.
  bool select(const std::string& alias);
  bool select(int area);
  int selected_area() const { return selected_; }
  // The selected table; nullptr when the selected area is empty.
  Table* current() const;
  Table* find(const std::string& alias) const;
  bool used() const { return current() != nullptr; }
  // DBCLOSEAREA: the selected area; DBCLOSEALL: every area.
  void close_area();
  bool close_area(const std::string& alias);
  void close_all();
  // Empties every area without closing its table: for a child process whose copies of
  // its parent's tables point nowhere, and whose buffers and locks are the parent's.
  void forget_all();
  std::vector<std::string> aliases() const;  // in area order, as stored (upper case)
  std::string alias_of(int area) const;
  // The relations between the areas of this set.
  AreaRelations& relations();

 private:
  struct Area {
    std::string alias;
    std::unique_ptr<Table> table;
  };
  int area_of(const std::string& alias) const;
  Settings settings_;
  EngineSet engines_;
  std::vector<Area> areas_;  // index = area number - 1
  int selected_ = 1;
  std::unique_ptr<AreaRelations> relations_;  // ends before the tables it relates
};

// A file name's base part ("C:\dane\Faktury.dbf" -> "FAKTURY"), the default alias.
std::string alias_from_path(const std::string& path);

}  // namespace zuv::table
