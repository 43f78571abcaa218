#include "platform/table/order.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/base/text.h"
#include "platform/os/path.h"
#include "platform/table/work_areas.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

// Orders tell CDX from NTX by the extension, in any letter case.
std::string extension_of(const std::string& path) { return base::lower_ascii(base::extension_of(path)); }

std::string base_name(const std::string& path) {
  auto slash = path.find_last_of("/\\");
  return base::without_extension(slash == std::string::npos ? path : path.substr(slash + 1));
}

bool fail(const std::string& file, const char* operation, const std::exception& e, int gen = gencode::kCorrupt) {
  ErrorRecord r;
  r.genCode = gen;
  r.subSystem = "CDXDBE";
  r.description = e.what();
  r.fileName = file;
  r.operation = operation;
  r.canDefault = true;
  raise_error(r);
  return false;
}

class ImageView : public RecordView {
 public:
  ImageView(const TableFields& f, const uint8_t* rec) : f_(&f), rec_(rec) {}
  std::string_view field_bytes(int slot) const override { return f_->bytes(slot, rec_); }
  void set_record(const uint8_t* rec) { rec_ = rec; }

 private:
  const TableFields* f_;
  const uint8_t* rec_;
};

// The records of a table for a build; moves the table.
class TableSource : public RecordSource {
 public:
  TableSource(Table& t, const TableFields& f) : t_(t), f_(f), view_(f, nullptr) {}
  uint32_t source_count() const override { return t_.record_count(); }
  void source_load(uint32_t recno) override {
    t_.go_to(recno);
    view_.set_record(t_.record_buffer());
  }
  const RecordView& source_view() const override { return view_; }
  const FieldResolver& source_fields() const override { return f_; }

 private:
  Table& t_;
  const TableFields& f_;
  ImageView view_;
};

// Search bytes for a key of the given type; false when the value cannot be one.
// A text shorter than the key finds the keys it begins (the exact-comparison setting
// governs the = of texts, not key searches): the catalogues' seeks of "lpp" in tags
// like "lpp_w+dtos(data_z)" rely on it.
// longer: the text goes on past the key length with more than blanks, so it sorts
// after every key that starts with its first key_length bytes.
bool search_key(KeyType type, int key_length, const Value& v, std::string& out, bool& longer) {
  longer = false;
  switch (type) {
    case KeyType::Character:
      if (!v.is_text_like()) return false;
      out = v.text.substr(0, size_t(key_length));
      longer = v.text.size() > size_t(key_length) &&
               v.text.find_first_not_of(' ', size_t(key_length)) != std::string::npos;
      return true;
    case KeyType::Numeric:
      if (v.type != ValueType::Number) return false;
      out = numeric_key(v.number);
      return true;
    case KeyType::Date:
      if (v.type != ValueType::Date) return false;
      out = date_key(v.text);
      return true;
    case KeyType::Logical:
      if (v.type != ValueType::Logical) return false;
      out.assign(1, v.logical ? 'T' : 'F');
      return true;
  }
  return false;
}

bool prefix_equal(KeyType type, const std::string& stored, const std::string& search) {
  if (search.size() > stored.size()) return false;
  return compare_keys(type, std::string_view(stored).substr(0, search.size()), search) == 0;
}

// Whether a record is marked deleted; reads it through the table (Table::seek
// positions the table again afterwards).
bool record_hidden(Table& table, std::uint32_t recno) {
  if (!table.go_to(recno)) return false;
  return table.deleted();
}

std::map<std::string, std::weak_ptr<cdx::CdxFile>>& cdx_registry() {
  static std::map<std::string, std::weak_ptr<cdx::CdxFile>> r;
  return r;
}

}  // namespace

// ---------------------------------------------------------------- fields

std::optional<FieldRef> TableFields::resolve(std::string_view alias, std::string_view field) const {
  Table* t = &table_;
  int area = 0;
  if (!alias.empty() && areas_) {
    Table* other = areas_->find(std::string(alias));
    if (other && other != &table_) {
      auto it = std::find(others_.begin(), others_.end(), other);
      if (it == others_.end()) {
        others_.push_back(other);
        it = others_.end() - 1;
      }
      t = other;
      area = int(it - others_.begin()) + 1;
    }
  } else if (!alias.empty() && !base::iequals_ascii(alias, base_name(table_.path()))) {
    return std::nullopt;
  }
  int i = t->field_index(field);
  if (i < 0) return std::nullopt;
  const FieldDescriptor& d = t->fields()[size_t(i)];
  return FieldRef{(area << 16) | i, d.type, d.length, d.decimals};
}

