#include "platform/table/table.h"
#include "platform/base/discard.h"
#include "platform/table/last_error.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

#include "platform/base/text.h"
#include "platform/error/error.h"
#include "platform/os/durable.h"
#include "platform/os/path.h"
#include "platform/table/dbf_header.h"
#include "platform/table/memo_file.h"
#include "platform/table/table_internal.h"

// Table is spread over files of one idea each: this one opens, creates and closes
// tables and keeps the header; table_fields.cpp (the field codec), table_records.cpp
// (storing records with their keys and memos), table_navigation.cpp, table_locks.cpp,
// table_pack.cpp and table_orders.cpp hold the rest.

namespace zuv::table {
using namespace detail;

namespace {

// The extension of the file-name part, without the dot ("" when none).
std::string extension_of(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot + 1);
}

std::string with_extension(const std::string& path, const std::string& ext) {
  std::size_t slash = path.find_last_of("\\/");
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "." + ext;
  return path.substr(0, dot + 1) + ext;
}

bool is_upper_word(const std::string& s) {
  bool any = false;
  for (char c : s) {
    if (std::islower(static_cast<unsigned char>(c))) return false;
    any = any || std::isupper(static_cast<unsigned char>(c));
  }
  return any;
}

// The memo file beside a table: same name, extension in the case of the table's one,
// or the other case when only that exists.
std::string memo_path_for(const std::string& os_dbf, const char* ext_lower) {
  std::string ext = ext_lower;
  std::string upper = base::upper_ascii(ext);
  std::string first = with_extension(os_dbf, is_upper_word(extension_of(os_dbf)) ? upper : ext);
  if (os::native_file_exists(first)) return first;
  std::string second = with_extension(os_dbf, is_upper_word(extension_of(os_dbf)) ? ext : upper);
  return os::native_file_exists(second) ? second : first;
}

}  // namespace

static const Settings& default_settings() {
  static const Settings s;
  return s;
}


// ---------------------------------------------------------------- errors

// A memo file's failure names the memo file: the table's name with the memo's
// extension, in the form the caller gave.
bool Table::raise_memo(const MemoFault& fault, const std::string& description, const char* operation,
                       bool can_retry) {
  std::string ext = extension_of(memo_os_path_);
  if (ext.empty()) ext = version_ == 0x83 ? "dbt" : "fpt";
  return raise(fault.gen_code, fault.os_code, description, operation, can_retry, with_extension(path_, ext));
}

bool Table::raise(int gen_code, int os_code, const std::string& description, const char* operation, bool can_retry,
                  const std::string& file) {
  ErrorRecord r = error_record(gen_code, engine_.empty() ? "FOXCDX" : engine_, description, file.empty() ? path_ : file,
                               operation);
  r.osCode = os_code;
  r.canRetry = can_retry;
  return raise_engine_error(r) == HandlerAnswer::Retry;
}

bool Table::writable_or_raise(const char* operation) {
  if (!read_only_ && !from_image_) return true;
  raise(tablecode::kReadOnly, os::oscode::kAccessDenied, "Tabela otwarta tylko do odczytu", operation);
  return false;
}

// ---------------------------------------------------------------- open and create

