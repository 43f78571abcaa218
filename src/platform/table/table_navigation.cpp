// Table's navigation: the record pointer in natural or key order, hidden records passed
// over, and the whole-table walks built on it.
#include "platform/table/table.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "platform/error/error.h"
#include "platform/table/memo_file.h"
#include "platform/table/table_internal.h"

namespace zuv::table {
using namespace detail;

// ---------------------------------------------------------------- navigation

std::uint32_t Table::record_count() {
  refresh_count();
  return count_;
}

bool Table::position(std::uint32_t recno) {
  store_current();
  if (recno >= 1 && recno <= count_ && read_record(recno, buffer_.data())) {
    recno_ = recno;
    eof_ = false;
  } else {
    recno_ = count_ + 1;
    buffer_ = blank_;
    eof_ = true;
  }
  if (any_memo_pending_) {
    std::fill(memo_pending_.begin(), memo_pending_.end(), false);
    any_memo_pending_ = false;
  }
  return !eof_;
}

bool Table::is_hidden() const {
  return !eof_ && ((settings_->deleted_hidden && deleted()) || (filter_ && !filter_(*this)));
}



std::uint32_t Table::next_in_order(std::uint32_t recno, bool forward) {
  if (Order* o = controlling_order()) {
    if (eof_) return forward ? 0 : o->last(*this);
    return forward ? o->next(*this, recno) : o->prev(*this, recno);
  }
  if (forward) {
    if (recno >= count_) refresh_count();
    return recno < count_ ? recno + 1 : 0;
  }
  if (eof_) return count_;
  return recno > 1 ? recno - 1 : 0;
}

void Table::skip_hidden_forward() {
  while (is_hidden()) {
    std::uint32_t r = next_in_order(recno_, true);
    position(r ? r : count_ + 1);
  }
}

void Table::skip_hidden_backward() {
  while (is_hidden()) {
    std::uint32_t r = next_in_order(recno_, false);
    if (!r) {
      position(count_ + 1);
      return;
    }
    position(r);
  }
}

bool Table::go_to(std::uint32_t recno) {
  MoveNotice notice{*this};
  store_current();
  if (shared_) {
    flush_window();
    drop_window();
    refresh_count();
  }
  bool ok = position(recno);
  bof_ = false;
  return ok;
}

void Table::go_top() {
  MoveNotice notice{*this};
  store_current();
  if (shared_) {
    drop_window();
    refresh_count();
  }
  std::uint32_t r = 0;
  if (Order* o = controlling_order()) r = o->first(*this);
  else r = count_ ? 1 : 0;
  position(r ? r : count_ + 1);
  skip_hidden_forward();
  bof_ = eof_;
}

void Table::go_bottom() {
  MoveNotice notice{*this};
  store_current();
  if (shared_) {
    drop_window();
    refresh_count();
  }
  std::uint32_t r = 0;
  if (Order* o = controlling_order()) r = o->last(*this);
  else r = count_;
  position(r ? r : count_ + 1);
  skip_hidden_backward();
  bof_ = eof_;
}

void Table::skip(long count) {
  MoveNotice notice{*this};
  if (count == 0) {
    store_current();
    if (shared_) drop_window();
    if (!eof_) position(recno_);
    return;
  }
  bof_ = false;
  if (count > 0) {
    for (long i = 0; i < count && !eof_; ++i) {
      std::uint32_t r = next_in_order(recno_, true);
      position(r ? r : count_ + 1);
      skip_hidden_forward();
    }
    return;
  }
  for (long i = 0; i < -count; ++i) {
    std::uint32_t from = recno_;
    bool was_eof = eof_;
    std::uint32_t r = next_in_order(recno_, false);
    if (r) {
      position(r);
      skip_hidden_backward();
      if (!eof_) continue;
    }
    // Ran off the top: stay on the first visible record with bof set.
    if (was_eof && !r) {
      position(count_ + 1);
    } else {
      position(from);
      if (is_hidden() || eof_) {
        go_top();
      }
    }
    bof_ = true;
    return;
  }
}


// ---------------------------------------------------------------- whole-table operations

bool Table::locate(const std::function<bool(Table&)>& condition, bool from_top) {
  if (from_top) go_top();
  while (!eof_) {
    if (condition(*this)) return true;
    skip(1);
  }
  return false;
}

void Table::eval(const std::function<bool(Table&)>& action, const std::function<bool(Table&)>& condition) {
  go_top();
  while (!eof_) {
    if (!condition || condition(*this)) {
      if (!action(*this)) return;
    }
    skip(1);
  }
}


}  // namespace zuv::table
