// The fields an index's key expressions need, with the types the expressions imply:
// a name inside dtos() is a date, inside str()/strzero() a number of the width given
// there, and anything joined by "+" a text. A key that is one bare name is a date when
// the name is one of the suite's date fields. Tables that no step converts are written
// with exactly these fields (and a few of their own), so every tag can be built.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "layouts.h"

namespace zuv::sample {

using TagPairs = std::vector<std::pair<std::string, std::string>>;

namespace detail {

inline bool is_bare_date_name(std::string_view name) {
  static const char* const kDates[] = {"data", "data_o", "data_zak", "d_dok", "d_dost", "data_p1", "od_daty"};
  for (const char* d : kDates)
    if (name == d) return true;
  return false;
}

inline int text_width(std::string_view name) {
  if (name.find("rmc") != std::string_view::npos) return 6;
  if (name.substr(0, 3) == "rok") return 4;
  if (name == "mc" || name == "zmc" || name == "wmc" || name == "tm") return 2;
  if (name == "kas" || name == "kor" || name == "strona" || name == "pz" || name == "l_stan") return 1;
  if (name.substr(0, 3) == "nip") return 13;
  if (name.find("nazw") != std::string_view::npos || name == "miasto" || name == "skrot" || name == "p7" ||
      name == "p13")
    return 30;
  return 10;
}

inline void merge_field(Structure& s, FieldInfo f) {
  for (auto& g : s)
    if (g.name == f.name) {
      if (g.type == 'C' && f.type != 'C') g = f;  // a function's type beats the default
      return;
    }
  s.push_back(std::move(f));
}

}  // namespace detail

// Adds to s the fields that expression names.
inline void add_key_fields(Structure& s, std::string_view expression) {
  struct Call {
    std::string function;
    int argument = 0;
    std::vector<std::string> literals;
    std::string first_name;
  };
  std::vector<Call> calls;
  std::string lower = lib_lower(expression);
  std::size_t names_seen = 0;
  bool bare = true;
  for (std::size_t i = 0; i < lower.size();) {
    char c = lower[i];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t j = i;
      while (j < lower.size() && (std::isalnum(static_cast<unsigned char>(lower[j])) || lower[j] == '_')) ++j;
      std::string word = lower.substr(i, j - i);
      std::size_t k = j;
      while (k < lower.size() && lower[k] == ' ') ++k;
      if (k < lower.size() && lower[k] == '(') {
        calls.push_back({word, 0, {}, ""});
        bare = false;
        i = k + 1;
        continue;
      }
      ++names_seen;
      if (!calls.empty() && calls.back().argument == 0 && calls.back().first_name.empty()) {
        calls.back().first_name = word;
      } else {
        detail::merge_field(s, C(word, detail::text_width(word)));
      }
      i = j;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      std::size_t j = i;
      while (j < lower.size() && std::isdigit(static_cast<unsigned char>(lower[j]))) ++j;
      if (!calls.empty()) calls.back().literals.push_back(lower.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == ',' && !calls.empty()) ++calls.back().argument;
    if (c == '+') bare = false;
    if (c == ')' && !calls.empty()) {
      Call call = calls.back();
      calls.pop_back();
      if (!call.first_name.empty()) {
        const std::string& n = call.first_name;
        if (call.function == "dtos") {
          detail::merge_field(s, D(n));
        } else if (call.function == "str" || call.function == "strzero") {
          int width = call.literals.size() > 0 ? std::stoi(call.literals[0]) : 10;
          int decimals = call.literals.size() > 1 ? std::stoi(call.literals[1]) : 0;
          detail::merge_field(s, N(n, width, decimals));
        } else {
          int width = detail::text_width(n);
          if (call.function == "left" && !call.literals.empty()) width = std::max(width, std::stoi(call.literals[0]));
          detail::merge_field(s, C(n, width));
        }
      }
    }
    ++i;
  }
  // A key of one bare name: the only place a date is indexed without dtos().
  if (bare && names_seen == 1) {
    std::size_t a = lower.find_first_not_of(' '), b = lower.find_last_not_of(' ');
    std::string name = a == std::string::npos ? std::string() : lower.substr(a, b - a + 1);
    for (auto& f : s)
      if (f.name == name && f.type == 'C' && detail::is_bare_date_name(name)) f = D(name);
  }
}

inline Structure key_structure(const TagPairs& tags) {
  Structure s;
  for (const auto& [tag, key] : tags) add_key_fields(s, key);
  return s;
}

}  // namespace zuv::sample
