// Building one index tag or single-key index file from raw records. Kept apart from
// the table's own value types: the key-expression layer brings its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zuv::tables {

// A field as a key expression reads it: where its bytes lie in a record image.
struct RawField {
  char type = 'C';
  int length = 0;
  int decimals = 0;
  std::uint32_t offset = 0;  // from the start of the record (byte 0: deletion flag)
};

// The records an index is built from, as record images, and the fields an expression
// may name (alias empty: the indexed table; else another open table's current record).
class RawRecords {
 public:
  virtual ~RawRecords() = default;
  virtual std::uint32_t count() = 0;
  // The image of record recno of the indexed table (valid until the next call).
  virtual const std::uint8_t* load(std::uint32_t recno) = 0;
  virtual std::optional<RawField> field(std::string_view alias, std::string_view name) = 0;
  // The current record image of the table under alias (empty alias: the one loaded).
  virtual const std::uint8_t* current(std::string_view alias) = 0;
};

// Writes tag into the compound file at os_path (created when missing; a tag of the
// same name is replaced) or, when compound is false, the single-key file at os_path.
// Throws IndexError (platform/table/index_key.h) with the operator's text on failure.
void build_index(const std::string& os_path, bool compound, const std::string& tag, const std::string& expression,
                 RawRecords& records);

// Throws IndexError when expression does not compile against records' fields.
void check_expression(const std::string& expression, RawRecords& records);

}  // namespace zuv::tables
