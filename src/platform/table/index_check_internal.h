// What the checker's files share: reading index files page by page, the keys of a
// tag checked for order and compared with those the table requires, in bounded
// memory. Not for use outside the checker.
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/base/coding.h"
#include "platform/os/file_handle.h"
#include "platform/table/index_check.h"
#include "platform/table/index_dbf.h"
#include "platform/table/index_file.h"
#include "platform/table/index_key.h"
#include "platform/table/index_sort.h"
#include "platform/table/keyexpr.h"

namespace zuv::table::detail {

namespace fs = std::filesystem;

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kMaxFaultsPerTag = 10;
// Bytes of keys the checker's sort holds in memory at once.
constexpr size_t kCheckSortBudget = size_t(8) << 20;

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

using base::be32;
using base::le16;
using base::le32;

struct KeyRec {
  std::string key;
  uint32_t recno;
};

// Opens an index file for the checker, or takes its bytes when they are given (the
// fuzzer): the pages are read one at a time either way, never the whole file.
inline void open_index(BlockFile& file, const std::string& path, bool in_memory, std::vector<uint8_t>& bytes) {
  if (in_memory) {
    file.open_image(std::string(bytes.begin(), bytes.end()), path);
    std::vector<uint8_t>().swap(bytes);
  } else {
    file.open(path, false);
    file.set_read_ahead(true);
  }
}

// What both index checkers start from: the file under check, opened from the disk or
// given as bytes already in memory (the fuzzer: no file is opened), and the report.
class IndexFileCheck {
 public:
  IndexFileCheck(const std::string& path, CheckReport& r) : path_(path), r_(r) {}
  IndexFileCheck(const std::string& name, std::vector<uint8_t> bytes, CheckReport& r)
      : in_memory_(true), path_(name), r_(r), bytes_(std::move(bytes)) {}

 protected:
  // Opens the file and walks it; a damaged file's IndexError is one fault of the file.
  template <class Walk>
  void open_and_walk(Walk walk) {
    try {
      open_index(file_, path_, in_memory_, bytes_);
      walk();
    } catch (const IndexError& e) {
      r_.faults.push_back({path_, "", -1, e.what()});
    }
  }

  bool in_memory_ = false;
  std::string path_;
  CheckReport& r_;
  std::vector<uint8_t> bytes_;
  BlockFile file_;
};

// The keys a table requires for one expression, sorted in bounded memory with the
// sort of the index builds (run files in the system's temporary directory).
inline std::unique_ptr<KeySorter> expected_keys(DbfRecords& dbf, const std::string& expression, int key_length,
                                                KeyType& type, std::string& error) {
  try {
    KeyExpression e = KeyExpression::compile(expression, dbf);
    type = e.key_type();
    if (e.key_length() != key_length) {
      error = "długość klucza " + std::to_string(key_length) + " nie zgadza się z wyrażeniem (" +
              std::to_string(e.key_length()) + ")";
      return nullptr;
    }
    std::error_code ec;
    auto temp = fs::temp_directory_path(ec).u8string();
    auto sorter = std::make_unique<KeySorter>(type, key_length, kCheckSortBudget,
                                              ec ? std::string(".") : std::string(temp.begin(), temp.end()));
    for (uint32_t r = 1; r <= dbf.record_count(); ++r) {
      dbf.read(r);
      sorter->add(e.key(dbf.view()), r);
    }
    sorter->finish();
    return sorter;
  } catch (const IndexError& ex) {
    error = ex.what();
    return nullptr;
  }
}

// Watches the keys of a tree go by in order. Without the table the key type is not
// known: both orders are followed and the keys pass when either holds.
class OrderCheck {
 public:
  OrderCheck(KeyType type, bool type_known) : known_(type_known) {
    orders_[0].type = known_ ? type : KeyType::Character;
    orders_[1].type = KeyType::Numeric;
  }
  void add(const std::string& key, uint32_t recno) {
    ++pos_;
    for (int i = 0; i < (known_ ? 1 : 2); ++i) {
      Order& o = orders_[i];
      if (pos_ > 1) {
        int c = compare_keys(o.type, prev_, key);
        if ((c > 0 || (c == 0 && prev_recno_ >= recno)) && o.faults.size() < kMaxFaultsPerTag)
          o.faults.push_back("klucze nie są w porządku (pozycja " + std::to_string(pos_) + ", rekord " +
                             std::to_string(recno) + ")");
      }
    }
    prev_ = key;
    prev_recno_ = recno;
  }
  const std::vector<std::string>& faults() const {
    return known_ || orders_[0].faults.empty() ? orders_[0].faults : orders_[1].faults;
  }

 private:
  struct Order {
    KeyType type = KeyType::Character;
    std::vector<std::string> faults;
  };
  bool known_;
  Order orders_[2];
  std::string prev_;
  uint32_t prev_recno_ = 0;
  uint64_t pos_ = 0;
};

// Compares a tree's keys, as they go by in order, with the keys the table requires
// (a unique tag: the first record of each key). Keys of records past the header's
// count come from a writer stopped between the keys and the count: readers pass over
// them and a rebuild of the index removes them, but they are reported.
class KeyMatch {
 public:
  KeyMatch(KeyStream& want, uint32_t counted, bool unique) : want_(want), counted_(counted), unique_(unique) {}
  void add(const std::string& key, uint32_t recno) {
    if (recno > counted_) {
      ++beyond_;
      return;
    }
    ++have_;
    std::string wk;
    uint32_t wr = 0;
    if (!next_want(wk, wr)) return;
    if ((wr != recno || wk != key) && faults_.size() < kMaxFaultsPerTag)
      faults_.push_back("pozycja " + std::to_string(have_) + ": rekord " + std::to_string(recno) +
                        " zamiast rekordu " + std::to_string(wr) + " albo klucz różny od wartości wyrażenia");
  }
  // Every fault, once the last key has gone by.
  std::vector<std::string> finish() {
    std::string wk;
    uint32_t wr = 0;
    while (next_want(wk, wr)) {
    }
    std::vector<std::string> out;
    if (beyond_)
      out.push_back(std::to_string(beyond_) + " kluczy rekordów spoza liczby rekordów tabeli (" +
                    std::to_string(counted_) + "); napraw przebudową indeksu");
    if (have_ != wanted_)
      out.push_back("znacznik ma " + std::to_string(have_) + " kluczy, tabela wymaga " + std::to_string(wanted_));
    out.insert(out.end(), faults_.begin(), faults_.end());
    return out;
  }

 private:
  bool next_want(std::string& key, uint32_t& recno) {
    while (want_.next(key, recno)) {
      if (unique_ && wanted_ > 0 && key == last_want_) continue;
      ++wanted_;
      if (unique_) last_want_ = key;
      return true;
    }
    return false;
  }

  KeyStream& want_;
  uint32_t counted_;
  bool unique_;
  uint64_t have_ = 0, wanted_ = 0, beyond_ = 0;
  std::string last_want_;
  std::vector<std::string> faults_;
};

// A table's own file and its memo file.
void check_dbf(const std::string& path, CheckReport& r);

}  // namespace zuv::table::detail
