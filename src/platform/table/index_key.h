// Index keys: their types, their byte forms, and the order in which they are compared.
// Character keys are code page 852 bytes ordered by the Polish collation weights;
// numeric and date keys are 8-byte doubles turned into a form where byte order is
// numeric order, so every non-character key compares with memcmp.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/base/dates.h"

namespace zuv::table {

enum class KeyType : char { Character = 'C', Numeric = 'N', Date = 'D', Logical = 'L' };

// Failures of index files and key expressions; the text is the operator's (Polish).
// os_code: the Windows-numbered code of a failed file operation (0: not one).
class IndexError : public std::runtime_error {
 public:
  explicit IndexError(const std::string& what, int os_code = 0) : std::runtime_error(what), os_code_(os_code) {}
  int os_code() const { return os_code_; }

 private:
  int os_code_ = 0;
};

// The collation: one weight per CP852 code, a permutation of 0-255.
const uint8_t* collation_weights();
// Inverse of the permutation: the code that carries a weight.
const uint8_t* collation_codes();

// Where n bytes of a and b first differ (n when they do not): eight at a time, as
// keys in order share most of their bytes.
inline size_t first_difference(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Compares n bytes of two keys of the type: <0, 0, >0.
inline int compare_key_bytes(KeyType type, const uint8_t* a, const uint8_t* b, size_t n) {
  if (type != KeyType::Character) return std::memcmp(a, b, n);
  // Equal bytes weigh the same: only the first that differs is looked up.
  const size_t i = first_difference(a, b, n);
  if (i == n) return 0;
  const uint8_t* w = collation_weights();
  return int(w[a[i]]) - int(w[b[i]]);
}
inline int compare_keys(KeyType type, std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  int c = compare_key_bytes(type, reinterpret_cast<const uint8_t*>(a.data()),
                            reinterpret_cast<const uint8_t*>(b.data()), n);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The byte that pads a key shorter than its length (and that leaf pages strip).
inline char key_pad(KeyType type) { return type == KeyType::Character ? ' ' : '\0'; }

// 8-byte sortable forms.
std::string numeric_key(double value);
double numeric_from_key(std::string_view key);
// Date keys are Julian day numbers: the ground layer's one conversion.
using base::date_from_julian;
using base::julian_day;
std::string date_key(std::string_view yyyymmdd);

// Turns a caller's search value into key bytes: character keys are used as given
// (a prefix when shorter), others must already be in key form.
std::string pad_key(KeyType type, std::string_view key, size_t length);

}  // namespace zuv::table
