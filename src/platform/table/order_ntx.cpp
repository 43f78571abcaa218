// The order of a single-key file.
#include "platform/table/order.h"

#include "platform/os/path.h"
#include "platform/table/order_internal.h"
#include "platform/table/work_areas.h"

namespace zuv::table {
using namespace detail;

// ---------------------------------------------------------------- single-key files

NtxOrder::NtxOrder(Table& table, std::unique_ptr<ntx::NtxFile> file, const std::string& name)
    : file_(std::move(file)), name_(upper_ascii(name)) {
  fields_ = std::make_unique<TableFields>(table);
  expr_ = std::make_unique<KeyExpression>(KeyExpression::compile(file_->header().expression, *fields_));
  file_->set_key_type(KeyType::Character);
}

std::string NtxOrder::key_of(const std::uint8_t* record) const {
  ImageView view(*fields_, record);
  return ntx_key(*expr_, view, file_->header().key_size, file_->header().decimals);
}

bool NtxOrder::on_append(Table&, std::uint32_t recno, const std::uint8_t* record) {
  try {
    std::string key = key_of(record);
    file_->all_or_nothing([&] { file_->insert(key, recno); });
    cursor_ = ntx::NtxFile::Cursor();
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBAPPEND", e, gencode::kWrite);
  }
}

bool NtxOrder::on_remove(Table&, std::uint32_t recno, const std::uint8_t* record) {
  try {
    std::string key = key_of(record);
    file_->all_or_nothing([&] { file_->remove(key, recno); });
    cursor_ = ntx::NtxFile::Cursor();
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBAPPEND", e, gencode::kWrite);
  }
}

bool NtxOrder::on_replace(Table&, std::uint32_t recno, const std::uint8_t* before, const std::uint8_t* after) {
  try {
    std::string old_key = key_of(before), new_key = key_of(after);
    if (old_key == new_key) return true;
    file_->all_or_nothing([&] {
      file_->remove(old_key, recno);
      file_->insert(new_key, recno);
    });
    cursor_ = ntx::NtxFile::Cursor();
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBREPLACE", e, gencode::kWrite);
  }
}

bool NtxOrder::rebuild(Table& table) {
  try {
    std::string path = file_->path();
    TableSource source(table, *fields_);
    file_.reset();
    file_ = build_ntx(path, source, expr_->text());
    cursor_ = ntx::NtxFile::Cursor();
    return true;
  } catch (const IndexError& e) {
    return fail(name_, "ORDLISTREBUILD", e, gencode::kWrite);
  }
}

bool NtxOrder::flush() {
  try {
    if (file_) file_->flush();
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBCOMMIT", e, gencode::kWrite);
  }
}

std::uint32_t NtxOrder::first(Table&) {
  try {
    return file_->first(cursor_) ? cursor_.recno : 0;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBGOTOP", e);
    return 0;
  }
}

std::uint32_t NtxOrder::last(Table&) {
  try {
    return file_->last(cursor_) ? cursor_.recno : 0;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBGOBOTTOM", e);
    return 0;
  }
}

std::uint32_t NtxOrder::next(Table& table, std::uint32_t recno) {
  try {
    if (!cursor_.valid() || cursor_.recno != recno) {
      if (!file_->seek(key_of(table.record_buffer()), recno, cursor_)) return 0;
      if (cursor_.recno != recno) return cursor_.recno;
    }
    return file_->next(cursor_) ? cursor_.recno : 0;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBSKIP", e);
    return 0;
  }
}

std::uint32_t NtxOrder::prev(Table& table, std::uint32_t recno) {
  try {
    if (!cursor_.valid() || cursor_.recno != recno) {
      if (!file_->seek(key_of(table.record_buffer()), recno, cursor_)) return file_->last(cursor_) ? cursor_.recno : 0;
    }
    return file_->prev(cursor_) ? cursor_.recno : 0;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBSKIP", e);
    return 0;
  }
}

std::uint32_t NtxOrder::seek(Table& table, const Value& key, bool soft, bool last, bool& found) {
  found = false;
  try {
    const int ks = file_->header().key_size;
    std::string k;
    if (key.type == ValueType::Number) k = format_str(key.number, ks, file_->header().decimals);
    else if (key.type == ValueType::Date) k = key.text;
    else if (key.type == ValueType::Logical) k.assign(1, key.logical ? 'T' : 'F');
    else k = key.text.substr(0, size_t(ks));
    ntx::NtxFile::Cursor c;
    bool have = file_->seek(k, 0, c);
    if (have && prefix_equal(KeyType::Character, c.key, k)) {
      found = true;
      if (last) {
        ntx::NtxFile::Cursor n = c;
        while (file_->next(n) && prefix_equal(KeyType::Character, n.key, k)) c = n;
      }
    } else if (!soft || !have) {
      cursor_ = ntx::NtxFile::Cursor();
      return 0;
    }
    if (table.settings().deleted_hidden) {
      bool ok = true;
      while (ok && record_hidden(table, c.recno)) ok = last ? file_->prev(c) : file_->next(c);
      if (!ok) {
        found = false;
        cursor_ = ntx::NtxFile::Cursor();
        return 0;
      }
      if (found && !prefix_equal(KeyType::Character, c.key, k)) {
        found = false;
        if (!soft) {
          cursor_ = ntx::NtxFile::Cursor();
          return 0;
        }
      }
    }
    cursor_ = c;
    return c.recno;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBSEEK", e);
    return 0;
  }
}


}  // namespace zuv::table
