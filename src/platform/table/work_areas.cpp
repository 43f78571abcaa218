#include "platform/table/work_areas.h"

#include <algorithm>

#include "platform/base/text.h"
#include "platform/table/area_relations.h"
#include "platform/error/error.h"
#include "platform/table/last_error.h"

namespace zuv::table {
namespace {
std::string key(const std::string& s) { return base::upper_ascii(base::trim(s)); }
}  // namespace

bool EngineSet::load(const std::string& name, bool) {
  static const char* kComponents[] = {"DBFDBE", "FOXDBE", "NTXDBE", "CDXDBE"};
  std::string n = key(name);
  if (std::find(std::begin(kComponents), std::end(kComponents), n) == std::end(kComponents)) return false;
  if (std::find(loaded_.begin(), loaded_.end(), n) == loaded_.end()) loaded_.push_back(n);
  return true;
}

bool EngineSet::build(const std::string& name, const std::string& data, const std::string& order) {
  std::string d = key(data), o = key(order);
  auto is_loaded = [&](const std::string& c) { return std::find(loaded_.begin(), loaded_.end(), c) != loaded_.end(); };
  bool data_ok = d == "DBFDBE" || d == "FOXDBE";
  bool order_ok = o == "NTXDBE" || o == "CDXDBE";
  if (!data_ok || !order_ok || !is_loaded(d) || !is_loaded(o) || key(name).empty()) return false;
  built_[key(name)] = {d, o};
  return true;
}

bool EngineSet::set_default(const std::string& name) {
  if (!usable(name)) return false;
  default_ = key(name);
  return true;
}

bool EngineSet::usable(const std::string& name) const { return built_.count(key(name)) != 0; }

std::string EngineSet::order_component(const std::string& name) const {
  auto it = built_.find(key(name));
  return it == built_.end() ? std::string() : it->second.second;
}

std::optional<int> EngineSet::option(const std::string& component, int option) const {
  auto c = options_.find(key(component));
  if (c == options_.end()) return std::nullopt;
  auto o = c->second.find(option);
  if (o == c->second.end()) return std::nullopt;
  return o->second;
}

std::string EngineSet::key_of(const std::string& name) { return key(name); }

const EngineSet::TableOpened* EngineSet::table_opened_hook(const std::string& engine) const {
  auto it = opened_.find(key(engine));
  return it == opened_.end() || !it->second ? nullptr : &it->second;
}

std::string alias_from_path(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  return key(name);
}

WorkAreas::~WorkAreas() {
  relations_.reset();
  try {
    close_all();
  } catch (const Break&) {
  }
}

AreaRelations& WorkAreas::relations() {
  if (!relations_) relations_ = std::make_unique<AreaRelations>(*this);
  return *relations_;
}

int WorkAreas::area_of(const std::string& alias) const {
  std::string k = key(alias);
  for (std::size_t i = 0; i < areas_.size(); ++i)
    if (areas_[i].table && areas_[i].alias == k) return static_cast<int>(i) + 1;
  return 0;
}

bool WorkAreas::use_area(const UseRequest& request) {
  std::string alias = key(request.alias.empty() ? alias_from_path(request.path) : request.alias);
  std::string engine = request.engine.empty() ? engines_.default_engine() : key(request.engine);
  auto fail = [&](int gen, const std::string& what) {
    ErrorRecord r = error_record(gen, engine.empty() ? "DBFDBE" : engine, what, request.path, "DBUSEAREA");
    raise_engine_error(r);
    return false;
  };
  if (engine.empty() || !engines_.usable(engine)) return fail(tablecode::kNoEngine, "Nieznany mechanizm tabel " + engine);
  if (alias.empty() || area_of(alias)) return fail(tablecode::kAliasInUse, "Alias " + alias + " jest już w użyciu");
  OpenOptions options;
  options.path = request.path;
  options.engine = engine;
  options.shared = request.shared.value_or(!settings_.exclusive_default);
  options.read_only = request.read_only;
  std::unique_ptr<Table> table = Table::open(options);
  if (!table) return false;
  table->set_settings(&settings_);
  if (const auto* hook = engines_.table_opened_hook(engine)) {
    if (!(*hook)(*table)) return false;
  }
  table->go_top();  // under this run's deleted-records setting
  std::size_t slot = 0;
  while (slot < areas_.size() && areas_[slot].table) ++slot;
  if (slot == areas_.size()) areas_.emplace_back();
  areas_[slot].alias = alias;
  areas_[slot].table = std::move(table);
  selected_ = static_cast<int>(slot) + 1;
  return true;
}

bool WorkAreas::select(const std::string& alias) {
  int a = area_of(alias);
  if (!a) return false;
  selected_ = a;
  return true;
}

bool WorkAreas::select(int area) {
  if (area < 1) return false;
  selected_ = area;  // an empty area may be selected, as the runtime allows
  return true;
}

Table* WorkAreas::current() const {
  if (selected_ < 1 || selected_ > static_cast<int>(areas_.size())) return nullptr;
  return areas_[selected_ - 1].table.get();
}

Table* WorkAreas::find(const std::string& alias) const {
  int a = area_of(alias);
  return a ? areas_[a - 1].table.get() : nullptr;
}

void WorkAreas::close_area() {
  if (selected_ < 1 || selected_ > static_cast<int>(areas_.size())) return;
  Area& area = areas_[selected_ - 1];
  std::unique_ptr<Table> table = std::move(area.table);
  area.alias.clear();
  if (table) table->close();
}

bool WorkAreas::close_area(const std::string& alias) {
  int a = area_of(alias);
  if (!a) return false;
  int keep = selected_;
  selected_ = a;
  close_area();
  selected_ = keep;
  return true;
}

void WorkAreas::close_all() {
  for (std::size_t i = 0; i < areas_.size(); ++i) {
    selected_ = static_cast<int>(i) + 1;
    close_area();
  }
  selected_ = 1;
}

void WorkAreas::forget_all() {
  static_cast<void>(relations_.release());  // it holds the forgotten tables
  for (Area& a : areas_) {
    a.alias.clear();
    static_cast<void>(a.table.release());  // never closed: the parent's to close
  }
  selected_ = 1;
}

std::vector<std::string> WorkAreas::aliases() const {
  std::vector<std::string> out;
  for (const auto& a : areas_)
    if (a.table) out.push_back(a.alias);
  return out;
}

std::string WorkAreas::alias_of(int area) const {
  if (area < 1 || area > static_cast<int>(areas_.size()) || !areas_[area - 1].table) return {};
  return areas_[area - 1].alias;
}

}  // namespace zuv::table
