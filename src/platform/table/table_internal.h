// What the files of the table engine's Table share: the record window, the move
// notice, the number parser of the field codec (memo pointers are numbers too) and a
// few constants. Not for use outside Table's own files.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/coding.h"
#include "platform/table/table.h"

namespace zuv::table::detail {

constexpr std::size_t kWindowBytes = 64 * 1024;
// What a read that does not continue the window fetches.
constexpr std::size_t kJumpReadBytes = 4 * 1024;
// Unchanged records between two changed ones are written with them when they take less
// than this: the disk writes whole pages, and a write of its own costs more.
constexpr std::size_t kWriteGapBytes = 4 * 1024;
constexpr std::uint32_t kMaxRecords = 0x7FFFFFF0u;  // below the lock area

using base::le16;
using base::le32;
using base::put_le16;
using base::put_le32;

// Numbers stand right-aligned behind blanks: the blanks are passed over eight at a time
// where the byte order allows it.
inline const std::uint8_t* skip_blanks(const std::uint8_t* p, const std::uint8_t* end) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      std::uint64_t other = word ^ 0x2020202020202020ull;
      if (other) return p + std::countr_zero(other) / 8;
      p += 8;
    }
  }
  while (p < end && *p == ' ') ++p;
  return p;
}

// Accumulates digits as an integer so values of up to 18 digits convert exactly
// (one division by an exact power of ten, correctly rounded).
[[gnu::always_inline]] inline double parse_number(const std::uint8_t* p, std::size_t n) {
  static const double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
                                  1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  const std::uint8_t* end = p + n;
  p = skip_blanks(p, end);
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  int scale = 0;
  double value;
  if (end - p <= 18) {
    // Short fields, the usual case: no digit count can overflow.
    for (; p < end; ++p) {
      unsigned d = static_cast<unsigned>(*p) - '0';
      if (d < 10) {
        mantissa = mantissa * 10 + d;
      } else if (*p == '.') {
        for (++p; p < end; ++p) {
          d = static_cast<unsigned>(*p) - '0';
          if (d >= 10) break;
          mantissa = mantissa * 10 + d;
          ++scale;
        }
        break;
      } else {
        break;
      }
    }
    value = static_cast<double>(mantissa);
  } else {
    int digits = 0, extra = 0;
    bool point = false;
    for (; p < end; ++p) {
      unsigned d = static_cast<unsigned>(*p) - '0';
      if (d < 10) {
        if (digits < 18) {
          mantissa = mantissa * 10 + d;
          if (mantissa) ++digits;
          if (point) ++scale;
        } else if (!point) {
          ++extra;  // integer digits past 18 still count magnitude
        }
      } else if (*p == '.' && !point) {
        point = true;
      } else {
        break;
      }
    }
    value = static_cast<double>(mantissa);
    if (extra > 0) value *= std::pow(10.0, extra);
  }
  if (scale > 0) value /= kPow10[std::min(scale, 18)];
  return negative ? -value : value;
}


}  // namespace zuv::table::detail

namespace zuv::table {

struct Table::Window {
  std::vector<std::uint8_t> data;
  std::uint32_t first = 0;  // record number of the first record held
  std::uint32_t count = 0;
  std::uint32_t capacity = 1;
  std::uint32_t dirty_lo = 0, dirty_hi = 0;  // record numbers, inclusive; lo 0 = clean
  // Which records between them changed: a walk that changes a few records here and
  // there writes those, not the unchanged ones between (by slot, from first).
  std::vector<std::uint8_t> changed;
  bool contains(std::uint32_t r) const { return count && r >= first && r < first + count; }
  std::uint8_t* at(std::uint32_t r, std::uint32_t len) { return data.data() + std::size_t(r - first) * len; }
  void mark(std::uint32_t r) {
    if (!dirty_lo || r < dirty_lo) dirty_lo = r;
    if (r > dirty_hi) dirty_hi = r;
    if (changed.size() < capacity) changed.resize(capacity);
    changed[r - first] = 1;
  }
  bool marked(std::uint32_t r) const { return changed[r - first] != 0; }
  // Whether changed records reach past the records the header counts (appended ones).
  bool holds_appends(std::uint32_t counted) const { return dirty_lo && dirty_hi > counted; }
  void clean() {
    if (dirty_lo) std::fill(changed.begin() + (dirty_lo - first), changed.begin() + (dirty_hi - first) + 1, 0);
    dirty_lo = dirty_hi = 0;
  }
};


// Tells the move listener once a navigation call is over (not while an error unwinds).
struct Table::MoveNotice {
  Table& table;
  ~MoveNotice() noexcept(false) {
    if (table.move_listener_ && std::uncaught_exceptions() == 0) table.move_listener_();
  }
};

}  // namespace zuv::table
