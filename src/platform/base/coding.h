// Fixed-width integers in file bytes: little-endian (DBF, CDX, NTX, DBT, ZIP, shell
// links, the registry file) and big-endian (FPT headers and block headers). The one
// place these are spelled out.
#pragma once

#include <cstdint>

namespace zuv::base {

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
inline std::uint64_t le64(const std::uint8_t* p) { return std::uint64_t(le32(p)) | (std::uint64_t(le32(p + 4)) << 32); }
inline std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

inline void put_le16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_le32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_le64(std::uint8_t* p, std::uint64_t v) {
  put_le32(p, static_cast<std::uint32_t>(v));
  put_le32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void put_be32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// Appended to a growing record: a std::string or a byte vector.
template <class Buffer>
void append_le16(Buffer& b, std::uint32_t v) {
  using Byte = typename Buffer::value_type;
  b.push_back(static_cast<Byte>(v & 0xFF));
  b.push_back(static_cast<Byte>((v >> 8) & 0xFF));
}
template <class Buffer>
void append_le32(Buffer& b, std::uint32_t v) {
  append_le16(b, v & 0xFFFF);
  append_le16(b, v >> 16);
}

}  // namespace zuv::base
