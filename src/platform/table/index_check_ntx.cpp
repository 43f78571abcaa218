// The checker of single-key index files.
#include "platform/table/index_check_internal.h"

namespace zuv::table {
using namespace detail;
namespace {

// ---------------------------------------------------------------- NTX

class NtxChecker {
 public:
  NtxChecker(const std::string& path, CheckReport& r) : path_(path), r_(r) {}
  // A file's bytes already in memory (the fuzzer): no file is opened.
  NtxChecker(const std::string& name, std::vector<uint8_t> bytes, CheckReport& r)
      : in_memory_(true), path_(name), r_(r), d_(std::move(bytes)) {}

  void run(const std::string& dbf_path) {
    try {
      if (!in_memory_) d_ = slurp(path_);
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

  bool in_memory_ = false;
  std::string path_;
  CheckReport& r_;
  std::vector<uint8_t> d_;
  uint32_t root_ = 0;
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
