#include "platform/table/index_check.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "platform/base/text.h"
#include "platform/table/index_dbf.h"
#include "platform/table/index_file.h"
#include "platform/table/index_key.h"
#include "platform/table/keyexpr.h"

namespace zuv::table {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kMaxFaultsPerTag = 10;

std::string lower(std::string_view s) { return base::lower_ascii(s); }
std::string extension(const std::string& path) { return lower(base::extension_of(path)); }
// The sibling file with another extension, found in any letter case.
std::string sibling(const std::string& path, const std::string& ext) {
  std::string stem = base::without_extension(path);
  for (const std::string& e : {ext, lower(ext), base::upper_ascii(ext)}) {
    std::string p = stem + "." + e;
    if (file_exists(p)) return p;
  }
  return "";
}

std::vector<uint8_t> slurp(const std::string& path) {
  BlockFile f;
  f.open(path, false);
  std::vector<uint8_t> d(size_t(f.size()));
  if (!d.empty()) f.read(0, d.data(), d.size());
  return d;
}

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
uint32_t be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

struct KeyRec {
  std::string key;
  uint32_t recno;
};

// Expected keys of a table for one expression, in index order.
bool expected_keys(DbfRecords& dbf, const std::string& expression, int key_length, bool text_numbers,
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

void compare_content(const std::vector<KeyRec>& have, const std::vector<KeyRec>& want, bool unique,
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

// ---------------------------------------------------------------- CDX

class CdxChecker {
 public:
  CdxChecker(const std::string& path, CheckReport& r) : path_(path), r_(r) {}

  void run(const std::string& dbf_path) {
    try {
      d_ = slurp(path_);
    } catch (const IndexError& e) {
      fault("", -1, e.what());
      return;
    }
    if (d_.size() < 1536 || d_.size() % 512 != 0) {
      fault("", -1, "wielkość pliku " + std::to_string(d_.size()) + " nie jest wielokrotnością 512 (min. 1536)");
      if (d_.size() < 1536) return;
    }
    pages_ = d_.size() / 512;
    owner_.assign(pages_, 0);
    Hdr dir;
    if (!header(0, "", dir)) return;
    if (dir.key_length != 10) fault("", 0, "nagłówek pliku nie ma długości klucza katalogu znaczników (10)");
    if (!(dir.options & 0x40)) fault("", 0, "nagłówek pliku bez znacznika indeksu złożonego");
    std::vector<KeyRec> tags;
    if (!tree(dir, "(katalog)", KeyType::Character, tags, true)) return;
    DbfRecords dbf;
    bool have_dbf = false;
    if (!dbf_path.empty()) {
      try {
        dbf.open(dbf_path);
        have_dbf = true;
      } catch (const IndexError& e) {
        fault("", -1, std::string("tabela nieczytelna: ") + e.what());
      }
    }
    std::set<uint32_t> offsets;
    for (const auto& t : tags) {
      std::string name = t.key;
      while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
      if (t.recno % 512 != 0 || t.recno == 0 || uint64_t(t.recno) + 1024 > d_.size()) {
        fault(name, -1, "nagłówek znacznika poza plikiem (" + std::to_string(t.recno) + ")");
        continue;
      }
      if (!offsets.insert(t.recno).second) {
        fault(name, t.recno, "dwa znaczniki z jednym nagłówkiem");
        continue;
      }
      Hdr h;
      if (!header(t.recno, name, h)) continue;
      if (!(h.options & 0x20)) fault(name, t.recno, "znacznik nie jest w formacie zwartym");
      KeyType type = KeyType::Character;
      std::vector<KeyRec> want;
      bool content = false;
      if (have_dbf && h.for_expression.empty()) {
        std::string error;
        content = expected_keys(dbf, h.expression, h.key_length, false, want, type, error);
        if (!content) fault(name, t.recno, "wyrażenie \"" + h.expression + "\": " + error);
      }
      std::vector<KeyRec> have;
      // Without the table the key type is unknown: either order is accepted then.
      if (!tree(h, name, type, have, content)) continue;
      if (content) {
        compare_content(have, want, h.options & 0x01, [&](const std::string& m) { fault(name, -1, m); });
      }
    }
    free_list();
  }

 private:
  struct Hdr {
    uint32_t offset = 0, root = 0, free_list = 0;
    int key_length = 0;
    uint8_t options = 0;
    std::string expression, for_expression;
  };

  void fault(const std::string& tag, int64_t page, const std::string& m) { r_.faults.push_back({path_, tag, page, m}); }

  bool claim(uint32_t page, int kind, const std::string& tag) {
    size_t i = page / 512;
    if (page % 512 != 0 || i >= pages_ || page < 512) {
      fault(tag, page, "wskaźnik strony poza plikiem");
      return false;
    }
    if (owner_[i] != 0) {
      fault(tag, page, "strona użyta dwa razy");
      return false;
    }
    owner_[i] = uint8_t(kind);
    return true;
  }

  bool header(uint32_t off, const std::string& tag, Hdr& h) {
    const uint8_t* b = d_.data() + off;
    if (off != 0 && (!claim(off, 1, tag) || !claim(off + 512, 1, tag))) return false;
    if (off == 0) owner_[0] = owner_[1] = 1;
    h.offset = off;
    h.root = le32(b);
    h.free_list = le32(b + 4);
    h.key_length = le16(b + 12);
    h.options = b[14];
    if (h.key_length < 1 || h.key_length > 240) {
      fault(tag, off, "niemożliwa długość klucza " + std::to_string(h.key_length));
      return false;
    }
    uint16_t fpos = le16(b + 504), flen = le16(b + 506), kpos = le16(b + 508), klen = le16(b + 510);
    if (kpos > 512 || klen > 512 - kpos || fpos > 512 || flen > 512 - fpos) {
      fault(tag, off, "wyrażenie poza nagłówkiem");
      return false;
    }
    auto text = [&](uint16_t pos, uint16_t len) {
      std::string s(reinterpret_cast<const char*>(b + 512 + pos), len);
      return s.substr(0, s.find('\0'));
    };
    h.expression = text(kpos, klen);
    h.for_expression = text(fpos, flen);
    if (off != 0 && h.expression.empty()) fault(tag, off, "znacznik bez wyrażenia klucza");
    return true;
  }

  // Walks one tag's tree level by level and answers its entries in order.
  bool tree(const Hdr& h, const std::string& tag, KeyType type, std::vector<KeyRec>& out, bool type_known) {
    const size_t kl = size_t(h.key_length);
    const char pad = key_pad(type);
    std::vector<uint32_t> level{h.root};
    std::map<uint32_t, KeyRec> expect_last;  // child page -> its parent's entry
    bool root_level = true;
    for (int depth = 0; !level.empty(); ++depth) {
      if (depth > 32) {
        fault(tag, -1, "drzewo głębsze niż 32 poziomy (pętla)");
        return false;
      }
      std::vector<uint32_t> below;
      bool leaves = false;
      for (size_t i = 0; i < level.size(); ++i) {
        uint32_t pg = level[i];
        if (!claim(pg, 2, tag)) return false;
        const uint8_t* p = d_.data() + pg;
        uint16_t attr = le16(p), count = le16(p + 2);
        uint32_t left = le32(p + 4), right = le32(p + 8);
        if (attr > 3) {
          fault(tag, pg, "nieznany rodzaj strony " + std::to_string(attr));
          return false;
        }
        bool is_leaf = attr & 2, is_root = attr & 1;
        if (i == 0) leaves = is_leaf;
        if (is_leaf != leaves) {
          fault(tag, pg, "liście i strony wewnętrzne na jednym poziomie");
          return false;
        }
        if (is_root != root_level) fault(tag, pg, root_level ? "korzeń bez oznaczenia korzenia" : "oznaczenie korzenia poza korzeniem");
        uint32_t want_left = i == 0 ? kNone : level[i - 1];
        uint32_t want_right = i + 1 == level.size() ? kNone : level[i + 1];
        if (left != want_left) fault(tag, pg, "zły wskaźnik lewego sąsiada");
        if (right != want_right) fault(tag, pg, "zły wskaźnik prawego sąsiada");
        std::vector<KeyRec> entries;
        if (!is_leaf) {
          if (count == 0) fault(tag, pg, "pusta strona wewnętrzna");
          if (12 + size_t(count) * (kl + 8) > 512) {
            fault(tag, pg, "za dużo kluczy na stronie wewnętrznej: " + std::to_string(count));
            return false;
          }
          for (size_t e = 0; e < count; ++e) {
            const uint8_t* q = p + 12 + e * (kl + 8);
            KeyRec k{std::string(reinterpret_cast<const char*>(q), kl), be32(q + kl)};
            uint32_t child = be32(q + kl + 4);
            expect_last[child] = k;
            below.push_back(child);
            entries.push_back(k);
          }
        } else if (!leaf(p, pg, count, kl, pad, tag, entries)) {
          return false;
        }
        if (count == 0 && !root_level) fault(tag, pg, "pusta strona poza korzeniem");
        auto it = expect_last.find(pg);
        if (it != expect_last.end()) {
          if (entries.empty() || entries.back().key != it->second.key || entries.back().recno != it->second.recno)
            fault(tag, pg, "klucz rodzica nie jest ostatnim kluczem strony");
        }
        if (is_leaf) out.insert(out.end(), entries.begin(), entries.end());
      }
      if (leaves && !below.empty()) fault(tag, -1, "liście z dziećmi");
      if (leaves) break;
      level = std::move(below);
      root_level = false;
    }
    auto first_disorder = [&](KeyType t) {
      for (size_t i = 1; i < out.size(); ++i) {
        int c = compare_keys(t, out[i - 1].key, out[i].key);
        if (c > 0 || (c == 0 && out[i - 1].recno >= out[i].recno)) return i;
      }
      return out.size();
    };
    if (!type_known && first_disorder(KeyType::Character) < out.size()) type = KeyType::Numeric;
    size_t bad_order = 0;
    for (size_t i = 1; i < out.size(); ++i) {
      int c = compare_keys(type, out[i - 1].key, out[i].key);
      if (c > 0 || (c == 0 && out[i - 1].recno >= out[i].recno)) {
        if (++bad_order <= kMaxFaultsPerTag)
          fault(tag, -1, "klucze nie są w porządku (pozycja " + std::to_string(i + 1) + ", rekord " +
                             std::to_string(out[i].recno) + ")");
      }
    }
    return true;
  }

  bool leaf(const uint8_t* p, uint32_t pg, uint16_t count, size_t kl, char pad, const std::string& tag,
            std::vector<KeyRec>& out) {
    uint16_t free_space = le16(p + 12);
    uint32_t rmask = le32(p + 14);
    uint8_t dmask = p[18], tmask = p[19], rbits = p[20], dbits = p[21], tbits = p[22], nbytes = p[23];
    if (nbytes < 1 || nbytes > 8 || rbits > 32 || dbits > 8 || tbits > 8 || rbits + dbits + tbits > nbytes * 8) {
      fault(tag, pg, "niemożliwe szerokości pól liścia");
      return false;
    }
    uint64_t want_r = rbits == 32 ? 0xFFFFFFFFull : (1ull << rbits) - 1;
    if (rmask != want_r || dmask != (1u << dbits) - 1 || tmask != (1u << tbits) - 1)
      fault(tag, pg, "maski pól liścia nie zgadzają się z ich szerokościami");
    if ((1u << dbits) - 1 < kl || (1u << tbits) - 1 < kl) fault(tag, pg, "za wąskie pola liczników klucza");
    if (24 + size_t(count) * nbytes > 512) {
      fault(tag, pg, "za dużo kluczy na liściu: " + std::to_string(count));
      return false;
    }
    size_t used_keys = 0;
    std::string prev;
    for (size_t i = 0; i < count; ++i) {
      // Entry bits, low first: record number, duplicate count, trailing count.
      size_t bit = 0;
      auto take = [&](int n) {
        uint64_t v = 0;
        for (int k = 0; k < n; ++k, ++bit) {
          const uint8_t byte = p[24 + i * nbytes + bit / 8];
          v |= uint64_t((byte >> (bit % 8)) & 1) << k;
        }
        return v;
      };
      uint32_t recno = uint32_t(take(rbits));
      size_t dup = size_t(take(dbits));
      size_t trail = size_t(take(tbits));
      if (i == 0 && dup != 0) fault(tag, pg, "pierwszy klucz liścia odwołuje się do poprzednika");
      if (dup > prev.size() || dup + trail > kl) {
        fault(tag, pg, "liczniki klucza " + std::to_string(i + 1) + " większe niż jego długość");
        return false;
      }
      size_t stored = kl - dup - trail;
      used_keys += stored;
      if (24 + size_t(count) * nbytes + used_keys > 512) {
        fault(tag, pg, "klucze nachodzą na wpisy liścia");
        return false;
      }
      std::string key = prev.substr(0, dup);
      key.append(reinterpret_cast<const char*>(p + 512 - used_keys), stored);
      key.append(trail, pad);
      if (recno == 0) fault(tag, pg, "numer rekordu 0");
      out.push_back({key, recno});
      prev = key;
    }
    size_t free_now = 512 - 24 - size_t(count) * nbytes - used_keys;
    if (free_space != free_now)
      fault(tag, pg, "wolne miejsce liścia " + std::to_string(free_space) + " zamiast " + std::to_string(free_now));
    return true;
  }

  void free_list() {
    uint32_t pg = le32(d_.data() + 4);
    size_t guard = 0;
    while (pg != 0 && pg != kNone) {
      if (++guard > pages_) {
        fault("", -1, "pętla w liście wolnych stron");
        return;
      }
      if (pg % 512 != 0 || pg / 512 >= pages_ || pg < 1024) {
        fault("", pg, "lista wolnych stron wskazuje poza plik");
        return;
      }
      if (owner_[pg / 512] != 0) {
        fault("", pg, "strona z listy wolnych jest w użyciu");
        return;
      }
      owner_[pg / 512] = 3;
      pg = le32(d_.data() + pg);
    }
  }

  std::string path_;
  CheckReport& r_;
  std::vector<uint8_t> d_;
  size_t pages_ = 0;
  std::vector<uint8_t> owner_;
};

// ---------------------------------------------------------------- NTX

class NtxChecker {
 public:
  NtxChecker(const std::string& path, CheckReport& r) : path_(path), r_(r) {}

  void run(const std::string& dbf_path) {
    try {
      d_ = slurp(path_);
    } catch (const IndexError& e) {
      fault(-1, e.what());
      return;
    }
    if (d_.size() < 2048 || d_.size() % 1024 != 0) {
      fault(-1, "wielkość pliku " + std::to_string(d_.size()) + " nie jest wielokrotnością 1024 (min. 2048)");
      if (d_.size() < 2048) return;
    }
    const uint8_t* b = d_.data();
    uint16_t sig = le16(b);
    root_ = le32(b + 4);
    item_ = le16(b + 12);
    kl_ = le16(b + 14);
    max_ = le16(b + 18);
    if (sig != 6 && sig != 7) fault(0, "nieznany podpis " + std::to_string(sig));
    if (kl_ < 1 || kl_ > 250 || item_ != kl_ + 8) {
      fault(0, "niemożliwa długość klucza");
      return;
    }
    if (max_ < 2 || 2 + 2 * (size_t(max_) + 1) + (size_t(max_) + 1) * item_ > 1024) {
      fault(0, "niemożliwa liczba kluczy na stronie");
      return;
    }
    std::string expr(reinterpret_cast<const char*>(b + 22), 256);
    expr = expr.substr(0, expr.find('\0'));
    seen_.assign(d_.size() / 1024, 0);
    seen_[0] = 1;
    KeyType type = KeyType::Character;
    std::vector<KeyRec> want;
    bool content = false;
    if (!dbf_path.empty()) {
      try {
        DbfRecords dbf;
        dbf.open(dbf_path);
        std::string error;
        content = expected_keys(dbf, expr, kl_, false, want, type, error);
        if (!content) fault(0, "wyrażenie \"" + expr + "\": " + error);
      } catch (const IndexError& e) {
        fault(-1, std::string("tabela nieczytelna: ") + e.what());
      }
    }
    std::vector<KeyRec> have;
    leaf_depth_ = -1;
    if (!walk(root_, 0, have)) return;
    for (size_t i = 1; i < have.size(); ++i) {
      int c = compare_keys(type, have[i - 1].key, have[i].key);
      if (c > 0 || (c == 0 && have[i - 1].recno >= have[i].recno)) {
        fault(-1, "klucze nie są w porządku (pozycja " + std::to_string(i + 1) + ")");
        break;
      }
    }
    if (content) compare_content(have, want, b[278] != 0, [&](const std::string& m) { fault(-1, m); });
  }

 private:
  void fault(int64_t page, const std::string& m) { r_.faults.push_back({path_, "", page, m}); }

  bool walk(uint32_t pg, int depth, std::vector<KeyRec>& out) {
    if (depth > 32) {
      fault(pg, "drzewo głębsze niż 32 poziomy");
      return false;
    }
    if (pg == 0 || pg % 1024 != 0 || pg / 1024 >= seen_.size()) {
      fault(pg, "wskaźnik strony poza plikiem");
      return false;
    }
    if (seen_[pg / 1024]) {
      fault(pg, "strona użyta dwa razy");
      return false;
    }
    seen_[pg / 1024] = 1;
    const uint8_t* p = d_.data() + pg;
    uint16_t n = le16(p);
    if (n > max_) {
      fault(pg, "za dużo kluczy na stronie: " + std::to_string(n));
      return false;
    }
    std::set<uint16_t> offsets;
    bool any_child = false, all_child = true;
    for (size_t i = 0; i <= n; ++i) {
      uint16_t off = le16(p + 2 + 2 * i);
      if (off < 2 + 2 * (size_t(max_) + 1) || size_t(off) + item_ > 1024) {
        fault(pg, "przesunięcie pozycji poza obszarem kluczy");
        return false;
      }
      if (!offsets.insert(off).second) {
        fault(pg, "dwie pozycje w jednym miejscu strony");
        return false;
      }
    }
    // Leaves have no children at all; interior pages one left of every key and one last.
    for (size_t i = 0; i <= n; ++i) {
      uint32_t child = le32(p + le16(p + 2 + 2 * i));
      if (child == 0) all_child = false;
      else any_child = true;
    }
    if (any_child && !all_child) {
      fault(pg, "strona z częścią wskaźników dzieci pustych");
      return false;
    }
    if (!any_child) {
      if (leaf_depth_ < 0) leaf_depth_ = depth;
      else if (leaf_depth_ != depth) fault(pg, "liście na różnych głębokościach");
      if (n == 0 && depth > 0) fault(pg, "pusty liść poza korzeniem");
    }
    for (size_t i = 0; i <= n; ++i) {
      const uint8_t* it = p + le16(p + 2 + 2 * i);
      if (any_child && !walk(le32(it), depth + 1, out)) return false;
      if (i < n) {
        uint32_t recno = le32(it + 4);
        if (recno == 0) fault(pg, "numer rekordu 0");
        out.push_back({std::string(reinterpret_cast<const char*>(it + 8), kl_), recno});
      }
    }
    return true;
  }

  std::string path_;
  CheckReport& r_;
  std::vector<uint8_t> d_;
  uint32_t root_ = 0;
  uint16_t item_ = 0, kl_ = 0, max_ = 0;
  std::vector<uint8_t> seen_;
  int leaf_depth_ = -1;
};

// ---------------------------------------------------------------- DBF, FPT, DBT

bool valid_date_text(std::string_view s) {
  if (s.find_first_not_of(' ') == std::string_view::npos) return true;
  return julian_day(s) != 0;
}

void check_memo_file(const std::string& memo_path, bool block_headers, const std::vector<uint32_t>& blocks, CheckReport& r,
                     const std::string& dbf_path) {
  r.files.push_back(memo_path);
  std::vector<uint8_t> d;
  try {
    d = slurp(memo_path);
  } catch (const IndexError& e) {
    r.faults.push_back({memo_path, "", -1, e.what()});
    return;
  }
  auto fault = [&](int64_t page, const std::string& m) { r.faults.push_back({memo_path, "", page, m}); };
  if (d.size() < 512) {
    fault(-1, "plik memo krótszy niż nagłówek");
    return;
  }
  uint64_t block_size = 512;
  uint64_t next_free = 0;
  if (block_headers) {
    next_free = be32(d.data());
    block_size = uint64_t(d[6]) << 8 | d[7];
    if (block_size == 0) {
      fault(0, "rozmiar bloku 0");
      return;
    }
    if (next_free * block_size > d.size() + block_size) fault(0, "następny wolny blok poza końcem pliku");
  } else {
    next_free = le32(d.data());
  }
  size_t reported = 0;
  for (uint32_t blk : blocks) {
    uint64_t off = uint64_t(blk) * block_size;
    if (blk == 0 || off >= d.size() || (block_headers && off + 8 > d.size())) {
      if (reported++ < kMaxFaultsPerTag) fault(int64_t(off), "tabela " + dbf_path + " wskazuje blok memo " + std::to_string(blk) + " poza plikiem");
      continue;
    }
    if (block_headers) {
      uint32_t type = be32(d.data() + off), len = be32(d.data() + off + 4);
      if (type > 2 || off + 8 + len > d.size()) {
        if (reported++ < kMaxFaultsPerTag) fault(int64_t(off), "blok memo " + std::to_string(blk) + " ma zły typ lub długość");
      } else if (next_free != 0 && (off + 8 + len + block_size - 1) / block_size > next_free) {
        if (reported++ < kMaxFaultsPerTag) fault(int64_t(off), "blok memo " + std::to_string(blk) + " sięga za następny wolny blok");
      }
    }
  }
}

void check_dbf(const std::string& path, CheckReport& r) {
  r.files.push_back(path);
  DbfRecords dbf;
  try {
    dbf.open(path);
  } catch (const IndexError& e) {
    r.faults.push_back({path, "", -1, e.what()});
    return;
  }
  auto fault = [&](const std::string& m) { r.faults.push_back({path, "", -1, m}); };
  static const std::set<uint8_t> versions{0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43, 0x63, 0x83, 0x8B, 0x8E, 0xCB, 0xF5, 0xFB};
  if (!versions.count(dbf.version())) fault("nieznana wersja tabeli " + std::to_string(dbf.version()));
  size_t sum = 1;
  bool memo = false;
  for (const auto& f : dbf.fields()) {
    sum += size_t(f.length);
    if (std::string("CNDLMFIBTYGVQW0@+").find(f.type) == std::string::npos) fault("pole " + f.name + " nieznanego typu");
    if (f.type == 'M' || f.type == 'G') memo = true;
    if (f.type == 'D' && f.length != 8) fault("pole daty " + f.name + " o długości " + std::to_string(f.length));
  }
  if (sum != dbf.record_length()) fault("długość rekordu " + std::to_string(dbf.record_length()) + " różna od sumy pól " + std::to_string(sum));
  std::vector<uint32_t> blocks;
  size_t reported = 0;
  auto bad = [&](uint32_t rec, const std::string& m) {
    if (reported++ < kMaxFaultsPerTag) fault("rekord " + std::to_string(rec) + ": " + m);
  };
  bool binary_memo = dbf.version() == 0x30 || dbf.version() == 0x31 || dbf.version() == 0x32;
  for (uint32_t rec = 1; rec <= dbf.record_count(); ++rec) {
    dbf.read(rec);
    const std::string& b = dbf.record();
    if (b[0] != ' ' && b[0] != '*') bad(rec, "zły znacznik usunięcia");
    for (const auto& f : dbf.fields()) {
      std::string_view v = std::string_view(b).substr(1 + f.offset, size_t(f.length));
      switch (f.type) {
        case 'N':
        case 'F':
          if (v.find_first_not_of(" 0123456789.-+") != std::string_view::npos) bad(rec, "pole " + f.name + " nie jest liczbą");
          break;
        case 'D':
          if (!valid_date_text(v)) bad(rec, "pole " + f.name + " nie jest datą");
          break;
        case 'L':
          if (v.size() != 1 || std::string("TtFfYyNn? ").find(v[0]) == std::string::npos) bad(rec, "pole " + f.name + " nie jest wartością logiczną");
          break;
        case 'M':
        case 'G':
          if (binary_memo && v.size() == 4) {
            uint32_t blk = le32(reinterpret_cast<const uint8_t*>(v.data()));
            if (blk) blocks.push_back(blk);
          } else if (v.find_first_not_of(' ') != std::string_view::npos) {
            if (v.find_first_not_of(" 0123456789") != std::string_view::npos) bad(rec, "pole " + f.name + " nie jest numerem bloku");
            else blocks.push_back(uint32_t(std::stoul(std::string(v))));
          }
          break;
        default:
          break;
      }
    }
  }
  if (memo) {
    std::string fpt = sibling(path, "fpt");
    std::string dbt = sibling(path, "dbt");
    if (!fpt.empty()) check_memo_file(fpt, true, blocks, r, path);
    else if (!dbt.empty()) check_memo_file(dbt, false, blocks, r, path);
    else if (!blocks.empty()) fault("brak pliku memo do pól memo");
  }
}

bool is_directory(const std::string& p) {
  std::error_code ec;
  return fs::is_directory(fs::path(std::u8string(p.begin(), p.end())), ec);
}

}  // namespace

std::string CheckReport::text() const {
  std::string s;
  for (const auto& f : faults) {
    s += f.file;
    if (!f.tag.empty()) s += ": znacznik " + f.tag;
    if (f.page >= 0) s += ": strona " + std::to_string(f.page);
    s += ": " + f.message + "\n";
  }
  return s;
}

void check_cdx(const std::string& cdx_path, const std::string& dbf_path, CheckReport& report) {
  report.files.push_back(cdx_path);
  CdxChecker(cdx_path, report).run(dbf_path);
}

void check_ntx(const std::string& ntx_path, const std::string& dbf_path, CheckReport& report) {
  report.files.push_back(ntx_path);
  NtxChecker(ntx_path, report).run(dbf_path);
}

void check_table(const std::string& dbf_path, CheckReport& report) {
  check_dbf(dbf_path, report);
  std::string cdx = sibling(dbf_path, "cdx");
  if (!cdx.empty()) check_cdx(cdx, dbf_path, report);
}

void check_path(const std::string& path, CheckReport& report) {
  if (!is_directory(path)) {
    std::string ext = extension(path);
    if (ext == "dbf") check_table(path, report);
    else if (ext == "cdx") check_cdx(path, sibling(path, "dbf"), report);
    else if (ext == "ntx") check_ntx(path, "", report);
    else report.faults.push_back({path, "", -1, "nieznany rodzaj pliku lub brak pliku"});
    return;
  }
  std::vector<std::string> dbfs, cdxs, ntxs, dirs;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(std::u8string(path.begin(), path.end())), ec)) {
    auto u8 = e.path().u8string();
    std::string p(u8.begin(), u8.end());
    if (e.is_directory(ec)) dirs.push_back(p);
    else {
      std::string ext = extension(p);
      if (ext == "dbf") dbfs.push_back(p);
      else if (ext == "cdx") cdxs.push_back(p);
      else if (ext == "ntx") ntxs.push_back(p);
    }
  }
  if (ec) report.faults.push_back({path, "", -1, "nie mogę odczytać katalogu"});
  std::sort(dbfs.begin(), dbfs.end());
  std::sort(cdxs.begin(), cdxs.end());
  std::sort(ntxs.begin(), ntxs.end());
  std::sort(dirs.begin(), dirs.end());
  for (const auto& d : dbfs) check_table(d, report);
  for (const auto& c : cdxs) {
    if (sibling(c, "dbf").empty()) check_cdx(c, "", report);
  }
  for (const auto& n : ntxs) {
    // The table of a single-key index: the longest table name its name starts with.
    std::string name = lower(fs::path(std::u8string(n.begin(), n.end())).filename().string());
    std::string best;
    size_t best_len = 0;
    for (const auto& d : dbfs) {
      std::string stem = lower(fs::path(std::u8string(d.begin(), d.end())).stem().string());
      if (name.rfind(stem, 0) == 0 && stem.size() > best_len) {
        best = d;
        best_len = stem.size();
      }
    }
    check_ntx(n, best, report);
  }
  for (const auto& d : dirs) check_path(d, report);
}

}  // namespace zuv::table
