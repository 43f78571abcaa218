// Small text and number routines shared by the upgrade steps.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zuv::lib {

// The digits of text, in their order.
std::string ONLY_NUM(std::string_view text);
// Trimmed at both ends, every run of spaces reduced to one.
std::string USUN_SPACJE(std::string_view text);
// All items of a '|'-separated list, each trimmed.
std::vector<std::string> TOKEN(std::string_view text);
// The n-th item (1-based), untrimmed; empty when there are fewer items.
std::string TOKEN(std::string_view text, int n);
// Half away from zero on the decimal value as printed (15 significant digits), after
// a 1e-12 nudge.
double ROUND2(double number, int decimals = 2);
// Integer part, taking values within 1e-7 below an integer as that integer.
double C_INT(double number);

// Text helpers of the runtime the routines above lean on.
std::string trim(std::string_view s);
std::string rtrim(std::string_view s);
std::string upper_ascii(std::string_view s);
std::string lower_ascii(std::string_view s);

}  // namespace zuv::lib