std::unique_ptr<Table> Table::open(const OpenOptions& options) {
  for (;;) {
    std::unique_ptr<Table> t(new Table);
    t->settings_ = &default_settings();
    t->path_ = extension_of(options.path).empty() ? options.path + ".dbf" : options.path;
    t->os_path_ = os::native_path(t->path_);
    t->engine_ = options.engine.empty() ? "FOXCDX" : options.engine;
    t->shared_ = options.shared;
    t->read_only_ = options.read_only;
    os::Share share = options.shared ? os::Share::Shared : os::Share::Exclusive;
    os::Access access = options.read_only ? os::Access::Read : os::Access::ReadWrite;
    int rc = t->file_.open(t->os_path_, access, share);
    if (rc) {
      if (t->raise(gencode::kOpen, rc, "Nie można otworzyć tabeli", "DBUSEAREA", true)) continue;
      return nullptr;
    }
    std::uint64_t size = 0;
    if ((rc = t->file_.size(size))) {
      if (t->raise(gencode::kRead, rc, "Błąd odczytu tabeli", "DBUSEAREA", true)) continue;
      return nullptr;
    }
    if (!t->load_header(size)) return nullptr;
    bool any_memo = std::any_of(t->fields_.begin(), t->fields_.end(), [](auto& f) { return f.is_memo(); });
    if (any_memo) {
      MemoFile::Kind kind = t->version_ == 0x83 ? MemoFile::Kind::Dbt : MemoFile::Kind::Fpt;
      t->memo_os_path_ = memo_path_for(t->os_path_, kind == MemoFile::Kind::Dbt ? "dbt" : "fpt");
      MemoFault fault;
      t->memo_ = MemoFile::open(t->memo_os_path_, kind, access, share, fault);
      if (!t->memo_) {
        std::string what = fault.os_code == os::oscode::kFileNotFound ? "Brak pliku memo tabeli" : fault.description;
        if (t->raise_memo(fault, what, "DBUSEAREA", fault.gen_code == gencode::kOpen)) continue;
        return nullptr;
      }
    }
    t->go_top();
    return t;
  }
}

std::unique_ptr<Table> Table::open_image(std::string dbf, std::string memo, const std::string& name) {
  std::unique_ptr<Table> t(new Table);
  t->settings_ = &default_settings();
  t->path_ = name;
  t->engine_ = "FOXCDX";
  t->read_only_ = true;
  t->from_image_ = true;
  t->image_ = std::move(dbf);
  if (!t->load_header(t->image_.size())) return nullptr;
  bool any_memo = std::any_of(t->fields_.begin(), t->fields_.end(), [](auto& f) { return f.is_memo(); });
  if (any_memo) {
    MemoFault fault;
    t->memo_ = MemoFile::from_image(std::move(memo), t->version_ == 0x83 ? MemoFile::Kind::Dbt : MemoFile::Kind::Fpt,
                                    fault);
    if (!t->memo_) {
      t->raise_memo(fault, fault.description, "DBUSEAREA");
      return nullptr;
    }
  }
  t->go_top();
  return t;
}

bool Table::load_header(std::uint64_t size) {
  auto corrupt = [&](const std::string& what) {
    raise(gencode::kCorrupt, 0, "Uszkodzony plik tabeli: " + what, "DBUSEAREA");
    return false;
  };
  std::vector<std::uint8_t> head(32);
  auto read_bytes = [&](std::uint64_t off, std::uint8_t* out, std::size_t n) -> int {
    if (from_image_) {
      if (off + n > image_.size()) return os::oscode::kHandleEof;
      std::memcpy(out, image_.data() + off, n);
      return 0;
    }
    return file_.read_exact(off, out, n);
  };
  if (size < 32) return corrupt("plik krótszy niż nagłówek");
  if (int rc = read_bytes(0, head.data(), 32)) {
    raise(gencode::kRead, rc, "Błąd odczytu tabeli", "DBUSEAREA");
    return false;
  }
  const DbfHeader header = DbfHeader::decode(head.data());
  version_ = header.version;
  if (!dbf_version_known(version_)) return corrupt("nieznana wersja pliku");
  std::uint32_t count = header.count;
  header_length_ = header.header_length;
  record_length_ = header.record_length;
  table_flags_ = header.flags;
  if (header_length_ < 65 || header_length_ > size) return corrupt("długość nagłówka niezgodna z rozmiarem pliku");
  if (record_length_ < 2) return corrupt("błędna długość rekordu");
  head.resize(header_length_);
  if (int rc = read_bytes(0, head.data(), header_length_)) {
    raise(gencode::kRead, rc, "Błąd odczytu tabeli", "DBUSEAREA");
    return false;
  }
  std::vector<FieldDescriptor> fields;
  if (std::string fault = decode_dbf_fields(head.data(), header_length_, version_, fields); !fault.empty())
    return corrupt(fault);
  fields_ = std::move(fields);
  field_by_name_.clear();
  for (std::size_t i = 0; i < fields_.size(); ++i)
    field_by_name_.emplace(base::upper_ascii(fields_[i].name), static_cast<int>(i));
  std::uint32_t offset = fields_.back().offset + fields_.back().length;
  if (offset > record_length_) return corrupt("długość rekordu mniejsza niż suma długości pól");
  if (std::uint64_t(header_length_) + std::uint64_t(count) * record_length_ > size)
    return corrupt("liczba rekordów niezgodna z rozmiarem pliku");
  if (count > kMaxRecords) return corrupt("liczba rekordów poza zakresem");
  count_ = count_in_header_ = count;
  blank_.assign(record_length_, ' ');
  for (const FieldDescriptor& f : fields_) {
    // The null flags zero too: a new record has no field null.
    if ((f.blank_is_zero() || f.type == '0') && std::uint64_t(f.offset) + f.length <= record_length_)
      std::fill_n(blank_.begin() + f.offset, f.length, std::uint8_t(0));
  }
  buffer_ = blank_;
  original_ = buffer_;
  pending_memo_.assign(fields_.size(), {});
  memo_pending_.assign(fields_.size(), false);
  memo_fields_.clear();
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].is_memo()) memo_fields_.push_back(static_cast<int>(i));
  window_ = std::make_unique<Window>();
  window_->capacity = static_cast<std::uint32_t>(std::max<std::size_t>(1, kWindowBytes / record_length_));
  return true;
}

