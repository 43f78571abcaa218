// Small text and number routines shared by the upgrade steps.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/number.h"
#include "platform/base/text.h"

namespace zuv::lib {

// The digits of text, in their order.
std::string ONLY_NUM(std::string_view text);
// Trimmed at both ends, every run of spaces reduced to one.
std::string USUN_SPACJE(std::string_view text);
// All items of a '|'-separated list, each trimmed.
std::vector<std::string> TOKEN(std::string_view text);
// The n-th item (1-based), untrimmed; empty when there are fewer items.
std::string TOKEN(std::string_view text, int n);
using base::ROUND2;
// Integer part, taking values within 1e-7 below an integer as that integer.
double C_INT(double number);

// The ground layer's text helpers, under the names the routines above have always used.
using base::lower_ascii;
using base::rtrim;
using base::trim;
using base::upper_ascii;

}  // namespace zuv::lib
