// Table's order list: focus, rebuilds and key searches through the controlling order.
#include "platform/table/table.h"

#include <algorithm>

#include "platform/base/text.h"
#include "platform/error/error.h"
#include "platform/table/memo_file.h"
#include "platform/table/table_internal.h"

namespace zuv::table {
using namespace detail;

// ---------------------------------------------------------------- orders

void Table::add_order(std::unique_ptr<Order> order) { orders_.push_back(std::move(order)); }

Order* Table::order(int n) const {
  if (n < 1 || n > order_count()) return nullptr;
  return orders_[n - 1].get();
}

bool Table::set_order_focus(int n) {
  if (n < 0 || n > order_count()) return false;
  store_current();
  focus_ = n;
  return true;
}

bool Table::set_order_focus(std::string_view name) {
  for (int i = 0; i < order_count(); ++i)
    if (base::iequals_ascii(orders_[i]->name(), name)) return set_order_focus(i + 1);
  return false;
}

void Table::clear_orders() {
  store_current();
  for (auto& o : orders_) o->flush();
  orders_.clear();
  focus_ = 0;
}

bool Table::rebuild_orders() {
  if (!store_current()) return false;
  bool ok = true;
  for (auto& o : orders_) ok = o->rebuild(*this) && ok;
  go_top();
  return ok;
}

bool Table::seek(const Value& key) { return seek(key, settings_->soft_seek, false); }

bool Table::seek(const Value& key, bool soft, bool last) {
  found_ = false;
  MoveNotice notice{*this};
  Order* o = controlling_order();
  if (!o) {
    raise(gencode::kArgument, 0, "Brak aktywnego indeksu", "DBSEEK");
    return false;
  }
  store_current();
  if (shared_) {
    drop_window();
    refresh_count();
  }
  bool found = false;
  std::uint32_t r = o->seek(*this, key, soft, last, found);
  position(r ? r : count_ + 1);
  bof_ = false;
  if (is_hidden()) {
    skip_hidden_forward();
    found = found && !eof_ && o->matches(*this, key);
  }
  found_ = found && !eof_;
  return found_;
}


}  // namespace zuv::table
