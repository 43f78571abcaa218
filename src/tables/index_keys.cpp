#include "tables/index_keys.h"

#include <vector>

#include "platform/os/file_handle.h"
#include "platform/table/cdx.h"
#include "platform/table/index_build.h"
#include "platform/table/index_sort.h"
#include "platform/table/keyexpr.h"
#include "platform/table/ntx.h"

namespace zuv::tables {
namespace {

using table::FieldRef;
using table::IndexError;

// Fields resolved for one expression: slot i reads slots_[i] from its record.
class Resolver : public table::FieldResolver, public table::RecordView {
 public:
  explicit Resolver(RawRecords& records) : records_(records) {}
  std::optional<FieldRef> resolve(std::string_view alias, std::string_view name) const override {
    auto f = records_.field(alias, name);
    if (!f) return std::nullopt;
    slots_.push_back({std::string(alias), *f});
    return FieldRef{static_cast<int>(slots_.size()) - 1, f->type, f->length, f->decimals};
  }
  std::string_view field_bytes(int slot) const override {
    const auto& s = slots_[static_cast<size_t>(slot)];
    const std::uint8_t* rec = s.alias.empty() ? current_ : records_.current(s.alias);
    if (!rec) return std::string_view(blank_.data(), std::min<size_t>(blank_.size(), size_t(s.field.length)));
    return std::string_view(reinterpret_cast<const char*>(rec) + s.field.offset, size_t(s.field.length));
  }
  void set_current(const std::uint8_t* r) { current_ = r; }

 private:
  struct Slot {
    std::string alias;
    RawField field;
  };
  RawRecords& records_;
  mutable std::vector<Slot> slots_;
  const std::uint8_t* current_ = nullptr;
  std::string blank_ = std::string(256, ' ');
};

}  // namespace

void build_index(const std::string& os_path, bool compound, const std::string& tag, const std::string& expression,
                 RawRecords& records) {
  Resolver resolver(records);
  table::KeyExpression expr = table::KeyExpression::compile(expression, resolver);
  table::KeySorter sorter(expr.key_type(), expr.key_length(), size_t(32) << 20, table::directory_of(os_path));
  std::uint32_t n = records.count();
  for (std::uint32_t r = 1; r <= n; ++r) {
    resolver.set_current(records.load(r));
    sorter.add(expr.key(resolver), r);
  }
  sorter.finish();
  if (compound) {
    std::unique_ptr<table::cdx::CdxFile> file;
    if (os::native_file_exists(os_path))
      file = table::cdx::CdxFile::open(os_path, true);
    else
      file = table::cdx::CdxFile::create(os_path);
    file->create_tag(tag, expression, expr.key_type(), expr.key_length(), false, false, sorter, n);
    file->flush();
  } else {
    table::ntx::NtxFile::create(os_path, expression, expr.key_type(), expr.key_length(), 0, false, sorter);
  }
}

void check_expression(const std::string& expression, RawRecords& records) {
  Resolver resolver(records);
  table::KeyExpression::compile(expression, resolver);
}

}  // namespace zuv::tables
