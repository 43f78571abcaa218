// The first 32 bytes of a DBF file, read and written in one place for the table, the
// index layer's record reader, the checker and the table rebuild.
#pragma once

#include <cstdint>

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

}  // namespace zuv::table
