// The order of one tag of a compound file.
#include "platform/table/order.h"

#include "platform/os/path.h"
#include "platform/table/order_internal.h"
#include "platform/table/work_areas.h"

namespace zuv::table {
using namespace detail;

// ---------------------------------------------------------------- compound tags

CdxOrder::CdxOrder(Table& table, std::shared_ptr<cdx::CdxFile> file, const std::string& tag)
    : file_(std::move(file)), name_(tag) {
  fields_ = std::make_unique<TableFields>(table);
  shared_ = table.is_shared();
  if (shared_) file_->share_updates();
  cdx::Tag& t = this->tag();
  name_ = t.name();
  expr_ = std::make_unique<KeyExpression>(KeyExpression::compile(t.header().expression, *fields_));
  if (expr_->key_length() != t.key_length())
    throw IndexError("Długość klucza znacznika " + name_ + " nie zgadza się z wyrażeniem \"" + expr_->text() + "\"");
  t.set_key_type(expr_->key_type());
}

cdx::Tag& CdxOrder::tag() {
  cdx::Tag* t = file_->find_tag(name_);
  if (!t) throw IndexError("Brak znacznika " + name_ + " w pliku " + file_->path());
  if (expr_) t->set_key_type(expr_->key_type());
  // Another process may have changed a shared file since our last look.
  if (shared_) t->sync_with_file();
  return *t;
}

bool CdxOrder::descending() { return tag().header().descending; }

std::string CdxOrder::key_of(const std::uint8_t* record) const {
  ImageView view(*fields_, record);
  return expr_->key(view);
}

// Each key change is all or nothing within the file, so a failed one leaves the tag
// as it was and the table can take back the whole record write.
bool CdxOrder::on_append(Table&, std::uint32_t recno, const std::uint8_t* record) {
  try {
    cdx::Tag& t = tag();
    cdx::CdxFile::UpdateLock lock(*file_, t);
    std::string key = key_of(record);
    file_->all_or_nothing([&] { tag().insert(key, recno); });
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBAPPEND", e, gencode::kWrite);
  }
}

bool CdxOrder::on_remove(Table&, std::uint32_t recno, const std::uint8_t* record) {
  try {
    cdx::Tag& t = tag();
    cdx::CdxFile::UpdateLock lock(*file_, t);
    std::string key = key_of(record);
    file_->all_or_nothing([&] { tag().remove(key, recno); });
    cursor_ = cdx::Cursor();
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBAPPEND", e, gencode::kWrite);
  }
}

bool CdxOrder::on_replace(Table&, std::uint32_t recno, const std::uint8_t* before, const std::uint8_t* after) {
  try {
    std::string old_key = key_of(before), new_key = key_of(after);
    if (old_key == new_key) return true;
    cdx::Tag& t = tag();
    cdx::CdxFile::UpdateLock lock(*file_, t);
    file_->all_or_nothing([&] {
      cdx::Tag& now = tag();
      now.remove(old_key, recno);
      now.insert(new_key, recno);
    });
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBREPLACE", e, gencode::kWrite);
  }
}

bool CdxOrder::rebuild(Table& table) {
  try {
    cdx::Tag& t = tag();
    BuildOptions o;
    o.descending = t.header().descending;
    o.unique = t.header().options & cdx::kOptUnique;
    TableSource source(table, *fields_);
    build_cdx_tag(*file_, source, name_, expr_->text(), o);
    cursor_ = cdx::Cursor();
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "ORDLISTREBUILD", e, gencode::kWrite);
  }
}

bool CdxOrder::flush() {
  try {
    file_->flush();
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBCOMMIT", e, gencode::kWrite);
  }
}

// A key of a record the header does not count yet (a writer stopped between the key
// and the count) is passed over: a walk neither stops at it nor lands on it.
bool CdxOrder::counted(Table& table, cdx::Tag& t, cdx::Cursor& c, bool ok, bool up) {
  std::uint32_t count = table.record_count();
  while (ok && c.recno > count) ok = up ? t.next(c) : t.prev(c);
  return ok;
}

std::uint32_t CdxOrder::first(Table& table) {
  try {
    cdx::Tag& t = tag();
    bool ok = descending() ? t.last(cursor_) : t.first(cursor_);
    ok = counted(table, t, cursor_, ok, !descending());
    return ok ? cursor_.recno : 0;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBGOTOP", e);
    return 0;
  }
}

