// The checker of tables and their memo files. Records are read one by one and each
// memo pointer is checked as its record is read, so memory stays small whatever the
// size of the table or of its memo file.
#include "platform/table/index_check_internal.h"
#include "platform/table/memo_file.h"

namespace zuv::table {
using namespace detail;
namespace {

// ---------------------------------------------------------------- DBF, FPT, DBT

// A stored date: blank, or eight digits naming a day of the calendar (20240230 is not).
bool valid_date_text(std::string_view s) {
  if (s.find_first_not_of(' ') == std::string_view::npos) return true;
  long jd = julian_day(s);
  return jd != 0 && date_from_julian(jd) == s;
}

// A stored number: blank, or blanks then an optional sign, digits with at most one
// point, and nothing after.
bool valid_number_text(std::string_view s) {
  size_t i = s.find_first_not_of(' ');
  if (i == std::string_view::npos) return true;
  if (s[i] == '-' || s[i] == '+') ++i;
  bool digit = false, point = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') digit = true;
    else if (c == '.' && !point) point = true;
    else return false;
  }
  return digit;
}

// The memo file of a table, read block header by block header as records point at
// them: never whole.
class MemoProbe {
 public:
  MemoProbe(const std::string& path, bool block_headers, CheckReport& r, const std::string& dbf_path)
      : path_(path), block_headers_(block_headers), r_(r), dbf_path_(dbf_path) {}

  // Reads and checks the header; false when no pointer can be checked.
  bool open() {
    r_.files.push_back(path_);
    try {
      file_.open(path_, false);
    } catch (const IndexError& e) {
      fault(-1, e.what());
      return false;
    }
    size_ = file_.size();
    if (size_ < MemoFile::kHeaderSize) {
      fault(-1, "plik memo krótszy niż nagłówek");
      return false;
    }
    uint8_t h[8];
    if (!read(0, h, 8)) return false;
    if (block_headers_) {
      next_free_ = be32(h);
      block_size_ = uint64_t(h[6]) << 8 | h[7];
      if (block_size_ == 0) {
        fault(0, "rozmiar bloku 0");
        return false;
      }
      if (uint64_t(next_free_) * block_size_ > size_ + block_size_)
        fault(0, "następny wolny blok " + std::to_string(next_free_) + " poza końcem pliku");
    } else {
      next_free_ = le32(h);
    }
    return true;
  }

  void pointer(uint32_t rec, uint32_t blk) {
    uint64_t off = uint64_t(blk) * block_size_;
    if (off < MemoFile::kHeaderSize || off >= size_ || (block_headers_ && off + 8 > size_)) {
      limited(int64_t(off), "rekord " + std::to_string(rec) + " tabeli " + dbf_path_ + " wskazuje blok memo " +
                                std::to_string(blk) + " poza plikiem");
      return;
    }
    if (!block_headers_) return;
    uint8_t h[8];
    if (!read(off, h, 8)) return;
    uint32_t type = be32(h), len = be32(h + 4);
    if (type > 2 || off + 8 + len > size_) {
      limited(int64_t(off), "blok memo " + std::to_string(blk) + " ma zły typ lub długość");
    } else if (len > MemoFile::kMaxText) {
      limited(int64_t(off), "blok memo " + std::to_string(blk) + " dłuższy niż " +
                                std::to_string(MemoFile::kMaxText >> 20) + " MB (uszkodzona długość)");
    } else if (next_free_ != 0 && (off + 8 + len + block_size_ - 1) / block_size_ > next_free_) {
      limited(int64_t(off), "blok memo " + std::to_string(blk) + " sięga za następny wolny blok");
    }
  }

 private:
  bool read(uint64_t off, uint8_t* out, size_t n) {
    try {
      file_.read(off, out, n);
      return true;
    } catch (const IndexError& e) {
      fault(int64_t(off), e.what());
      return false;
    }
  }
  void fault(int64_t page, const std::string& m) { r_.faults.push_back({path_, "", page, m}); }
  void limited(int64_t page, const std::string& m) {
    if (reported_++ < kMaxFaultsPerTag) fault(page, m);
  }

