// The checker of compound index files.
#include "platform/table/index_check_internal.h"

namespace zuv::table {
using namespace detail;
namespace {

// ---------------------------------------------------------------- CDX

class CdxChecker : IndexFileCheck {
 public:
  using IndexFileCheck::IndexFileCheck;

  void run(const std::string& dbf_path) {
    open_and_walk([&] { walk(dbf_path); });
  }

 private:
  struct Hdr {
    uint32_t offset = 0, root = 0, free_list = 0;
    int key_length = 0;
    uint8_t options = 0;
    std::string expression, for_expression;
  };
  using KeySink = std::function<void(const std::string&, uint32_t)>;

  void walk(const std::string& dbf_path) {
    const uint64_t size = file_.size();
    if (size < 1536 || size % 512 != 0) {
      fault("", -1, "wielkość pliku " + std::to_string(size) + " nie jest wielokrotnością 512 (min. 1536)");
      if (size < 1536) return;
    }
    pages_ = size_t(size / 512);
    owner_.assign(pages_, 0);
    Hdr dir;
    if (!header(0, "", dir)) return;
    if (dir.key_length != 10) fault("", 0, "nagłówek pliku nie ma długości klucza katalogu znaczników (10)");
    if (!(dir.options & 0x40)) fault("", 0, "nagłówek pliku bez znacznika indeksu złożonego");
    std::vector<KeyRec> tags;
    OrderCheck dir_order(KeyType::Character, true);
    if (!tree(dir, "(katalog)", KeyType::Character, [&](const std::string& k, uint32_t r) {
          tags.push_back({k, r});
          dir_order.add(k, r);
        }))
      return;
    for (const auto& m : dir_order.faults()) fault("(katalog)", -1, m);
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
    // Pages neither in a tree nor on the free list are looked for only when every
    // tree could be walked: a broken one leaves its pages unclaimed.
    bool complete = true;
    std::set<uint32_t> offsets;
    for (const auto& t : tags) {
      std::string name = t.key;
      while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
      if (t.recno % 512 != 0 || t.recno == 0 || uint64_t(t.recno) + 1024 > size) {
        fault(name, -1, "nagłówek znacznika poza plikiem (" + std::to_string(t.recno) + ")");
        complete = false;
        continue;
      }
      if (!offsets.insert(t.recno).second) {
        fault(name, t.recno, "dwa znaczniki z jednym nagłówkiem");
        continue;
      }
      Hdr h;
      if (!header(t.recno, name, h)) {
        complete = false;
        continue;
      }
      if (!(h.options & 0x20)) fault(name, t.recno, "znacznik nie jest w formacie zwartym");
      KeyType type = KeyType::Character;
      std::unique_ptr<KeySorter> want;
      if (have_dbf && h.for_expression.empty()) {
        std::string error;
        want = expected_keys(dbf, h.expression, h.key_length, type, error);
        if (!want) fault(name, t.recno, "wyrażenie \"" + h.expression + "\": " + error);
      }
      // Without the table the key type is unknown: either order is accepted then.
      OrderCheck order(type, want != nullptr);
      std::unique_ptr<KeyMatch> match;
      if (want) match = std::make_unique<KeyMatch>(*want, dbf.record_count(), h.options & 0x01);
      if (!tree(h, name, type, [&](const std::string& k, uint32_t r) {
            order.add(k, r);
            if (match) match->add(k, r);
          })) {
        complete = false;
        continue;
      }
      for (const auto& m : order.faults()) fault(name, -1, m);
      if (match)
        for (const auto& m : match->finish()) fault(name, -1, m);
    }
    if (!free_list()) complete = false;
    if (complete) leaked();
  }

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
    if (off != 0 && (!claim(off, 1, tag) || !claim(off + 512, 1, tag))) return false;
    if (off == 0) owner_[0] = owner_[1] = 1;
    uint8_t b[1024];
    file_.read(off, b, sizeof b);
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

