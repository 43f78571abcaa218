#include "platform/table/area_relations.h"

#include <algorithm>

#include "platform/base/text.h"
#include "platform/table/order.h"
#include "platform/table/work_areas.h"

namespace zuv::table {

AreaRelations::AreaRelations(WorkAreas& areas) : areas_(areas) {}
AreaRelations::~AreaRelations() = default;

Relations& AreaRelations::live() {
  auto dead = [&](const Record& r) {
    return areas_.find(r.parent) != r.parent_table || areas_.find(r.child) != r.child_table;
  };
  bool stale = std::any_of(records_.begin(), records_.end(), dead);
  if (!engine_ || stale) {
    std::erase_if(records_, dead);
    engine_ = std::make_unique<Relations>(areas_);
    for (const Record& r : records_) engine_->set(r.parent, r.child, r.expression);
  }
  return *engine_;
}

bool AreaRelations::set(const std::string& parent, const std::string& child, const std::string& expression) {
  Relations& engine = live();
  if (!engine.set(parent, child, expression)) return false;
  records_.push_back({parent, child, expression, areas_.find(parent), areas_.find(child)});
  engine.sync(parent);
  return true;
}

void AreaRelations::sync(const std::string& parent) { live().sync(parent); }

void AreaRelations::clear(const std::string& parent) {
  live().clear(parent);
  std::erase_if(records_, [&](const Record& r) { return base::iequals_ascii(r.parent, parent); });
}

}  // namespace zuv::table