  std::string path_;
  bool block_headers_;
  CheckReport& r_;
  std::string dbf_path_;
  BlockFile file_;
  uint64_t size_ = 0, block_size_ = 512;
  uint32_t next_free_ = 0;
  size_t reported_ = 0;
};

// Opens the table, which validates its header as every reader of the engine does
// (version, field descriptors with their terminator, lengths and decimals, count
// against the size), and checks the record length; false when nothing more can be read.
bool open_checked(DbfRecords& dbf, const std::string& path, CheckReport& r) {
  r.files.push_back(path);
  try {
    dbf.open(path);
  } catch (const IndexError& e) {
    r.faults.push_back({path, "", -1, e.what()});
    return false;
  }
  size_t sum = 1;
  for (const auto& f : dbf.fields()) sum += size_t(f.length);
  if (sum != dbf.record_length())
    r.faults.push_back({path, "", -1,
                        "długość rekordu " + std::to_string(dbf.record_length()) + " różna od sumy pól " +
                            std::to_string(sum)});
  return true;
}

}  // namespace

void check_table_structure(const std::string& path, CheckReport& r) {
  DbfRecords dbf;
  open_checked(dbf, path, r);
}

std::string table_structure_fault(const std::string& path) {
  CheckReport report;
  check_table_structure(path, report);
  return report.clean() ? "" : report.faults.front().message;
}

void detail::check_dbf(const std::string& path, CheckReport& r) {
  DbfRecords dbf;
  if (!open_checked(dbf, path, r)) return;
  auto fault = [&](const std::string& m) { r.faults.push_back({path, "", -1, m}); };
  bool memo = false;
  for (const auto& f : dbf.fields())
    if (f.type == 'M' || f.type == 'G' || f.type == 'P') memo = true;

  std::unique_ptr<MemoProbe> probe;
  if (memo) {
    std::string fpt = sibling(path, "fpt");
    std::string dbt = sibling(path, "dbt");
    if (!fpt.empty()) probe = std::make_unique<MemoProbe>(fpt, true, r, path);
    else if (!dbt.empty()) probe = std::make_unique<MemoProbe>(dbt, false, r, path);
    if (probe && !probe->open()) probe.reset();
  }
  bool memo_missing = memo && !probe;
  size_t reported = 0;
  auto bad = [&](uint32_t rec, const std::string& m) {
    if (reported++ < kMaxFaultsPerTag) fault("rekord " + std::to_string(rec) + ": " + m);
  };
  bool binary_memo = dbf.version() == 0x30 || dbf.version() == 0x31 || dbf.version() == 0x32;
  bool pointers = false;
  try {
    for (uint32_t rec = 1; rec <= dbf.record_count(); ++rec) {
      dbf.read(rec);
      const std::string& b = dbf.record();
      if (b[0] != ' ' && b[0] != '*') bad(rec, "zły znacznik usunięcia");
      for (const auto& f : dbf.fields()) {
        std::string_view v = std::string_view(b).substr(1 + f.offset, size_t(f.length));
        uint32_t blk = 0;
        switch (f.type) {
          case 'N':
            if (!valid_number_text(v)) bad(rec, "pole " + f.name + " nie jest liczbą");
            break;
          case 'F':  // other writers put exponents here
            if (v.find_first_not_of(" 0123456789.-+eE") != std::string_view::npos)
              bad(rec, "pole " + f.name + " nie jest liczbą");
            break;
          case 'D':
            if (!valid_date_text(v)) bad(rec, "pole " + f.name + " nie jest datą");
            break;
          case 'L':
            if (v.size() != 1 || std::string("TtFfYyNn? ").find(v[0]) == std::string::npos)
              bad(rec, "pole " + f.name + " nie jest wartością logiczną");
            break;
          case 'M':
          case 'G':
          case 'P':
            if (binary_memo && v.size() == 4) {
              blk = le32(reinterpret_cast<const uint8_t*>(v.data()));
            } else if (v.find_first_not_of(' ') != std::string_view::npos) {
              std::string_view digits = v.substr(v.find_first_not_of(' '));
              if (digits.find_first_not_of("0123456789") != std::string_view::npos || digits.size() > 10 ||
                  std::stoull(std::string(digits)) > 0xFFFFFFFFull)
                bad(rec, "pole " + f.name + " nie jest numerem bloku");
              else blk = uint32_t(std::stoull(std::string(digits)));
            }
            if (blk != 0) {
              pointers = true;
              if (probe) probe->pointer(rec, blk);
            }
            break;
          default:
            break;
        }
      }
    }
  } catch (const IndexError& e) {
    fault(e.what());
  }
  if (memo_missing && pointers) fault("brak pliku memo do pól memo");
}

}  // namespace zuv::table