  // Walks one tag's tree level by level and hands its leaf entries to sink in order.
  // Only one level's page numbers are held, with the parent entry each page must end
  // with, never the keys of the leaves.
  bool tree(const Hdr& h, const std::string& tag, KeyType type, const KeySink& sink) {
    const size_t kl = size_t(h.key_length);
    const char pad = key_pad(type);
    std::vector<uint32_t> level{h.root};
    std::string parent_keys;            // the parent entry of level[i]: kl bytes at i * kl
    std::vector<uint32_t> parent_recnos;  // and its record number
    bool root_level = true;
    uint8_t p[512];
    std::vector<KeyRec> entries;
    for (int depth = 0; !level.empty(); ++depth) {
      if (depth > 32) {
        fault(tag, -1, "drzewo głębsze niż 32 poziomy (pętla)");
        return false;
      }
      std::vector<uint32_t> below;
      std::string below_keys;
      std::vector<uint32_t> below_recnos;
      bool leaves = false;
      for (size_t i = 0; i < level.size(); ++i) {
        uint32_t pg = level[i];
        if (!claim(pg, 2, tag)) return false;
        file_.read(pg, p, sizeof p);
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
        entries.clear();
        if (!is_leaf) {
          if (count == 0) fault(tag, pg, "pusta strona wewnętrzna");
          if (12 + size_t(count) * (kl + 8) > 512) {
            fault(tag, pg, "za dużo kluczy na stronie wewnętrznej: " + std::to_string(count));
            return false;
          }
          for (size_t e = 0; e < count; ++e) {
            const uint8_t* q = p + 12 + e * (kl + 8);
            KeyRec k{std::string(reinterpret_cast<const char*>(q), kl), be32(q + kl)};
            below.push_back(be32(q + kl + 4));
            below_keys += k.key;
            below_recnos.push_back(k.recno);
            entries.push_back(std::move(k));
          }
        } else if (!leaf(p, pg, count, kl, pad, tag, entries)) {
          return false;
        }
        if (count == 0 && !root_level) fault(tag, pg, "pusta strona poza korzeniem");
        if (!root_level) {
          std::string_view want(parent_keys.data() + i * kl, kl);
          if (entries.empty() || entries.back().key != want || entries.back().recno != parent_recnos[i])
            fault(tag, pg, "klucz rodzica nie jest ostatnim kluczem strony");
        }
        if (is_leaf)
          for (const auto& e : entries) sink(e.key, e.recno);
      }
      if (leaves && !below.empty()) fault(tag, -1, "liście z dziećmi");
      if (leaves) break;
      level = std::move(below);
      parent_keys = std::move(below_keys);
      parent_recnos = std::move(below_recnos);
      root_level = false;
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

  bool free_list() {
    uint8_t b[4];
    file_.read(4, b, 4);
    uint32_t pg = le32(b);
    size_t guard = 0;
    while (pg != 0 && pg != kNone) {
      if (++guard > pages_) {
        fault("", -1, "pętla w liście wolnych stron");
        return false;
      }
      if (pg % 512 != 0 || pg / 512 >= pages_ || pg < 1024) {
        fault("", pg, "lista wolnych stron wskazuje poza plik");
        return false;
      }
      if (owner_[pg / 512] != 0) {
        fault("", pg, "strona z listy wolnych jest w użyciu");
        return false;
      }
      owner_[pg / 512] = 3;
      file_.read(pg, b, 4);
      pg = le32(b);
    }
    return true;
  }

  // Pages that no tree and no free list holds: space lost for good, as no writer will
  // hand them out again.
  void leaked() {
    size_t lost = 0;
    int64_t first = -1;
    for (size_t i = 0; i < pages_; ++i) {
      if (owner_[i] != 0) continue;
      if (lost++ == 0) first = int64_t(i) * 512;
    }
    if (lost)
      fault("", first, std::to_string(lost) + " stron poza drzewami znaczników i poza listą wolnych stron (utracone miejsce)");
  }

  size_t pages_ = 0;
  std::vector<uint8_t> owner_;
};


}  // namespace

void check_cdx_image(const std::string& name, std::vector<uint8_t> bytes, CheckReport& report) {
  report.files.push_back(name);
  CdxChecker(name, std::move(bytes), report).run("");
}

void check_cdx(const std::string& cdx_path, const std::string& dbf_path, CheckReport& report) {
  report.files.push_back(cdx_path);
  CdxChecker(cdx_path, report).run(dbf_path);
}

}  // namespace zuv::table
