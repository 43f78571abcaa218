// What the checker's files share: reading files whole or in blocks, the key records of
// a tag compared with those the table requires, and the walk over tables. Not for use
// outside the checker.
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/base/coding.h"
#include "platform/os/file_handle.h"
#include "platform/table/index_check.h"
#include "platform/table/index_dbf.h"
#include "platform/table/index_file.h"
#include "platform/table/index_key.h"
#include "platform/table/keyexpr.h"

namespace zuv::table::detail {

namespace fs = std::filesystem;

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kMaxFaultsPerTag = 10;

inline std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
inline std::string extension(const std::string& path) {
  auto dot = path.find_last_of('.');
  auto slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return lower(path.substr(dot + 1));
}
inline std::string stem_path(const std::string& path) {
  auto dot = path.find_last_of('.');
  auto slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}
// The sibling file with another extension, found in any letter case.
inline std::string sibling(const std::string& path, const std::string& ext) {
  std::string base = stem_path(path);
  for (std::string e : {ext, lower(ext), std::string()}) {
    if (e.empty()) {
      e = ext;
      for (char& c : e) c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    std::string p = base + "." + e;
    if (os::native_file_exists(p)) return p;
  }
  return "";
}

inline std::vector<uint8_t> slurp(const std::string& path) {
  BlockFile f;
  f.open(path, false);
  std::vector<uint8_t> d(size_t(f.size()));
  if (!d.empty()) f.read(0, d.data(), d.size());
  return d;
}

using base::be32;
using base::le16;
using base::le32;

struct KeyRec {
  std::string key;
  uint32_t recno;
};

// Expected keys of a table for one expression, in index order.
inline bool expected_keys(DbfRecords& dbf, const std::string& expression, int key_length, bool text_numbers,
                   std::vector<KeyRec>& out, KeyType& type, std::string& error) {
  try {
    KeyExpression e = KeyExpression::compile(expression, dbf);
    type = e.key_type();
    int len = text_numbers ? key_length : e.key_length();
    if (len != key_length) {
      error = "długość klucza " + std::to_string(key_length) + " nie zgadza się z wyrażeniem (" + std::to_string(len) + ")";
      return false;
    }
    out.clear();
    out.reserve(dbf.record_count());
    for (uint32_t r = 1; r <= dbf.record_count(); ++r) {
      dbf.read(r);
      out.push_back({e.key(dbf.view()), r});
    }
  } catch (const IndexError& ex) {
    error = ex.what();
    return false;
  }
  std::stable_sort(out.begin(), out.end(), [&](const KeyRec& a, const KeyRec& b) {
    int c = compare_keys(type, a.key, b.key);
    return c != 0 ? c < 0 : a.recno < b.recno;
  });
  return true;
}

inline void compare_counted(const std::vector<KeyRec>& have, const std::vector<KeyRec>& want, bool unique,
                     const std::function<void(const std::string&)>& fault);

inline void compare_content(const std::vector<KeyRec>& have, const std::vector<KeyRec>& want, bool unique,
                     const std::function<void(const std::string&)>& fault) {
  // Keys of records past the header's count: a writer stopped between the keys and
  // the count. Readers pass over them; a rebuild of the index removes them.
  uint32_t counted = 0;
  for (const auto& k : want) counted = std::max(counted, k.recno);
  std::vector<KeyRec> within;
  within.reserve(have.size());
  for (const auto& k : have)
    if (k.recno <= counted) within.push_back(k);
  if (size_t beyond = have.size() - within.size())
    fault(std::to_string(beyond) + " kluczy rekordów spoza liczby rekordów tabeli (" + std::to_string(counted) +
          "); napraw przebudową indeksu");
  compare_counted(within, want, unique, fault);
}

inline void compare_counted(const std::vector<KeyRec>& have, const std::vector<KeyRec>& want, bool unique,
                     const std::function<void(const std::string&)>& fault) {
  std::vector<KeyRec> expected;
  if (unique) {
    for (const auto& k : want) {
      if (expected.empty() || expected.back().key != k.key) expected.push_back(k);
    }
  } else {
    expected = want;
  }
  if (have.size() != expected.size())
    fault("znacznik ma " + std::to_string(have.size()) + " kluczy, tabela wymaga " + std::to_string(expected.size()));
  size_t reported = 0;
  for (size_t i = 0; i < std::min(have.size(), expected.size()) && reported < kMaxFaultsPerTag; ++i) {
    if (have[i].recno != expected[i].recno || have[i].key != expected[i].key) {
      fault("pozycja " + std::to_string(i + 1) + ": rekord " + std::to_string(have[i].recno) +
            " zamiast rekordu " + std::to_string(expected[i].recno) + " albo klucz różny od wartości wyrażenia");
      ++reported;
    }
  }
}


// A table's own file and its memo file.
void check_dbf(const std::string& path, CheckReport& r);

}  // namespace zuv::table::detail