bool Table::create(const std::string& path_in, const Structure& structure, const std::string& engine) {
  std::string path = extension_of(path_in).empty() ? path_in + ".dbf" : path_in;
  Table t;  // for raising with the file's name
  t.path_ = path;
  t.engine_ = engine.empty() ? "FOXCDX" : engine;
  t.settings_ = &default_settings();
  auto fail = [&](int gen, int os_code, const std::string& what) {
    t.raise(gen, os_code, what, "DBCREATE");
    return false;
  };
  if (structure.empty()) return fail(gencode::kArgument, 0, "Pusta struktura tabeli");
  std::vector<std::uint8_t> header(32 + 32 * structure.size() + 1, 0);
  std::uint32_t record_length = 1;
  bool memo = false;
  for (std::size_t i = 0; i < structure.size(); ++i) {
    FieldInfo f = structure[i];
    f.name = base::upper_ascii(base::trim(f.name));
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
    if (f.type == 'D') f.length = 8, f.decimals = 0;
    if (f.type == 'L') f.length = 1, f.decimals = 0;
    if (f.type == 'M') f.length = 10, f.decimals = 0;
    bool ok = !f.name.empty() && f.name.size() <= 10;
    for (std::size_t j = 0; ok && j < i; ++j) ok = !base::iequals_ascii(base::trim(structure[j].name), f.name);
    switch (f.type) {
      case 'C': ok = ok && f.length >= 1 && f.length <= 254 && f.decimals == 0; break;
      case 'N': case 'F': ok = ok && f.length >= 1 && f.length <= 20 && f.decimals >= 0 && (f.decimals == 0 || f.decimals <= f.length - 2); break;
      case 'D': case 'L': break;
      case 'M': memo = true; break;
      default: ok = false;
    }
    if (!ok) return fail(gencode::kArgument, 0, "Błędny opis pola " + f.name);
    std::uint8_t* d = &header[32 + 32 * i];
    std::memcpy(d, f.name.data(), f.name.size());
    d[11] = static_cast<std::uint8_t>(f.type);
    d[16] = static_cast<std::uint8_t>(f.length);
    d[17] = static_cast<std::uint8_t>(f.decimals);
    record_length += f.length;
  }
  if (record_length > 0xFFFF) return fail(gencode::kArgument, 0, "Rekord tabeli za długi");
  header.back() = 0x0D;
  DbfHeader head;
  head.version = memo ? 0xF5 : 0x03;
  head.stamp_today();
  head.header_length = static_cast<std::uint16_t>(header.size());
  head.record_length = static_cast<std::uint16_t>(record_length);
  head.encode(header.data());
  header.push_back(0x1A);

  // Both files are written beside their targets and swapped in, so a failure leaves
  // whatever was there before.
  std::string os_dbf = os::native_path(path);
  std::string os_memo = with_extension(os_dbf, is_upper_word(extension_of(os_dbf)) ? "FPT" : "fpt");
  auto write_new = [&](const std::string& target, auto&& fill) -> int {
    // A file another process holds is not replaced under it.
    if (os::native_file_exists(target)) {
      os::FileHandle probe;
      if (int rc = probe.open(target, os::Access::Read, os::Share::Exclusive)) return rc;
    }
    std::string temp = target + os::kNewSuffix;
    os::FileHandle f;
    if (int rc = f.create(temp, os::Share::Exclusive)) return rc;
    int rc = fill(f);
    f.close();
    if (rc) {
      base::let_go(os::remove_file(temp), "the failure is answered; a leftover is overwritten next time");
      return rc;
    }
    return os::replace_durably(temp, target).code;
  };
  if (memo) {
    int rc = write_new(os_memo, [](os::FileHandle& f) { return MemoFile::write_empty_fpt(f); });
    if (rc) return fail(gencode::kCreate, rc, "Nie można utworzyć pliku memo");
  }
  int rc = write_new(os_dbf, [&](os::FileHandle& f) { return f.write_at(0, header.data(), header.size()); });
  if (rc) return fail(gencode::kCreate, rc, "Nie można utworzyć tabeli");
  return true;
}

