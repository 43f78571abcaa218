// Table's record locks for shared tables.
#include "platform/table/table.h"

#include <algorithm>

#include "platform/error/error.h"
#include "platform/table/memo_file.h"
#include "platform/table/table_internal.h"

namespace zuv::table {
using namespace detail;

// ---------------------------------------------------------------- locks

bool Table::rlock(std::uint32_t recno) {
  if (recno == 0) recno = recno_;
  if (!shared_ || from_image_) return true;
  refresh_count();
  if (recno == 0 || recno > count_) return false;
  if (is_locked(recno)) return true;
  if (file_.lock(kLockBase - recno, 1) != 0) return false;
  locks_.push_back(recno);
  if (recno == recno_ && !dirty_) {
    // What another workstation stored before we got the lock is what we now edit.
    drop_window();
    position(recno_);
  }
  return true;
}

void Table::unlock(std::uint32_t recno) {
  store_current();
  if (from_image_ || !file_.is_open()) return;
  for (auto it = locks_.begin(); it != locks_.end();) {
    if (recno == 0 || *it == recno) {
      file_.unlock(kLockBase - *it, 1);
      it = locks_.erase(it);
    } else {
      ++it;
    }
  }
}

bool Table::is_locked(std::uint32_t recno) const {
  if (!shared_) return true;
  return std::find(locks_.begin(), locks_.end(), recno) != locks_.end();
}


}  // namespace zuv::table
