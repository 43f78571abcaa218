#include "platform/table/index_key.h"

#include "platform/table/collation.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace zuv::table {
namespace {

// Weights come from the table engine's collation, so keys and text comparisons agree;
// the inverse lets the key sort work on weights and give back the codes.
struct Collation {
  std::array<uint8_t, 256> weight{};
  std::array<uint8_t, 256> code{};
  Collation() {
    const CollationTable& w = polish_collation();
    for (int c = 0; c < 256; ++c) {
      weight[c] = w[c];
      code[w[c]] = uint8_t(c);
    }
  }
};

const Collation& collation() {
  static const Collation c;
  return c;
}

}  // namespace

const uint8_t* collation_weights() { return collation().weight.data(); }
const uint8_t* collation_codes() { return collation().code.data(); }

std::string numeric_key(double value) {
  if (value == 0) value = 0;  // -0 and 0 are one key
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  if (bits >> 63) bits = ~bits;
  else bits |= uint64_t(1) << 63;
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[i] = char(bits >> (56 - 8 * i));
  return key;
}

double numeric_from_key(std::string_view key) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8 && i < key.size(); ++i) bits = (bits << 8) | uint8_t(key[i]);
  if (bits >> 63) bits &= ~(uint64_t(1) << 63);
  else bits = ~bits;
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

std::string date_key(std::string_view yyyymmdd) { return numeric_key(double(julian_day(yyyymmdd))); }

std::string pad_key(KeyType type, std::string_view key, size_t length) {
  std::string k(key.substr(0, length));
  if (type != KeyType::Character) k.resize(length, '\0');
  return k;
}

}  // namespace zuv::table
