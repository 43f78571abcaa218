#include "lib/text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zuv::lib {

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string rtrim(std::string_view s) {
  size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string() : std::string(s.substr(0, e + 1));
}

std::string upper_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string ONLY_NUM(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c >= '0' && c <= '9') out += c;
  return out;
}

std::string USUN_SPACJE(std::string_view text) {
  std::string t = trim(text), out;
  for (char c : t)
    if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
  return out;
}

namespace {
// Trailing spaces off, and every item closed by '|'.
std::string closed_list(std::string_view text) {
  std::string t = rtrim(text);
  if (!t.empty() && t.back() != '|') t += '|';
  return t;
}
}  // namespace

std::vector<std::string> TOKEN(std::string_view text) {
  std::string t = closed_list(text);
  std::vector<std::string> items;
  size_t start = 0, bar;
  while ((bar = t.find('|', start)) != std::string::npos) {
    items.push_back(trim(std::string_view(t).substr(start, bar - start)));
    start = bar + 1;
  }
  return items;
}

std::string TOKEN(std::string_view text, int n) {
  std::string t = closed_list(text);
  std::string item;
  size_t start = 0;
  for (int i = 0; i < n; ++i) {
    size_t bar = t.find('|', start);
    if (bar == std::string::npos) return {};
    item = t.substr(start, bar - start);
    start = bar + 1;
  }
  return item;
}

namespace {
// Rounds a positive number half away from zero on its decimal value as the suite
// prints it (15 significant digits), not on its binary value: 16384.045 is held as
// 16384.04499999..., and rounding that would lose the half grosz.
double round_half_away(double v, int decimals) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", v);  // d.dddddddddddddde[+-]xx
  std::string digits;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  const int exponent = std::atoi(p + 1);
  // Digits kept: those down to the place of 10^-decimals.
  const int keep = exponent + 1 + decimals;
  if (keep >= static_cast<int>(digits.size())) return std::strtod(buf, nullptr);
  if (keep < 0) return 0;
  long long kept = keep == 0 ? 0 : std::stoll(digits.substr(0, keep));
  if (digits[keep] >= '5') ++kept;
  // The decimal result read back gives the double nearest to it.
  const std::string result = std::to_string(kept) + "e" + std::to_string(exponent + 1 - keep);
  return std::strtod(result.c_str(), nullptr);
}
}  // namespace

double ROUND2(double number, int decimals) {
  if (number > 0) return round_half_away(number + 1e-12, decimals);
  if (number < 0) return -round_half_away(-number + 1e-12, decimals);
  return 0;
}

double C_INT(double number) {
  double whole = std::trunc(number);
  double rounded = number >= 0 ? std::floor(number + 0.5) : -std::floor(-number + 0.5);
  if (rounded == whole) return whole;
  return number > 0 ? std::trunc(number + 1e-7) : std::trunc(number - 1e-7);
}

}  // namespace zuv::lib
