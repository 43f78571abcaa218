// Field descriptions: the structure array callers exchange ({name, type, length,
// decimals}) and the engine's full descriptor with the field's place in a record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zuv::table {

// One row of the structure array. Types: 'C' text, 'N' number, 'D' date, 'L' logical,
// 'M' memo; tables of other writers may also show 'F' (number), 'I', 'B', 'Y', 'T',
// 'G', 'P', 'V' and '0' (the hidden null-flags field of the later variants).
struct FieldInfo {
  std::string name;
  char type = 'C';
  int length = 0;
  int decimals = 0;
  bool operator==(const FieldInfo&) const = default;
};
using Structure = std::vector<FieldInfo>;

struct FieldDescriptor {
  std::string name;        // upper case, as stored
  char type = 'C';
  std::uint32_t offset = 0;  // from the start of the record; byte 0 is the deletion flag
  std::uint16_t length = 0;
  std::uint8_t decimals = 0;
  std::uint8_t flags = 0;  // field flags of the later variants (0x01 system, 0x02 nullable)
  bool is_memo() const { return type == 'M' || type == 'G' || type == 'P'; }
  bool is_system() const { return (flags & 0x01) != 0 || type == '0'; }
  // Stored as a binary number (a four-byte memo pointer among them): blank is zeros,
  // since spaces would read as a number.
  bool blank_is_zero() const {
    return type == 'I' || type == 'B' || type == 'Y' || type == 'T' || (is_memo() && length == 4);
  }
  // Whether a value of this field moves into other as its bytes: both plain text,
  // number, date or logical fields of one type, width and scale, neither nullable (a
  // null lives in another field). Reading and writing such a value again gives the
  // same bytes for anything the engine writes itself.
  bool carries_bytes_to(const FieldDescriptor& other) const {
    const bool plain = type == 'C' || type == 'N' || type == 'F' || (type == 'D' && length == 8) ||
                       (type == 'L' && length == 1);
    return plain && flags == 0 && other.flags == 0 && other.type == type && other.length == length &&
           other.decimals == decimals;
  }
};

}  // namespace zuv::table
