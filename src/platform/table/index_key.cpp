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

long julian_day(std::string_view s) {
  if (s.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (s[i] < '0' || s[i] > '9') return 0;
    v[i] = s[i] - '0';
  }
  long y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int m = v[4] * 10 + v[5], d = v[6] * 10 + v[7];
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
  long a = (14 - m) / 12;
  long yy = y + 4800 - a, mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

std::string date_from_julian(long jd) {
  if (jd <= 0) return std::string(8, ' ');
  long a = jd + 32044, b = (4 * a + 3) / 146097, c = a - 146097 * b / 4;
  long d = (4 * c + 3) / 1461, e = c - 1461 * d / 4, m = (5 * e + 2) / 153;
  long day = e - (153 * m + 2) / 5 + 1, month = m + 3 - 12 * (m / 10);
  long year = 100 * b + d - 4800 + m / 10;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04ld%02ld%02ld", year % 10000, month, day);
  return buf;
}

std::string date_key(std::string_view yyyymmdd) { return numeric_key(double(julian_day(yyyymmdd))); }

std::string pad_key(KeyType type, std::string_view key, size_t length) {
  std::string k(key.substr(0, length));
  if (type != KeyType::Character) k.resize(length, '\0');
  return k;
}

}  // namespace zuv::table
