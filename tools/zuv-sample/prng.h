// The sample's random numbers: SplitMix64, written out here so that a seed gives the
// same database with every compiler and standard library (the library's distributions
// are free to differ between implementations).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zuv::sample {

class Prng {
 public:
  explicit Prng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // lo..hi inclusive. The slight bias of the modulo does not matter for sample data.
  long range(long lo, long hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<long>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool chance(int percent) { return range(0, 99) < percent; }
  // An amount in hundredths between lo and hi (both in whole units).
  double amount(long lo, long hi) { return static_cast<double>(range(lo * 100, hi * 100)) / 100.0; }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[static_cast<std::size_t>(range(0, static_cast<long>(N) - 1))];
  }
  std::string digits(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + range(0, 9));
    return s;
  }

  // A generator of its own for one firm or one table, so that adding records to one
  // table does not shift the data of every table written after it.
  Prng fork(std::uint64_t salt) const { return Prng(state_ ^ (salt * 0xD1B54A32D192ED03ull + 0x8CB92BA72F3D8DD7ull)); }
  static std::uint64_t salt_of(std::string_view name) {
    std::uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
    for (unsigned char c : name) h = (h ^ c) * 0x100000001B3ull;
    return h;
  }

 private:
  std::uint64_t state_;
};

}  // namespace zuv::sample
