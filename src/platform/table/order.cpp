// Orders in general: the fields key expressions read, the open compound files, and
// the operations on a table's order list (ORDLISTADD, ORDCREATE). The orders
// themselves are in order_cdx.cpp and order_ntx.cpp, relations in order_relations.cpp.
#include "platform/os/file_handle.h"
#include "platform/table/order.h"

#include "platform/os/path.h"
#include "platform/table/order_internal.h"
#include "platform/table/work_areas.h"

namespace zuv::table {
using namespace detail;

std::map<std::string, std::weak_ptr<cdx::CdxFile>>& detail::cdx_registry() {
  static std::map<std::string, std::weak_ptr<cdx::CdxFile>> r;
  return r;
}

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
  } else if (!alias.empty() && !iequal(alias, base_name(table_.path()))) {
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

std::shared_ptr<cdx::CdxFile> open_shared_cdx(const std::string& os_path, bool writable, os::Share share) {
  std::string key = os_path + (writable ? "|w" : "|r");
  auto& reg = cdx_registry();
  if (auto f = reg[key].lock()) return f;
  std::shared_ptr<cdx::CdxFile> f = cdx::CdxFile::open(os_path, writable, share);
  reg[key] = f;
  return f;
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
      auto f = open_shared_cdx(os_path, !table.is_read_only(), share_of(table));
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
  std::string path = table.path();
  auto dot = path.find_last_of('.');
  auto slash = path.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
  for (const char* ext : {".cdx", ".CDX"}) {
    std::string candidate = path + ext;
    if (os::native_file_exists(os::native_path(candidate))) return ORDLISTADD(table, candidate);
  }
  return true;
}

namespace {

// The built tag joins the table's order list (an order of it already there reads the
// new expression) and takes the focus.
void list_built_tag(Table& table, const std::shared_ptr<cdx::CdxFile>& f, const std::string& tag) {
  for (int i = 1; i <= table.order_count(); ++i) {
    auto* o = dynamic_cast<CdxOrder*>(table.order(i));
    if (o && o->file() == f && iequal(o->name(), tag)) {
      table.clear_orders();
      break;
    }
  }
  int n = 0;
  for (int i = 1; i <= table.order_count(); ++i) {
    auto* o = dynamic_cast<CdxOrder*>(table.order(i));
    if (o && o->file() == f && iequal(o->name(), tag)) n = i;
  }
  if (n == 0) {
    table.add_order(std::make_unique<CdxOrder>(table, f, tag));
    n = table.order_count();
  }
  table.set_order_focus(n);
}

bool create_cdx_tags(Table& table, const std::string& index_path, const std::vector<TagSpec>& tags,
                     const BuildOptions& options) {
  std::string os_path = os::native_path(index_path);
  std::uint32_t saved = table.recno();
  try {
    TableFields fields(table);
    TableSource source(table, fields);
    std::shared_ptr<cdx::CdxFile> f;
    if (os::native_file_exists(os_path)) {
      f = open_shared_cdx(os_path, true, share_of(table));
      build_cdx_tags(*f, source, tags, options);
    } else {
      // A file made for these tags goes again when they cannot be built.
      f = std::shared_ptr<cdx::CdxFile>(cdx::CdxFile::create(os_path, share_of(table)));
      try {
        build_cdx_tags(*f, source, tags, options);
      } catch (...) {
        f.reset();
        remove_file_quietly(os_path);
        throw;
      }
      cdx_registry()[os_path + "|w"] = f;
    }
    for (const TagSpec& t : tags) list_built_tag(table, f, t.first);
    table.go_to(saved);
    return true;
  } catch (const IndexError& e) {
    table.go_to(saved);
    return fail(index_path, "ORDCREATE", e, gencode::kCreate);
  }
}

}  // namespace

bool ORDCREATE(Table& table, const std::string& index_path, const std::string& tag, const std::string& expression,
               const BuildOptions& options) {
  if (extension_of(index_path) != "ntx") return create_cdx_tags(table, index_path, {{tag, expression}}, options);
  std::string os_path = os::native_path(index_path);
  std::uint32_t saved = table.recno();
  try {
    TableFields fields(table);
    TableSource source(table, fields);
    auto f = build_ntx(os_path, source, expression, options);
    table.add_order(std::make_unique<NtxOrder>(table, std::move(f), base_name(index_path)));
    table.set_order_focus(table.order_count());
    table.go_to(saved);
    return true;
  } catch (const IndexError& e) {
    table.go_to(saved);
    return fail(index_path, "ORDCREATE", e, gencode::kCreate);
  }
}

bool ORDCREATE(Table& table, const std::string& index_path, const std::vector<TagSpec>& tags,
               const BuildOptions& options) {
  return create_cdx_tags(table, index_path, tags, options);
}

}  // namespace zuv::table
