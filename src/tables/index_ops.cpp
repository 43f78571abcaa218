// The order operations over the index engine. The engine's orders read the fields of
// their own table; a key that reads another work area ("test->a") is built here and
// kept by an order that rebuilds its file whenever its table changed (on commit,
// close, pack and zap), which is what such a key can honestly promise.
#include "tables/index_ops.h"

#include <algorithm>

#include "lib/text.h"
#include "platform/os/path.h"
#include "platform/table/area_relations.h"
#include "platform/table/index_key.h"
#include "platform/table/order.h"
#include "platform/error/error.h"
#include "tables/index_keys.h"

namespace zuv::tables {
namespace {

bool raise_index(const std::string& description, const std::string& file, const char* operation) {
  ErrorRecord r = error_record(gencode::kCreate, "CDXDBE", description, file, operation);
  raise_error(r);
  return false;
}

// A table's records as images for the key builder.
class TableRecords : public RawRecords {
 public:
  TableRecords(table::Table& t, table::WorkAreas* areas) : t_(t), areas_(areas) {}
  std::uint32_t count() override { return t_.record_count(); }
  const std::uint8_t* load(std::uint32_t recno) override {
    t_.go_to(recno);
    return t_.record_buffer();
  }
  std::optional<RawField> field(std::string_view alias, std::string_view name) override {
    table::Table* t = alias.empty() ? &t_ : (areas_ ? areas_->find(std::string(alias)) : nullptr);
    if (!t) return std::nullopt;
    int i = t->field_index(name);
    if (i < 0) return std::nullopt;
    const auto& f = t->fields()[static_cast<size_t>(i)];
    return RawField{f.type, f.length, f.decimals, f.offset};
  }
  const std::uint8_t* current(std::string_view alias) override {
    table::Table* t = alias.empty() ? &t_ : (areas_ ? areas_->find(std::string(alias)) : nullptr);
    return t ? t->record_buffer() : nullptr;
  }

 private:
  table::Table& t_;
  table::WorkAreas* areas_;
};

bool is_compound(const std::string& file) {
  std::string f = lib::lower_ascii(file);
  return f.size() >= 4 && f.compare(f.size() - 4, 4, ".cdx") == 0;
}

bool build(table::Table& t, table::WorkAreas* areas, const std::string& file, const std::string& tag,
           const std::string& expression) {
  std::uint32_t at = t.recno();
  try {
    TableRecords records(t, areas);
    build_index(os::native_path(file), is_compound(file), tag, expression, records);
  } catch (const table::IndexError& e) {
    t.go_to(at);
    return raise_index(e.what(), file, "ORDCREATE");
  }
  t.go_to(at);
  return true;
}

// An order whose file is rebuilt from the table whenever the table changed. Moves in
// record order.
class BuiltOrder : public table::Order {
 public:
  BuiltOrder(table::Table& t, table::WorkAreas* areas, std::string file, std::string tag, std::string expression)
      : t_(t), areas_(areas), file_(std::move(file)), tag_(std::move(tag)), expression_(std::move(expression)) {}
  std::string name() const override { return tag_; }
  bool on_append(table::Table&, std::uint32_t, const std::uint8_t*) override { return stale(); }
  bool on_replace(table::Table&, std::uint32_t, const std::uint8_t*, const std::uint8_t*) override { return stale(); }
  bool on_remove(table::Table&, std::uint32_t, const std::uint8_t*) override { return stale(); }
  bool rebuild(table::Table& t) override {
    stale_ = false;
    return build(t, areas_, file_, tag_, expression_);
  }
  bool flush() override { return stale_ ? rebuild(t_) : true; }
  std::uint32_t first(table::Table& t) override { return t.record_count() ? 1 : 0; }
  std::uint32_t last(table::Table& t) override { return t.record_count(); }
  std::uint32_t next(table::Table& t, std::uint32_t recno) override {
    return recno < t.record_count() ? recno + 1 : 0;
  }
  std::uint32_t prev(table::Table&, std::uint32_t recno) override { return recno > 1 ? recno - 1 : 0; }
  std::uint32_t seek(table::Table&, const table::Value&, bool, bool, bool& found) override {
    found = false;
    return 0;
  }
 private:
  bool stale() {
    stale_ = true;
    return true;
  }
  table::Table& t_;
  table::WorkAreas* areas_;  // for keys that read other tables ("test->a")
  std::string file_, tag_, expression_;
  bool stale_ = false;
};

bool reads_other_areas(const std::string& expression) { return expression.find("->") != std::string::npos; }

}  // namespace

bool order_list_add(table::Table& t, const std::string& index_file) { return table::ORDLISTADD(t, index_file); }

bool order_set_focus(table::Table& t, const OrderArg& order) {
  if (const int* n = std::get_if<int>(&order)) return t.set_order_focus(*n);
  return t.set_order_focus(std::get<std::string>(order));
}

bool order_create(table::Table& t, const std::string& index_file, const std::string& tag,
                  const std::string& expression) {
  return order_create(t, nullptr, index_file, tag, expression);
}

bool order_create(table::Table& t, table::WorkAreas* areas, const std::string& index_file, const std::string& tag,
                  const std::string& expression, bool sync_tag) {
  if (!reads_other_areas(expression) || !areas) {
    table::BuildOptions options;
    options.sync_each_tag = sync_tag;
    return table::ORDCREATE(t, index_file, tag, expression, options);
  }
  if (!build(t, areas, index_file, tag, expression)) return false;
  t.add_order(std::make_unique<BuiltOrder>(t, areas, index_file, tag, expression));
  t.set_order_focus(t.order_count());
  t.go_top();
  return true;
}

bool order_create_tags(table::Table& t, const std::string& index_file,
                       const std::vector<std::pair<std::string, std::string>>& tags, bool sync_tag) {
  for (const auto& tag : tags)
    if (reads_other_areas(tag.second)) return false;
  table::BuildOptions options;
  options.sync_each_tag = sync_tag;
  return table::ORDCREATE(t, index_file, tags, options);
}

bool order_list_rebuild(table::Table& t) { return t.rebuild_orders(); }

bool set_relation(table::WorkAreas& areas, const std::string& parent, const std::string& child,
                  const std::string& expression) {
  return areas.relations().set(parent, child, expression);
}

void sync_relations(table::WorkAreas& areas, const std::string& parent) { areas.relations().sync(parent); }

void clear_relations(table::WorkAreas& areas, const std::string& parent) { areas.relations().clear(parent); }

}  // namespace zuv::tables
