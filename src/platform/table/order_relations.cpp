// Relations between work areas: a child follows its parent by a key search.
#include "platform/table/order.h"
#include "platform/table/last_error.h"

#include "platform/os/path.h"
#include "platform/table/order_internal.h"
#include "platform/table/work_areas.h"

namespace zuv::table {
using namespace detail;

// ---------------------------------------------------------------- relations

bool Relations::set(const std::string& parent, const std::string& child, const std::string& expression) {
  Table* p = areas_.find(parent);
  Table* c = areas_.find(child);
  if (!p || !c) {
    ErrorRecord r =
        error_record(gencode::kArgument, "DBFDBE", "Nieznany alias w relacji: " + (p ? child : parent), "", "DBSETRELATION");
    raise_engine_error(r);
    return false;
  }
  Relation rel;
  rel.parent = parent;
  rel.child = child;
  rel.fields = std::make_unique<TableFields>(*p, &areas_);
  try {
    rel.expr = std::make_unique<KeyExpression>(KeyExpression::compile(expression, *rel.fields));
  } catch (const IndexError& e) {
    return fail(p->path(), "DBSETRELATION", e, gencode::kArgument);
  }
  relations_.push_back(std::move(rel));
  // The child follows every move of the parent from now on, while this object lives
  // (the tables may outlive it, and it may outlive the work areas).
  std::weak_ptr<bool> alive = alive_;
  p->set_move_listener([this, alive, parent] {
    if (alive.lock()) sync(parent);
  });
  sync(parent);
  return true;
}

void Relations::clear(const std::string& parent) {
  std::erase_if(relations_, [&](const Relation& r) { return iequal(r.parent, parent); });
  if (Table* p = areas_.find(parent)) p->set_move_listener(nullptr);
}



void Relations::sync(const std::string& parent) {
  for (auto& rel : relations_) {
    if (!iequal(rel.parent, parent)) continue;
    Table* p = areas_.find(rel.parent);
    Table* c = areas_.find(rel.child);
    if (!p || !c) continue;
    if (p->eof()) {
      c->go_to(c->record_count() + 1);
      continue;
    }
    Value v = expression_value(*rel.expr, *rel.fields, p->record_buffer());
    if (c->order_focus() == 0) {
      // Without an order the value is a record number.
      c->go_to(v.type == ValueType::Number ? std::uint32_t(v.number) : c->record_count() + 1);
    } else {
      c->seek(v, false, false);
    }
  }
}


}  // namespace zuv::table
