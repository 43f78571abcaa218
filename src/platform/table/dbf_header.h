// The first 32 bytes of a DBF file, read and written in one place for the table, the
// index layer's record reader, the checker and the table rebuild.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/table/field.h"

namespace zuv::table {

struct DbfHeader {
  static constexpr std::uint32_t kSize = 32;
  std::uint8_t version = 0x03;
  std::uint8_t year = 0;  // of the last update, years since 1900
  std::uint8_t month = 1;
  std::uint8_t day = 1;
  std::uint32_t count = 0;
  std::uint16_t header_length = 0;
  std::uint16_t record_length = 0;
  std::uint8_t flags = 0;  // byte 28: 0x01 a structural compound index belongs to the table

  static DbfHeader decode(const std::uint8_t* bytes);
  // Writes the fields above into bytes, leaving the reserved bytes as they are.
  void encode(std::uint8_t* bytes) const;
  // Today's date as the date of last update.
  void stamp_today();
};

// The versions the engine reads: dBase III (with and without memo), FoxPro 2 and the
// later variants.
bool dbf_version_known(std::uint8_t version);

// The field descriptors of a header (its first header_length bytes), each with its
// offset in the record: the rules every reader of the engine and the checker apply
// before trusting a record's bytes. Answers "" or what is wrong, in Polish.
std::string decode_dbf_fields(const std::uint8_t* head, std::size_t header_length, std::uint8_t version,
                              std::vector<FieldDescriptor>& fields);

}  // namespace zuv::table
