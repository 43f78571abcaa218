// Table's record writes: the window of an exclusive table, the memos, the orders, and
// appends, all or nothing per record.
#include "platform/table/table.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/base/discard.h"
#include "platform/error/error.h"
#include "platform/table/memo_file.h"
#include "platform/table/table_internal.h"

namespace zuv::table {
using namespace detail;

namespace {
// A new record ends, with the end-of-file mark, below the lowest record lock then in
// use: on Windows a locked byte cannot be read by anyone else.
bool room_for_record(std::uint64_t recno, std::uint64_t header_length, std::uint64_t record_length) {
  return recno <= kMaxRecords && header_length + recno * record_length + 1 <= kLockBase - recno;
}
constexpr const char* kTableFull = "Tabela osiągnęła największą liczbę rekordów";
}  // namespace

bool Table::flush_window() {
  Window& w = *window_;
  if (!w.dirty_lo) return true;
  const std::uint32_t gap = static_cast<std::uint32_t>(std::max<std::size_t>(1, kWriteGapBytes / record_length_));
  for (std::uint32_t lo = w.dirty_lo; lo <= w.dirty_hi;) {
    std::uint32_t hi = lo;  // the run's last changed record
    for (std::uint32_t r = lo + 1; r <= w.dirty_hi && r - hi <= gap; ++r)
      if (w.marked(r)) hi = r;
    for (;;) {
      int rc = file_.write_at(header_length_ + std::uint64_t(lo - 1) * record_length_, w.at(lo, record_length_),
                              std::size_t(hi - lo + 1) * record_length_);
      if (!rc) break;
      // The records stay in the window, still marked changed: a later commit or the
      // close writes them again, and nothing is lost silently.
      if (!raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBCOMMIT", true)) return false;
    }
    for (lo = hi + 1; lo <= w.dirty_hi && !w.marked(lo);) ++lo;
  }
  bool grew = w.holds_appends(count_in_header_);
  w.clean();
  header_dirty_ = true;
  // Records past the header's count are invisible to every reader: count them now.
  return grew ? write_header() : true;
}

void Table::drop_window() {
  Window& w = *window_;
  w.clean();
  w.count = 0;
  w.first = 0;
}

bool Table::refresh_count() {
  if (!shared_ || from_image_) return true;
  std::uint8_t disk[4];
  if (file_.read_exact(4, disk, 4) == 0) {
    std::uint32_t n = le32(disk);
    std::uint64_t size = 0;
    // Only records the file really holds count; a header written ahead of its
    // records (by a writer that died) must not send readers past the end.
    if (file_.size(size) == 0 && size >= header_length_) {
      std::uint64_t fits = (size - header_length_) / record_length_;
      n = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, fits));
    }
    if (n > count_) count_ = n;
  }
  return true;
}

bool Table::read_record(std::uint32_t recno, std::uint8_t* out) {
  if (from_image_) {
    std::memcpy(out, image_.data() + header_length_ + std::size_t(recno - 1) * record_length_, record_length_);
    return true;
  }
  Window& w = *window_;
  if (w.contains(recno)) {
    std::memcpy(out, w.at(recno, record_length_), record_length_);
    return true;
  }
  // A walk that goes on where the window ends reads ahead a whole window; a jump (a
  // seek, a go_to) reads a few records only, as most of a full window would go unused.
  const bool walking = w.count && recno == w.first + w.count;
  // A jump away from appended records not yet written reads its record alone and leaves
  // them waiting: records appended between look-ups then go to the file together.
  const bool alone = w.holds_appends(count_in_header_) && !walking;
  const std::uint32_t wanted =
      walking ? w.capacity : std::min<std::uint32_t>(w.capacity, std::max<std::size_t>(1, kJumpReadBytes / record_length_));
  if (!alone && !flush_window()) return false;
  std::uint32_t n = alone ? 1 : std::min<std::uint32_t>(wanted, count_ - recno + 1);
  w.data.resize(std::size_t(w.capacity) * record_length_);
  for (;;) {
    std::size_t got = 0;
    int rc = file_.read_at(header_length_ + std::uint64_t(recno - 1) * record_length_, alone ? out : w.data.data(),
                           std::size_t(n) * record_length_, got);
    if (!rc && got < record_length_) rc = os::oscode::kHandleEof;
    if (!rc && alone) return true;
    if (!rc) {
      w.first = recno;
      w.count = static_cast<std::uint32_t>(got / record_length_);
      std::memcpy(out, w.data.data(), record_length_);
      return true;
    }
    if (!alone) drop_window();
    if (!raise(rc == os::oscode::kHandleEof ? gencode::kCorrupt : gencode::kRead, rc,
               rc == os::oscode::kHandleEof ? "Uszkodzony plik tabeli: rekord poza końcem pliku" : "Błąd odczytu tabeli",
               "DBSKIP", true))
      return false;
  }
}

