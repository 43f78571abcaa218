// What the files of the orders share: small helpers, the record views a key
// expression reads, the table as a source of records for a build, and the one
// registry of open compound files. Not for use outside the order files.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>

#include "platform/error/error.h"
#include "platform/table/last_error.h"
#include "platform/table/order.h"

namespace zuv::table::detail {

inline bool iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

inline std::string upper_ascii(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

inline std::string extension_of(const std::string& path) {
  auto dot = path.find_last_of('.');
  auto slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string e = path.substr(dot + 1);
  for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return e;
}

inline std::string base_name(const std::string& path) {
  auto slash = path.find_last_of("/\\");
  std::string b = slash == std::string::npos ? path : path.substr(slash + 1);
  auto dot = b.find_last_of('.');
  if (dot != std::string::npos) b.resize(dot);
  return b;
}

inline bool fail(const std::string& file, const char* operation, const std::exception& e, int gen = gencode::kCorrupt) {
  ErrorRecord r = error_record(gen, "CDXDBE", e.what(), file, operation);
  if (auto* ie = dynamic_cast<const IndexError*>(&e)) r.osCode = ie->os_code();
  raise_engine_error(r);
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
inline bool search_key(KeyType type, int key_length, const Value& v, std::string& out, bool& longer) {
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

inline bool prefix_equal(KeyType type, const std::string& stored, const std::string& search) {
  if (search.size() > stored.size()) return false;
  return compare_keys(type, std::string_view(stored).substr(0, search.size()), search) == 0;
}

// Whether a record is marked deleted; reads it through the table (Table::seek
// positions the table again afterwards).
inline bool record_hidden(Table& table, std::uint32_t recno) {
  if (!table.go_to(recno)) return false;
  return table.deleted();
}

// An index opened with its table shares the table's mode: an exclusive table's index
// is exclusive too.
inline os::Share share_of(const Table& table) { return table.is_shared() ? os::Share::Shared : os::Share::Exclusive; }

// Every compound file open in this process, by OS path and mode.
std::map<std::string, std::weak_ptr<cdx::CdxFile>>& cdx_registry();

}  // namespace zuv::table::detail
