// Table's pack and zap: removing deleted records (a new file swapped in) or all of them.
#include "platform/table/table.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/base/discard.h"
#include "platform/error/error.h"
#include "platform/os/durable.h"
#include "platform/table/dbf_header.h"
#include "platform/table/memo_file.h"
#include "platform/table/table_internal.h"

namespace zuv::table {
using namespace detail;

bool Table::pack() {
  if (!writable_or_raise("DBPACK")) return false;
  if (shared_) {
    raise(tablecode::kNotExclusive, 0, "Tabela musi być otwarta na wyłączność", "DBPACK");
    return false;
  }
  if (!store_current() || !flush_window()) return false;
  // The packed table is written beside the old one and swapped in whole.
  std::string temp = os_path_ + ".zuvpack";
  auto fail = [&](int rc, const char* what) {
    raise(gencode::kWrite, rc, what, "DBPACK");
    base::let_go(os::remove_file(temp), "the failure is raised; a leftover is overwritten by the next pack");
    return false;
  };
  os::FileHandle out;
  if (int rc = out.create(temp, os::Share::Exclusive)) return fail(rc, "Nie można utworzyć pliku roboczego");
  std::vector<std::uint8_t> header(header_length_);
  if (int rc = file_.read_exact(0, header.data(), header_length_)) return fail(rc, "Błąd odczytu tabeli");
  std::uint32_t kept = 0;
  std::vector<std::uint8_t> chunk;
  std::vector<std::uint8_t> packed;
  const std::uint32_t per = window_->capacity;
  for (std::uint32_t r = 1; r <= count_; r += per) {
    std::uint32_t n = std::min(per, count_ - r + 1);
    chunk.resize(std::size_t(n) * record_length_);
    if (int rc = file_.read_exact(header_length_ + std::uint64_t(r - 1) * record_length_, chunk.data(), chunk.size()))
      return fail(rc, "Błąd odczytu tabeli");
    packed.clear();
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t* rec = chunk.data() + std::size_t(i) * record_length_;
      if (rec[0] == '*') continue;
      packed.insert(packed.end(), rec, rec + record_length_);
    }
    if (!packed.empty()) {
      if (int rc = out.write_at(header_length_ + std::uint64_t(kept) * record_length_, packed.data(), packed.size()))
        return fail(rc, "Błąd zapisu tabeli");
      kept += static_cast<std::uint32_t>(packed.size() / record_length_);
    }
  }
  DbfHeader packed_head = DbfHeader::decode(header.data());
  packed_head.count = kept;
  packed_head.encode(header.data());
  std::uint8_t eof = 0x1A;
  if (int rc = out.write_at(0, header.data(), header.size())) return fail(rc, "Błąd zapisu tabeli");
  if (int rc = out.write_at(header_length_ + std::uint64_t(kept) * record_length_, &eof, 1))
    return fail(rc, "Błąd zapisu tabeli");
  out.close();
  drop_window();
  file_.close();
  int rc = os::replace_durably(temp, os_path_).code;
  int reopen = file_.open(os_path_, os::Access::ReadWrite, os::Share::Exclusive);
  if (rc) raise(gencode::kWrite, rc, "Nie można zastąpić tabeli spakowaną", "DBPACK");
  if (reopen) {
    raise(gencode::kOpen, reopen, "Nie można ponownie otworzyć tabeli", "DBPACK");
    return false;
  }
  if (rc) return false;
  count_ = count_in_header_ = kept;
  header_dirty_ = true;
  write_header();
  for (auto& o : orders_) o->rebuild(*this);
  go_top();
  return true;
}

bool Table::zap() {
  if (!writable_or_raise("DBZAP")) return false;
  if (shared_) {
    raise(tablecode::kNotExclusive, 0, "Tabela musi być otwarta na wyłączność", "DBZAP");
    return false;
  }
  dirty_ = false;
  appended_ = false;
  drop_window();
  count_ = 0;
  std::uint8_t eof = 0x1A;
  int rc = 0;
  if (!write_header()) return false;
  if ((rc = file_.write_at(header_length_, &eof, 1)) || (rc = file_.truncate(header_length_ + 1))) {
    raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBZAP");
    return false;
  }
  if (memo_) {
    MemoFault fault;
    if (!memo_->reset(fault)) raise_memo(fault, fault.description, "DBZAP");
  }
  for (auto& o : orders_) o->rebuild(*this);
  go_top();
  return true;
}


}  // namespace zuv::table