std::string_view TableFields::bytes(int slot, const uint8_t* record) const {
  int area = slot >> 16, i = slot & 0xFFFF;
  Table* t = area == 0 ? &table_ : others_[size_t(area - 1)];
  const uint8_t* rec = area == 0 ? record : t->record_buffer();
  if (!rec) return {};
  const FieldDescriptor& d = t->fields()[size_t(i)];
  return std::string_view(reinterpret_cast<const char*>(rec) + d.offset, d.length);
}

Value expression_value(const KeyExpression& expr, const TableFields& fields, const std::uint8_t* record) {
  ImageView view(fields, record);
  KeyValue kv = expr.value(view);
  switch (kv.type) {
    case 'N':
      return Value::of_number(kv.number);
    case 'D':
      return Value::of_date(kv.text);
    case 'L':
      return Value::of_logical(kv.logical);
    default:
      return Value::of_text(kv.text);
  }
}

std::shared_ptr<cdx::CdxFile> open_shared_cdx(const std::string& os_path, bool writable) {
  std::string key = os_path + (writable ? "|w" : "|r");
  auto& reg = cdx_registry();
  if (auto f = reg[key].lock()) return f;
  std::shared_ptr<cdx::CdxFile> f = cdx::CdxFile::open(os_path, writable);
  reg[key] = f;
  return f;
}

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

