#include "platform/table/collation.h"

#include <algorithm>

namespace zuv::table {

std::string_view polish_alphabet_cp852() {
  // A Ą B C Ć D E Ę F G H I J K L Ł M N Ń O Ó P Q R S Ś T U V W X Y Z Ź Ż, then small.
  static constexpr unsigned char kAlphabet[] = {
      'A', 0xA4, 'B', 'C', 0x8F, 'D', 'E', 0xA8, 'F', 'G', 'H', 'I', 'J', 'K', 'L', 0x9D, 'M', 'N',
      0xE3, 'O', 0xE0, 'P', 'Q', 'R', 'S', 0x97, 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 0x8D, 0xBD,
      'a', 0xA5, 'b', 'c', 0x86, 'd', 'e', 0xA9, 'f', 'g', 'h', 'i', 'j', 'k', 'l', 0x88, 'm', 'n',
      0xE4, 'o', 0xA2, 'p', 'q', 'r', 's', 0x98, 't', 'u', 'v', 'w', 'x', 'y', 'z', 0xAB, 0xBE,
  };
  return {reinterpret_cast<const char*>(kAlphabet), sizeof kAlphabet};
}

CollationTable build_collation(std::string_view alphabet) {
  CollationTable weight{};
  int highest = 0;
  for (int code = 65; code <= 254; ++code) {
    for (std::size_t n = 0; n < alphabet.size(); ++n) {
      if (static_cast<unsigned char>(alphabet[n]) == code) {
        weight[code] = static_cast<std::uint8_t>(std::min<std::size_t>(64 + n + 1, 255));
      }
    }
    highest = std::max<int>(highest, weight[code]);
  }
  int counter = 0;
  for (int code = 0; code <= 255; ++code) {
    if (weight[code] != 0) continue;
    weight[code] = static_cast<std::uint8_t>(counter);
    ++counter;
    if (counter == 65) counter = highest + 1;
  }
  return weight;
}

const CollationTable& polish_collation() {
  static const CollationTable table = build_collation(polish_alphabet_cp852());
  return table;
}

int collate_compare(std::string_view a, std::string_view b) {
  const CollationTable& w = polish_collation();
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    int wa = w[static_cast<unsigned char>(a[i])];
    int wb = w[static_cast<unsigned char>(b[i])];
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void collate_weights(std::string_view text, std::uint8_t* out) {
  const CollationTable& w = polish_collation();
  for (unsigned char c : text) *out++ = w[c];
}

bool texts_equal(std::string_view left, std::string_view right, bool exact) {
  if (!exact) return left.substr(0, right.size()) == right && left.size() >= right.size();
  auto trimmed = [](std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
  };
  return trimmed(left) == trimmed(right);
}

}  // namespace zuv::table
