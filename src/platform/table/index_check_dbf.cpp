// The checker of tables and their memo files.
#include "platform/table/index_check_internal.h"

namespace zuv::table {
using namespace detail;
namespace {

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

}  // namespace

void detail::check_dbf(const std::string& path, CheckReport& r) {
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


}  // namespace zuv::table