bool Table::write_pending_memos() {
  memo_mark_ = {};
  if (!any_memo_pending_) return true;
  if (memo_) memo_mark_ = memo_->mark();
  for (int i : memo_fields_) {
    if (!memo_pending_[i]) continue;
    const FieldDescriptor& f = fields_[i];
    std::uint32_t old_block = 0;
    if (!appended_) {
      const std::uint8_t* p = original_.data() + f.offset;
      if (f.length == 4) old_block = le32(p);
      else old_block = static_cast<std::uint32_t>(parse_number(p, f.length));
    }
    std::uint32_t block = 0;
    for (;;) {
      MemoFault fault;
      if (memo_ && memo_->write(old_block, pending_memo_[i], block, shared_, fault)) break;
      if (!memo_) fault = {gencode::kWrite, 0, "Brak pliku memo tabeli"};
      if (!raise_memo(fault, fault.description, "DBCOMMIT", true)) return false;
    }
    std::uint8_t* p = buffer_.data() + f.offset;
    if (f.length == 4) {
      put_le32(p, block);
    } else if (block == 0) {
      std::memset(p, ' ', f.length);
    } else {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%10u", block);
      std::memcpy(p, digits, 10);
    }
    memo_pending_[i] = false;
    pending_memo_[i].clear();
  }
  any_memo_pending_ = false;
  return true;
}

bool Table::store_current() {
  if (!dirty_) return true;
  if (from_image_ || read_only_) {
    dirty_ = false;
    return true;
  }
  // A record put back to the bytes it had is not written: a walk that sets every
  // record's field to what it already holds leaves the file, its keys and its
  // recovery copy alone.
  if (!appended_ && !any_memo_pending_ && buffer_ == original_) {
    dirty_ = false;
    return true;
  }
  const bool appended = appended_;
  // The keys first, then the memos, then the record: a failure at any step takes back
  // the steps before it, so the record and its keys are written all or not at all.
  // A crash between the steps leaves keys for a record not yet counted, which readers
  // pass over.
  std::size_t keyed = 0;
  bool ok = true;
  // A mark left by an earlier record's write must not be taken back with this one:
  // the memos of that record would go and their blocks be given out again.
  memo_mark_ = {};
  try {
    for (; keyed < orders_.size() && ok; ++keyed) {
      ok = appended ? orders_[keyed]->on_append(*this, recno_, buffer_.data())
                    : orders_[keyed]->on_replace(*this, recno_, original_.data(), buffer_.data());
    }
    if (!ok) --keyed;  // the failed order took back its own change
    ok = ok && write_pending_memos() && write_current();
  } catch (...) {
    take_back(keyed, appended);
    throw;
  }
  if (!ok) {
    take_back(keyed, appended);
    return false;
  }
  dirty_ = appended_ = false;
  return true;
}

// Undoes a record write that failed: the keys the first keyed orders gave it, and for a
// new record the record itself (and the memo blocks it took), so nothing of it stays.
void Table::take_back(std::size_t keyed, bool appended) {
  for (std::size_t i = 0; i < keyed; ++i) {
    try {
      if (appended) orders_[i]->on_remove(*this, recno_, buffer_.data());
      else orders_[i]->on_replace(*this, recno_, buffer_.data(), original_.data());
    } catch (...) {
      // The order has shown its error already; the others still get their keys back.
    }
  }
  if (memo_ && memo_mark_.valid) memo_->take_back(memo_mark_);
  memo_mark_ = {};
  for (std::size_t i = 0; i < memo_pending_.size(); ++i) {
    memo_pending_[i] = false;
    pending_memo_[i].clear();
  }
  any_memo_pending_ = false;
  if (appended) {
    forget_append();
  } else {
    buffer_ = original_;
    dirty_ = false;
  }
}

// The record of a failed append leaves the table: an exclusive table never wrote it;
// a shared one reserved it, so the header count goes back when nobody appended after
// it, or the blank record stays marked deleted.
void Table::forget_append() {
  dirty_ = appended_ = false;
  if (!shared_) {
    if (count_ == recno_) --count_;
  } else if (file_.lock(kLockBase, 1) == 0) {
    std::uint8_t disk[4];
    if (file_.read_exact(4, disk, 4) == 0 && le32(disk) == recno_) {
      std::uint8_t count[4];
      put_le32(count, recno_ - 1);
      std::uint8_t eof = 0x1A;
      if (file_.write_at(4, count, 4) == 0 && file_.write_at(header_length_ + std::uint64_t(recno_ - 1) * record_length_, &eof, 1) == 0) {
        base::let_go(file_.truncate(header_length_ + std::uint64_t(recno_ - 1) * record_length_ + 1),
                     "the header no longer counts the record; bytes past the count are never read");
        count_ = count_in_header_ = recno_ - 1;
      }
    } else {
      std::uint8_t mark = '*';
      base::let_go(file_.write_at(header_length_ + std::uint64_t(recno_ - 1) * record_length_, &mark, 1),
                   "the failed append is already answered; a blank record left unmarked holds no data");
    }
    file_.unlock(kLockBase, 1);
  }
  buffer_ = blank_;
  recno_ = count_ + 1;
  eof_ = true;
}