bool CdxOrder::on_append(Table&, std::uint32_t recno, const std::uint8_t* record) {
  try {
    cdx::Tag& t = tag();
    cdx::CdxFile::UpdateLock lock(*file_, t);
    t.insert(key_of(record), recno);
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
    t.remove(old_key, recno);
    t.insert(new_key, recno);
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

std::uint32_t CdxOrder::first(Table&) {
  try {
    cdx::Tag& t = tag();
    bool ok = descending() ? t.last(cursor_) : t.first(cursor_);
    return ok ? cursor_.recno : 0;
  } catch (const IndexError& e) {
    fail(file_->path(), "DBGOTOP", e);
    return 0;
  }
}

std::uint32_t CdxOrder::last(Table&) {
  try {
    cdx::Tag& t = tag();
    bool ok = descending() ? t.first(cursor_) : t.last(cursor_);
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
      if (!t.last(cursor_)) return true;
      out = cursor_.recno;
      cursor_gen_ = file_->generation();
      return true;
    }
    if (cursor_.recno != recno) {
      // The record has no entry: the place it would take decides the neighbours.
      if (up) {
        out = cursor_.recno;
        cursor_gen_ = file_->generation();
        return true;
      }
    }
  }
  bool ok = up ? t.next(cursor_) : t.prev(cursor_);
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
    bool have = t.seek(k, 0, c);
    if (longer) {
      while (have && prefix_equal(type, c.key, k)) have = t.next(c);
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
          while (t.next(n) && prefix_equal(type, n.key, k)) c = n;
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
          while (t.next(n) && prefix_equal(type, n.key, k)) c = n;
        }
      } else {
        // In falling order the next key is the greatest one below the search.
        bool any = have ? t.prev(c) : t.last(c);
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
      while (ok && record_hidden(table, c.recno)) ok = ahead ? t.next(c) : t.prev(c);
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

// ---------------------------------------------------------------- single-key files

NtxOrder::NtxOrder(Table& table, std::unique_ptr<ntx::NtxFile> file, const std::string& name)
    : file_(std::move(file)), name_(base::upper_ascii(name)) {
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
    file_->insert(key_of(record), recno);
    return true;
  } catch (const IndexError& e) {
    return fail(file_->path(), "DBAPPEND", e, gencode::kWrite);
  }
}

bool NtxOrder::on_replace(Table&, std::uint32_t recno, const std::uint8_t* before, const std::uint8_t* after) {
  try {
    std::string old_key = key_of(before), new_key = key_of(after);
    if (old_key == new_key) return true;
    file_->remove(old_key, recno);
    file_->insert(new_key, recno);
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

// ---------------------------------------------------------------- list operations

bool ORDLISTADD(Table& table, const std::string& index_path) {
  std::string os_path = os::native_path(index_path);
  bool had_focus = table.order_focus() != 0;
  int before = table.order_count();
  try {
    if (extension_of(index_path) == "ntx") {
      auto f = ntx::NtxFile::open(os_path, !table.is_read_only());
      table.add_order(std::make_unique<NtxOrder>(table, std::move(f), base_name(index_path)));
    } else {
      auto f = open_shared_cdx(os_path, !table.is_read_only());
      for (size_t i = 0; i < f->tag_count(); ++i)
        table.add_order(std::make_unique<CdxOrder>(table, f, f->tag(i).name()));
    }
  } catch (const IndexError& e) {
    return fail(index_path, "ORDLISTADD", e, gencode::kOpen);
  }
  if (!had_focus && table.order_count() > before) table.set_order_focus(before + 1);
  return true;
}

bool attach_structural_index(Table& table) {
  std::string path = base::without_extension(table.path());
  for (const char* ext : {".cdx", ".CDX"}) {
    std::string candidate = path + ext;
    if (file_exists(os::native_path(candidate))) return ORDLISTADD(table, candidate);
  }
  return true;
}

bool ORDCREATE(Table& table, const std::string& index_path, const std::string& tag, const std::string& expression,
               const BuildOptions& options) {
  std::string os_path = os::native_path(index_path);
  std::uint32_t saved = table.recno();
  try {
    TableFields fields(table);
    TableSource source(table, fields);
    if (extension_of(index_path) == "ntx") {
      auto f = build_ntx(os_path, source, expression, options);
      table.add_order(std::make_unique<NtxOrder>(table, std::move(f), base_name(index_path)));
      table.set_order_focus(table.order_count());
      table.go_to(saved);
      return true;
    }
    std::shared_ptr<cdx::CdxFile> f;
    if (file_exists(os_path)) {
      f = open_shared_cdx(os_path, true);
    } else {
      f = std::shared_ptr<cdx::CdxFile>(cdx::CdxFile::create(os_path));
      cdx_registry()[os_path + "|w"] = f;
    }
    build_cdx_tag(*f, source, tag, expression, options);
    // An order of this tag already in the list reads the new expression.
    for (int i = 1; i <= table.order_count(); ++i) {
      auto* o = dynamic_cast<CdxOrder*>(table.order(i));
      if (o && o->file() == f && base::iequals_ascii(o->name(), tag)) {
        table.clear_orders();
        break;
      }
    }
    int n = 0;
    for (int i = 1; i <= table.order_count(); ++i) {
      auto* o = dynamic_cast<CdxOrder*>(table.order(i));
      if (o && o->file() == f && base::iequals_ascii(o->name(), tag)) n = i;
    }
    if (n == 0) {
      table.add_order(std::make_unique<CdxOrder>(table, f, tag));
      n = table.order_count();
    }
    table.set_order_focus(n);
    table.go_to(saved);
    return true;
  } catch (const IndexError& e) {
    table.go_to(saved);
    return fail(index_path, "ORDCREATE", e, gencode::kCreate);
  }
}

// ---------------------------------------------------------------- relations

bool Relations::set(const std::string& parent, const std::string& child, const std::string& expression) {
  Table* p = areas_.find(parent);
  Table* c = areas_.find(child);
  if (!p || !c) {
    ErrorRecord r;
    r.genCode = gencode::kArgument;
    r.subSystem = "DBFDBE";
    r.description = "Nieznany alias w relacji: " + (p ? child : parent);
    r.operation = "DBSETRELATION";
    r.canDefault = true;
    raise_error(r);
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
  std::erase_if(relations_, [&](const Relation& r) { return base::iequals_ascii(r.parent, parent); });
  if (Table* p = areas_.find(parent)) p->set_move_listener(nullptr);
}



void Relations::sync(const std::string& parent) {
  for (auto& rel : relations_) {
    if (!base::iequals_ascii(rel.parent, parent)) continue;
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
