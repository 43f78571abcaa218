// The checker of single-key index files.
#include "platform/table/index_check_internal.h"

namespace zuv::table {
using namespace detail;
namespace {

// ---------------------------------------------------------------- NTX

class NtxChecker : IndexFileCheck {
 public:
  using IndexFileCheck::IndexFileCheck;

  void run(const std::string& dbf_path) {
    open_and_walk([&] { walk_file(dbf_path); });
  }

 private:
  using KeySink = std::function<void(const std::string&, uint32_t)>;

  void walk_file(const std::string& dbf_path) {
    const uint64_t size = file_.size();
    if (size < 2048 || size % 1024 != 0) {
      fault(-1, "wielkość pliku " + std::to_string(size) + " nie jest wielokrotnością 1024 (min. 2048)");
      if (size < 2048) return;
    }
    uint8_t b[1024];
    file_.read(0, b, sizeof b);
    uint16_t sig = le16(b);
    root_ = le32(b + 4);
    free_ = le32(b + 8);
    item_ = le16(b + 12);
    kl_ = le16(b + 14);
    max_ = le16(b + 18);
    const bool unique = b[278] != 0;
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
    seen_.assign(size_t(size / 1024), 0);
    seen_[0] = 1;
    KeyType type = KeyType::Character;
    DbfRecords dbf;
    std::unique_ptr<KeySorter> want;
    if (!dbf_path.empty()) {
      try {
        dbf.open(dbf_path);
        std::string error;
        want = expected_keys(dbf, expr, kl_, type, error);
        if (!want) fault(0, "wyrażenie \"" + expr + "\": " + error);
      } catch (const IndexError& e) {
        fault(-1, std::string("tabela nieczytelna: ") + e.what());
      }
    }
    OrderCheck order(type, true);
    std::unique_ptr<KeyMatch> match;
    if (want) match = std::make_unique<KeyMatch>(*want, dbf.record_count(), unique);
    leaf_depth_ = -1;
    bool ok = walk(root_, 0, [&](const std::string& k, uint32_t r) {
      order.add(k, r);
      if (match) match->add(k, r);
    });
    if (!ok) return;
    if (!order.faults().empty()) fault(-1, order.faults().front());
    if (match)
      for (const auto& m : match->finish()) fault(-1, m);
    if (free_list()) leaked();
  }

  void fault(int64_t page, const std::string& m) { r_.faults.push_back({path_, "", page, m}); }

  bool walk(uint32_t pg, int depth, const KeySink& sink) {
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
    uint8_t p[1024];  // one page per level of the walk
    file_.read(pg, p, sizeof p);
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
      if (any_child && !walk(le32(it), depth + 1, sink)) return false;
      if (i < n) {
        uint32_t recno = le32(it + 4);
        if (recno == 0) fault(pg, "numer rekordu 0");
        sink(std::string(reinterpret_cast<const char*>(it + 8), kl_), recno);
      }
    }
    return true;
  }

  bool free_list() {
    uint32_t pg = free_;
    size_t guard = 0;
    while (pg != 0) {
      if (++guard > seen_.size() || pg % 1024 != 0 || pg / 1024 >= seen_.size()) {
        fault(8, "lista wolnych stron wskazuje poza plik albo zapętla się");
        return false;
      }
      if (seen_[pg / 1024]) {
        fault(pg, "strona z listy wolnych jest w użyciu");
        return false;
      }
      seen_[pg / 1024] = 2;
      uint8_t b[4];
      file_.read(pg, b, 4);
      pg = le32(b);
    }
    return true;
  }

  // Pages that neither the tree nor the free list holds: space lost for good.
  void leaked() {
    size_t lost = 0;
    int64_t first = -1;
    for (size_t i = 0; i < seen_.size(); ++i) {
      if (seen_[i] != 0) continue;
      if (lost++ == 0) first = int64_t(i) * 1024;
    }
    if (lost) fault(first, std::to_string(lost) + " stron poza drzewem i poza listą wolnych stron (utracone miejsce)");
  }

  uint32_t root_ = 0, free_ = 0;
  uint16_t item_ = 0, kl_ = 0, max_ = 0;
  std::vector<uint8_t> seen_;
  int leaf_depth_ = -1;
};


}  // namespace

void check_ntx_image(const std::string& name, std::vector<uint8_t> bytes, CheckReport& report) {
  report.files.push_back(name);
  NtxChecker(name, std::move(bytes), report).run("");
}

void check_ntx(const std::string& ntx_path, const std::string& dbf_path, CheckReport& report) {
  report.files.push_back(ntx_path);
  NtxChecker(ntx_path, report).run(dbf_path);
}

}  // namespace zuv::table