// The current record to the file (shared) or the window (exclusive).
bool Table::write_current() {
  Window& w = *window_;
  // An exclusive table's record counted in the header goes straight to the file while
  // appended records wait in the window, as a shared table's always does: the appended
  // ones then go to the file together.
  if (shared_ || (w.holds_appends(count_in_header_) && !w.contains(recno_) && recno_ <= count_in_header_)) {
    for (;;) {
      int rc = file_.write_at(header_length_ + std::uint64_t(recno_ - 1) * record_length_, buffer_.data(),
                              record_length_);
      if (!rc) break;
      if (!raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBCOMMIT", true)) return false;
    }
    if (w.contains(recno_)) std::memcpy(w.at(recno_, record_length_), buffer_.data(), record_length_);
    header_dirty_ = true;
    return true;
  }
  if (!w.contains(recno_)) {
    bool extends = w.count && recno_ == w.first + w.count && w.count < w.capacity;
    if (extends) {
      ++w.count;
    } else {
      if (!flush_window()) return false;
      w.data.resize(std::size_t(w.capacity) * record_length_);
      w.first = recno_;
      w.count = 1;
    }
  }
  std::memcpy(w.at(recno_, record_length_), buffer_.data(), record_length_);
  w.mark(recno_);
  // A window that reached its capacity goes to the file at once, so appended records
  // never wait long in memory. The record is in the window then: a failure here is
  // one of the whole window, kept there for the next commit.
  if (w.dirty_hi - w.dirty_lo + 1 >= w.capacity) flush_window();
  return true;
}


bool Table::remove() {
  if (!writable_or_raise("DBDELETE") || eof_) return false;
  if (buffer_[0] != '*') {
    before_change();
    buffer_[0] = '*';
    dirty_ = true;
  }
  return true;
}

bool Table::recall() {
  if (!writable_or_raise("DBRECALL") || eof_) return false;
  if (buffer_[0] != ' ') {
    before_change();
    buffer_[0] = ' ';
    dirty_ = true;
  }
  return true;
}

bool Table::append() {
  net_error_ = true;
  if (!writable_or_raise("DBAPPEND")) return false;
  if (!store_current()) return false;
  std::uint32_t recno = 0;
  if (shared_) {
    std::vector<std::uint8_t> blank = blank_;
    blank.push_back(0x1A);
    unlock(0);
    flush_window();
    drop_window();
    int rc = os::oscode::kLockViolation;
    for (int attempt = 0; attempt < 100 && rc == os::oscode::kLockViolation; ++attempt) {
      rc = file_.lock(kLockBase, 1);
      if (rc == os::oscode::kLockViolation) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (rc) return false;  // net_error() tells the caller
    std::uint8_t disk[4];
    std::uint32_t on_disk = file_.read_exact(4, disk, 4) == 0 ? le32(disk) : count_;
    const std::uint64_t next = std::uint64_t(std::max(on_disk, count_)) + 1;
    if (!room_for_record(next, header_length_, record_length_)) {
      file_.unlock(kLockBase, 1);
      raise(gencode::kWrite, os::oscode::kDiskFull, kTableFull, "DBAPPEND");
      return false;
    }
    recno = std::uint32_t(next);
    bool ok = false;
    for (;;) {
      rc = file_.write_at(header_length_ + std::uint64_t(recno - 1) * record_length_, blank.data(), blank.size());
      if (!rc) {
        count_ = recno;
        count_in_header_ = recno - 1;  // the header write below must count it
        ok = write_header();
        break;
      }
      if (!raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBAPPEND", true)) break;
    }
    file_.unlock(kLockBase, 1);
    if (!ok) return false;
    if (file_.lock(kLockBase - recno, 1) == 0) locks_.push_back(recno);
  } else {
    if (!room_for_record(std::uint64_t(count_) + 1, header_length_, record_length_)) {
      raise(gencode::kWrite, os::oscode::kDiskFull, kTableFull, "DBAPPEND");
      return false;
    }
    recno = ++count_;
  }
  // No stored image is kept for a new record: rollback blanks it, and it is stored
  // as an append.
  buffer_ = blank_;
  recno_ = recno;
  eof_ = bof_ = false;
  appended_ = dirty_ = true;
  net_error_ = false;
  return true;
}


bool Table::commit() {
  if (from_image_ || read_only_) return true;
  bool ok = store_current();
  ok = flush_window() && ok;
  if (header_dirty_) ok = write_header() && ok;
  for (auto& o : orders_) ok = o->flush() && ok;
  if (shared_) drop_window();
  return ok;
}

void Table::rollback() {
  if (appended_) {
    // The new record exists already; it stays, blank.
    buffer_ = blank_;
  } else if (dirty_) {
    // The stored image is kept from the first change on only: a record never
    // changed is already as stored.
    buffer_ = original_;
    dirty_ = false;
  }
  for (std::size_t i = 0; i < memo_pending_.size(); ++i) {
    memo_pending_[i] = false;
    pending_memo_[i].clear();
  }
  any_memo_pending_ = false;
}

[[gnu::noinline]] void Table::before_change() {
  // The stored image is kept only from the first change on: rollback, the orders and
  // the memo's old blocks need it, a plain read does not.
  if (!dirty_) original_ = buffer_;
}


}  // namespace zuv::table
