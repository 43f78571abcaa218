#include "lib/text.h"

#include <cmath>

namespace zuv::lib {

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

double C_INT(double number) {
  double whole = std::trunc(number);
  double rounded = number >= 0 ? std::floor(number + 0.5) : -std::floor(-number + 0.5);
  if (rounded == whole) return whole;
  return number > 0 ? std::trunc(number + 1e-7) : std::trunc(number - 1e-7);
}

}  // namespace zuv::lib