Table::~Table() {
  try {
    close();
  } catch (const Break&) {
    // A destructor cannot hand the error on; it has been shown to the handler.
  }
}

void Table::close() {
  if (!file_.is_open() && !from_image_) return;
  if (!from_image_ && window_) {
    store_current();
    flush_window();
    if (header_dirty_) write_header();
    for (auto& o : orders_) o->flush();
    unlock(0);
    if (memo_) memo_->flush();
  }
  orders_.clear();
  focus_ = 0;
  memo_.reset();
  file_.close();
  from_image_ = false;
  image_.clear();
}

// ---------------------------------------------------------------- structure

int Table::field_index(std::string_view name) const {
  std::string_view n = name;
  while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
  while (!n.empty() && n.front() == ' ') n.remove_prefix(1);
  auto found = field_by_name_.find(base::upper_ascii(n));
  return found == field_by_name_.end() ? -1 : found->second;
}

Structure Table::structure() const {
  Structure s;
  for (const auto& f : fields_) {
    if (f.is_system()) continue;
    s.push_back({f.name, f.type, f.length, f.decimals});
  }
  return s;
}

bool Table::set_table_flags(std::uint8_t flags) {
  if (!writable_or_raise("DBSETFLAGS")) return false;
  if (int rc = file_.write_at(28, &flags, 1)) {
    raise(gencode::kWrite, rc, "Błąd zapisu nagłówka tabeli", "DBSETFLAGS");
    return false;
  }
  table_flags_ = flags;
  return true;
}


// ---------------------------------------------------------------- header and window

bool Table::write_header() {
  if (from_image_ || read_only_) return true;
  DbfHeader head;
  head.version = version_;
  head.stamp_today();
  head.header_length = static_cast<std::uint16_t>(header_length_);
  head.record_length = static_cast<std::uint16_t>(record_length_);
  head.flags = table_flags_;
  std::uint32_t count = count_;
  if (shared_) {
    // Another workstation may have appended since: never lower the count.
    std::uint8_t disk[4];
    if (file_.read_exact(4, disk, 4) == 0) count = std::max(count, le32(disk));
  }
  head.count = count;
  std::uint8_t h[DbfHeader::kSize] = {};
  head.encode(h);
  for (;;) {
    // Version, date and count only: the rest of the header is not ours to rewrite.
    int rc = file_.write_at(0, h, 8);
    if (!rc && count != count_in_header_) {
      std::uint8_t eof = 0x1A;
      rc = file_.write_at(std::uint64_t(header_length_) + std::uint64_t(count) * record_length_, &eof, 1);
    }
    if (!rc) break;
    if (!raise(gencode::kWrite, rc, "Błąd zapisu nagłówka tabeli", "DBCOMMIT", true)) return false;
  }
  count_in_header_ = count;
  header_dirty_ = false;
  return true;
}


}  // namespace zuv::table
