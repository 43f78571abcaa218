// The Polish collation: one weight per code page 852 character, a permutation of
// 0-255. Every capital sorts before every small letter, each Polish letter directly
// after its base letter, and every other code keeps its relative code order (codes
// 0-64 keep their own value; the rest come after the letters).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zuv::table {

using CollationTable = std::array<std::uint8_t, 256>;

// The alphabet the weights are built from, in code page 852: the 35 capitals in
// Polish order, then the 35 small letters.
std::string_view polish_alphabet_cp852();

// Builds a table from an alphabet (code page 852 bytes): a letter at 1-based position
// n weighs 64 + n; every other code, in ascending order, takes the next free weight of
// a counter that starts at 0 and jumps from 65 to one above the highest letter weight.
CollationTable build_collation(std::string_view alphabet_cp852);

// The table in force for every comparison of table texts (built once).
const CollationTable& polish_collation();

// Three-way comparison of two code page 852 texts under the collation: the first
// differing weight decides; a text that is a prefix of the other sorts first.
int collate_compare(std::string_view a, std::string_view b);

// Turns a text into its weights, so that plain byte comparison (memcmp) of two
// converted texts orders them exactly as collate_compare does.
void collate_weights(std::string_view text, std::uint8_t* out);

// Equality of texts as the run-time settings define it. exact on: equal after
// trailing blanks are ignored ("ABC" differs from "AB"); exact off: true when the
// right-hand text is a prefix of the left one (an empty right-hand text matches).
bool texts_equal(std::string_view left, std::string_view right, bool exact);

}  // namespace zuv::table