std::uint32_t CdxOrder::last(Table& table) {
  try {
    cdx::Tag& t = tag();
    bool ok = descending() ? t.first(cursor_) : t.last(cursor_);
    ok = counted(table, t, cursor_, ok, descending());
    return ok ? cursor_.recno : 0;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBGOBOTTOM", e);
    return 0;
  }
}

bool CdxOrder::step(Table& table, std::uint32_t recno, bool forward, std::uint32_t& out) {
  cdx::Tag& t = tag();
  bool up = forward != descending();  // towards greater keys
  if (!cursor_.valid() || cursor_.recno != recno || cursor_gen_ != file_->generation()) {
    // Find the record's own entry again from its key.
    std::string key = key_of(table.record_buffer());
    if (!t.seek(key, recno, cursor_)) {
      out = 0;
      if (up) return true;
      if (!counted(table, t, cursor_, t.last(cursor_), false)) return true;
      out = cursor_.recno;
      cursor_gen_ = file_->generation();
      return true;
    }
    if (cursor_.recno != recno) {
      // The record has no entry: the place it would take decides the neighbours.
      if (up) {
        bool ok = counted(table, t, cursor_, true, true);
        out = ok ? cursor_.recno : 0;
        cursor_gen_ = file_->generation();
        return true;
      }
    }
  }
  bool ok = counted(table, t, cursor_, up ? t.next(cursor_) : t.prev(cursor_), up);
  cursor_gen_ = file_->generation();
  out = ok ? cursor_.recno : 0;
  return true;
}

std::uint32_t CdxOrder::next(Table& table, std::uint32_t recno) {
  try {
    std::uint32_t r = 0;
    step(table, recno, true, r);
    return r;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBSKIP", e);
    return 0;
  }
}

std::uint32_t CdxOrder::prev(Table& table, std::uint32_t recno) {
  try {
    std::uint32_t r = 0;
    step(table, recno, false, r);
    return r;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBSKIP", e);
    return 0;
  }
}

std::uint32_t CdxOrder::seek(Table& table, const Value& key, bool soft, bool last, bool& found) {
  found = false;
  try {
    cdx::Tag& t = tag();
    std::string k;
    bool longer = false;
    if (!search_key(t.key_type(), t.key_length(), key, k, longer)) return 0;
    const KeyType type = t.key_type();
    cdx::Cursor c;
    const std::uint32_t count = table.record_count();
    bool have = counted(table, t, c, t.seek(k, 0, c), true);
    if (longer) {
      while (have && prefix_equal(type, c.key, k)) have = t.next(c);
      have = counted(table, t, c, have, true);
      if (!have && !descending()) {
        cursor_ = cdx::Cursor();
        return 0;
      }
    }
    bool equal = have && !longer && prefix_equal(type, c.key, k);
    if (!descending()) {
      if (equal) {
        found = true;
        if (last) {
          cdx::Cursor n = c;
          while (t.next(n) && prefix_equal(type, n.key, k))
            if (n.recno <= count) c = n;
        }
      } else if (!soft || !have) {
        cursor_ = cdx::Cursor();
        return 0;
      }
    } else {
      if (equal) {
        found = true;
        if (!last) {
          cdx::Cursor n = c;
          while (t.next(n) && prefix_equal(type, n.key, k))
            if (n.recno <= count) c = n;
        }
      } else {
        // In falling order the next key is the greatest one below the search.
        bool any = counted(table, t, c, have ? t.prev(c) : t.last(c), false);
        if (!soft || !any) {
          cursor_ = cdx::Cursor();
          return 0;
        }
      }
    }
    if (table.settings().deleted_hidden) {
      // Hidden records are passed over in the order's direction of travel.
      const bool ahead = descending() == last;
      bool ok = true;
      while (ok && record_hidden(table, c.recno)) ok = counted(table, t, c, ahead ? t.next(c) : t.prev(c), ahead);
      if (!ok) {
        found = false;
        cursor_ = cdx::Cursor();
        return 0;
      }
      if (found && !prefix_equal(type, c.key, k)) {
        found = false;
        if (!soft) {
          cursor_ = cdx::Cursor();
          return 0;
        }
      }
    }
    cursor_ = c;
    cursor_gen_ = file_->generation();
    return c.recno;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBSEEK", e);
    return 0;
  }
}


}  // namespace zuv::table
