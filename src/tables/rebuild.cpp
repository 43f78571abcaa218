#include "tables/rebuild.h"

#include <algorithm>
#include <cstring>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/base/text.h"
#include "platform/error/call_context.h"
#include "platform/error/error.h"
#include "platform/os/clock.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/table/copying.h"
#include "platform/table/dbf_header.h"
#include "platform/table/table.h"
#include "tables/table_access.h"

namespace zuv::tables {
namespace {

bool exists(const std::string& path) { return os::file_exists(path); }

// "C:\f\faktury.dbf" -> "C:\f\faktury~.dbf": the new content's place beside the target;
// its memo file ("faktury~.fpt") is distinct from the target's too.
std::string beside(const std::string& target) {
  std::string stem = base::without_extension(target);
  return stem + "~" + target.substr(stem.size());
}

void remove_pair(const std::string& file) {
  base::let_go(lib::DEL_FILE(file), "the rebuild writes its table anew; a leftover is replaced");
  base::let_go(lib::DEL_FILE(memo_file_of(file)), "the rebuild writes its table anew; a leftover is replaced");
}

// Shows records marked deleted for the life of the object, so that copies carry them
// with their marks; the setting is put back on every path.
class DeletedShown {
 public:
  explicit DeletedShown(table::WorkAreas& areas) : s_(areas.settings()), was_(s_.deleted_hidden) {
    s_.deleted_hidden = false;
  }
  ~DeletedShown() { s_.deleted_hidden = was_; }
  DeletedShown(const DeletedShown&) = delete;
  DeletedShown& operator=(const DeletedShown&) = delete;

 private:
  table::Settings& s_;
  bool was_;
};

// A target that exists must be writable and free before anything is written for it.
bool replaceable(const std::string& target) {
  if (!exists(target)) return true;
  auto attrs = os::get_attributes(target);
  if (attrs && (attrs.value & (os::kReadOnly | os::kHidden | os::kSystem)) &&
      !os::change_attributes(target, "-R-S-H"))
    return false;
  os::FileHandle probe;
  if (probe.open(os::native_path(target), os::Access::ReadWrite, os::Share::Exclusive) != 0) return false;
  return true;
}

bool rename_with_retries(const std::string& from, const std::string& to) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (exists(to)) {
      auto attrs = os::get_attributes(to);
      if (attrs && (attrs.value & os::kReadOnly))
        base::let_go(os::change_attributes(to, "-R-S-H"), "the rename below tells whether it was enough");
    }
    if (os::rename_file(from, to)) return true;
    SLEEP(10);
  }
  return false;
}

// Puts from (and its memo file) in the place of to (and its memo file) so that every
// failure leaves the old pair or the new pair, never a data file with the other
// pair's memo file (its block numbers would read another record's texts): the old
// memo file steps aside first, and a failed rename puts back what the ones before
// it moved. A memo file the new content does not have is removed only once the new
// data file is in place.
bool swap_in(const std::string& from, const std::string& to) {
  std::string from_memo = memo_file_of(from), to_memo = memo_file_of(to);
  if (!exists(from_memo)) {
    if (!rename_with_retries(from, to)) return false;
    if (exists(to_memo))
      base::let_go(lib::DEL_FILE(to_memo), "a table without memo fields never opens a memo file left beside it");
    return true;
  }
  const std::string aside = to_memo + ".zuvold";
  if (exists(aside)) base::let_go(lib::DEL_FILE(aside), "the rename below replaces a leftover it did not remove");
  const bool had_memo = exists(to_memo);
  if (had_memo && !rename_with_retries(to_memo, aside)) return false;
  auto put_back = [&] {
    if (had_memo) rename_with_retries(aside, to_memo);
  };
  if (!rename_with_retries(from_memo, to_memo)) {
    put_back();
    return false;
  }
  if (!rename_with_retries(from, to)) {
    rename_with_retries(to_memo, from_memo);
    put_back();
    return false;
  }
  if (had_memo) base::let_go(lib::DEL_FILE(aside), "the new pair is in place; the old memo kept aside is no longer read");
  return true;
}


// What the rebuild knows of the old table once it has looked at it.
struct OldTable {
  std::uint8_t version = 0;
  std::uint8_t table_flags = 0;  // the structural-index mark stays with the table
  std::uint32_t header_length = 0, record_length = 0, count = 0;
  std::vector<table::FieldDescriptor> fields;
  bool has_memo = false;
};

struct Added {
  std::optional<table::Value> value;
  int position = 0;  // 0-based in the new structure
};

bool sync_file(const std::string& file) {
  os::FileHandle f;
  return f.open(os::native_path(file), os::Access::ReadWrite, os::Share::Exclusive) == 0 && f.flush() == 0;
}

bool memo_carried_by_bytes(const OldTable& old) {
  return old.version == 0xF5 || old.version == 0x30 || old.version == 0x31 || old.version == 0x32;
}

// Whether the new table, created from the old structure plus the added fields, will
// hold every old field at the same place with the same form, so records can move as
// bytes. Mirrors how a table is created (dates 8, logicals 1, memos 10 wide, fields
// packed after the deletion mark); the fill checks the created table again.
bool bytes_can_carry(const OldTable& old, const table::Structure& structure, bool memo_file_present) {
  if (old.has_memo && !(memo_carried_by_bytes(old) && memo_file_present)) return false;
  if (structure.size() != old.fields.size()) return false;
  std::uint32_t offset = 1;
  for (size_t i = 0; i < old.fields.size(); ++i) {
    const table::FieldDescriptor& f = old.fields[i];
    const table::FieldInfo& s = structure[i];
    int width = f.type == 'D' ? 8 : f.type == 'L' ? 1 : f.type == 'M' ? 10 : -1;
    bool same_form = std::string("CNFDLM").find(f.type) != std::string::npos && s.type == f.type &&
                     s.length == f.length && s.decimals == f.decimals && (width < 0 || f.length == width);
    if (!same_form || f.offset != offset) return false;
    offset += f.length;
  }
  return offset == old.record_length;
}

// The backup of a table whose records move as bytes: a byte copy of its files, which
// holds the same records, marks and memo texts as an export would.
bool copy_backup(const std::string& table_file, const std::string& backup, bool has_memo) {
  if (!replaceable(backup) || !replaceable(memo_file_of(backup))) return false;
  remove_pair(backup);
  // The field addition reads the old files and renames the new ones over them, never
  // writing them in place, so a second name for their bytes is as good as a copy;
  // a file system without hard links gets the copy.
  auto keep = [](const std::string& from, const std::string& to) {
    return os::link_file(os::native_path(from), os::native_path(to)) == 0 || os::copy_file(from, to);
  };
  if (!keep(table_file, backup)) return false;
  return !has_memo || keep(memo_file_of(table_file), memo_file_of(backup));
}

// Copies the old records into the new table as bytes: the old fields keep their place
// in the record (the new ones follow), so each record's image, deletion mark and memo
// block numbers carry over unchanged, and the new memo file begins as a byte copy of
// the old one. Answers false when the layouts do not allow it (nothing written then)
// or, via failed, when a file operation failed.
bool fill_by_bytes(const std::string& old_file, const std::string& new_file, const OldTable& old,
                   const std::vector<Added>& added, bool& failed) {
  failed = false;
  bool memo_by_bytes = old.has_memo && memo_carried_by_bytes(old) && exists(memo_file_of(old_file));
  if (old.has_memo && !memo_by_bytes) return false;
  std::vector<std::uint8_t> tail;
  std::uint32_t new_header = 0, new_length = 0;
  bool layout_ok = guarded([&] {
    table::OpenOptions o;
    o.path = new_file;
    auto t = table::Table::open(o);
    if (!t) return false;
    if (t->field_count() < static_cast<int>(old.fields.size())) return false;
    for (size_t i = 0; i < old.fields.size(); ++i) {
      const auto &a = old.fields[i], &b = t->fields()[i];
      if (a.type != b.type || a.length != b.length || a.decimals != b.decimals || a.offset != b.offset) return false;
    }
    new_header = t->header_length();
    new_length = t->record_length();
    if (new_length < old.record_length) return false;
    std::vector<std::uint8_t> image(new_length, ' ');
    for (const Added& a : added)
      if (a.value && !t->fields()[a.position].is_memo() && !t->encode(a.position, *a.value, image.data()))
        return false;
    tail.assign(image.begin() + old.record_length, image.end());
    t->close();
    return true;
  });
  if (!layout_ok) return false;

  // The old data file, held for ourselves while its memo file is copied and its
  // records are read, so nobody changes either meanwhile.
  os::FileHandle in, out;
  if (in.open(os::native_path(old_file), os::Access::Read, os::Share::Exclusive) != 0) return failed = true, false;
  std::uint64_t in_size = 0;
  if (in.size(in_size) != 0 ||
      in_size < std::uint64_t(old.header_length) + std::uint64_t(old.count) * old.record_length)
    return failed = true, false;
  if (old.has_memo && !os::copy_file(memo_file_of(old_file), memo_file_of(new_file))) return failed = true, false;
  if (out.open(os::native_path(new_file), os::Access::ReadWrite, os::Share::Exclusive) != 0)
    return failed = true, false;

  // A quarter megabyte of records at a time: the writes a firm's steps hold in memory
  // share the process's memory with this copy.
  const std::uint32_t batch = std::max<std::uint32_t>(1, (256u << 10) / std::max<std::uint32_t>(new_length, 1));
  std::vector<std::uint8_t> src(std::size_t(batch) * old.record_length), dst(std::size_t(batch) * new_length);
  for (std::uint32_t done = 0; done < old.count;) {
    std::uint32_t n = std::min(batch, old.count - done);
    if (in.read_exact(old.header_length + std::uint64_t(done) * old.record_length, src.data(),
                      std::size_t(n) * old.record_length) != 0)
      return failed = true, false;
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint8_t* d = dst.data() + std::size_t(i) * new_length;
      std::memcpy(d, src.data() + std::size_t(i) * old.record_length, old.record_length);
      if (!tail.empty()) std::memcpy(d + old.record_length, tail.data(), tail.size());
    }
    if (out.write_at(new_header + std::uint64_t(done) * new_length, dst.data(), std::size_t(n) * new_length) != 0)
      return failed = true, false;
    done += n;
  }
  const std::uint8_t eof = 0x1A;
  if (out.write_at(new_header + std::uint64_t(old.count) * new_length, &eof, 1) != 0) return failed = true, false;
  std::uint8_t head[table::DbfHeader::kSize];
  if (out.read_exact(0, head, sizeof head) != 0) return failed = true, false;
  table::DbfHeader header = table::DbfHeader::decode(head);
  header.flags = old.table_flags;
  header.stamp_today();
  header.count = old.count;
  header.encode(head);
  if (out.write_at(0, head, sizeof head) != 0 || out.flush() != 0) return failed = true, false;
  out.close();
  in.close();

  // Initial memo texts go into blocks after the copied ones.
  bool memo_values = std::any_of(added.begin(), added.end(), [](const Added& a) {
    return a.value && a.value->type == table::ValueType::Memo;
  });
  if (!memo_values) {
    // The copied memo file goes to the disk before the swap puts it in the table's place.
    if (old.has_memo && !sync_file(memo_file_of(new_file))) return failed = true, false;
    return true;
  }
  bool ok = guarded([&] {
    table::OpenOptions o;
    o.path = new_file;
    auto t = table::Table::open(o);
    if (!t) return false;
    for (std::uint32_t r = 1; r <= old.count; ++r) {
      t->go_to(r);
      for (const Added& a : added)
        if (a.value && t->fields()[a.position].is_memo() && !t->put(a.position, *a.value)) return false;
    }
    if (!t->commit()) return false;
    t->close();
    return true;
  });
  if (ok && !(sync_file(new_file) && sync_file(memo_file_of(new_file)))) ok = false;
  if (!ok) failed = true;
  return ok;
}

// Copies record by record through the engine from the backup (old tables whose layout
// or memo file the byte copy cannot take over).
bool fill_by_values(table::WorkAreas& areas, const std::string& directory, const std::string& backup,
                    const std::string& fresh, const std::vector<Added>& added, std::uint8_t table_flags,
                    const std::function<void(table::Table&)>& each = {}, bool same_form = false) {
  if (!OTWORZ(areas, directory, backup, "robo0")) return false;
  if (!OTWORZ(areas, directory, fresh, "robo1")) {
    ZAMKNIJ(areas, "robo0");
    return false;
  }
  bool ok = guarded([&] {
    table::Table* from = areas.find("robo0");
    table::Table* to = areas.find("robo1");
    int n = from->field_count();
    std::vector<table::Value> values(static_cast<size_t>(n));
    // Fields of the same form keep their bytes (a blank number stays blank), in runs
    // between the memo fields, whose texts go by value.
    std::vector<std::pair<int, int>> runs;
    if (same_form)
      for (int i = 0; i < n;) {
        if (from->fields()[i].is_memo()) {
          ++i;
          continue;
        }
        int j = i;
        while (j < n && !from->fields()[j].is_memo()) ++j;
        runs.push_back({i, j - i});
        i = j;
      }
    for (std::uint32_t r = 1, count = from->record_count(); r <= count; ++r) {
      from->go_to(r);
      bool deleted = from->deleted();
      if (!to->append()) return false;
      if (same_form) {
        for (auto [first, k] : runs)
          if (!to->put_bytes(first, from->record_buffer() + from->fields()[first].offset, k)) return false;
        for (int i = 0; i < n; ++i)
          if (from->fields()[i].is_memo() && !to->put(i, from->get(i))) return false;
      } else {
        for (int i = 0; i < n; ++i) from->read(i, values[static_cast<size_t>(i)]);
        for (int i = 0; i < n; ++i)
          if (!to->put(i, values[static_cast<size_t>(i)])) return false;
      }
      for (const Added& a : added)
        if (a.value && !to->put(a.position, *a.value)) return false;
      if (deleted && !to->remove()) return false;
      if (each) each(*to);
    }
    return to->commit() && (table_flags == to->table_flags() || to->set_table_flags(table_flags));
  });
  ZAMKNIJ(areas, "robo0");
  ZAMKNIJ(areas, "robo1");
  return ok;
}

}  // namespace

std::string memo_file_of(std::string_view table_file) {
  return base::with_extension(table_file, "fpt");
}

bool EXPORTUJ(table::WorkAreas& areas, std::string_view target_view, const std::vector<std::string>& fields,
              const std::function<bool(table::Table&)>& condition) {
  CallContext routine("EXPORTUJ");
  table::Table* source = areas.current();
  std::string target(target_view);
  if (!source || !replaceable(target) || !replaceable(memo_file_of(target))) return false;
  std::string temp = beside(target);
  remove_pair(temp);
  bool ok = false;
  for (int attempt = 0; attempt < 10 && !ok; ++attempt) {
    ok = guarded([&] { return table::export_records(*source, temp, fields, condition); });
    if (!ok) {
      remove_pair(temp);
      SLEEP(20);
    }
  }
  if (!ok || !swap_in(temp, target)) {
    remove_pair(temp);
    return false;
  }
  return exists(target);
}

bool LBCREATE(std::string_view target_view, const table::Structure& structure) {
  std::string target(target_view);
  if (!replaceable(target) || !replaceable(memo_file_of(target))) return false;
  std::string temp = beside(target);
  remove_pair(temp);
  bool ok = false;
  for (int attempt = 0; attempt < 10 && !ok; ++attempt) {
    ok = guarded([&] { return table::Table::create(temp, structure); });
    if (!ok) {
      remove_pair(temp);
      SLEEP(10);
    }
  }
  if (!ok || !swap_in(temp, target)) {
    remove_pair(temp);
    return false;
  }
  return exists(target);
}

bool DODAJ_POLE(table::WorkAreas& areas, const table::Structure& fields,
                const std::vector<std::optional<table::Value>>& initial, std::string_view directory_view,
                std::string_view table_view, const std::function<void(table::Table&)>& each) {
  CallContext routine("DODAJ_POLE");
  const std::string directory(directory_view);
  const std::string name = lib::lower_ascii(table_view);
  const std::string backup = "z" + name, fresh = "x" + name;
  DeletedShown shown(areas);

  if (!OTWORZ(areas, directory, name, "robo")) return false;
  table::Table* t = areas.find("robo");
  OldTable old;
  table::Structure structure;
  bool known = guarded([&] {
    structure = t->structure();
    old.version = t->version();
    old.table_flags = t->table_flags();
    old.header_length = t->header_length();
    old.record_length = t->record_length();
    old.count = t->record_count();
    old.fields = t->fields();
    old.has_memo = t->has_memo();
    return true;
  });
  if (!known) {
    ZAMKNIJ(areas, "robo");
    return false;
  }
  table::Structure wider = structure;
  std::vector<Added> added;
  for (size_t i = 0; i < fields.size(); ++i) {
    bool present = std::any_of(structure.begin(), structure.end(),
                               [&](const table::FieldInfo& f) { return f.name == fields[i].name; });
    if (present) continue;
    wider.push_back(fields[i]);
    added.push_back({i < initial.size() ? initial[i] : std::nullopt, static_cast<int>(wider.size()) - 1});
  }
  if (added.empty()) {
    ZAMKNIJ(areas, "robo");
    return true;
  }
  // Records that move as bytes need no decoding for their backup either.
  const bool by_bytes = bytes_can_carry(old, structure, exists(memo_file_of(directory + name)));
  areas.select("robo");
  if (!by_bytes && !EXPORTUJ(areas, directory + backup)) {
    ZAMKNIJ(areas, "robo");
    return false;
  }
  ZAMKNIJ(areas, "robo");
  if (by_bytes && !copy_backup(directory + name, directory + backup, old.has_memo)) return false;
  if (!LBCREATE(directory + fresh, wider)) return false;

  bool failed = false;
  // A conversion of every record needs the values: read from the old table itself
  // (which stays as it is until the swap) rather than from a second copy of it.
  bool filled = each ? fill_by_values(areas, directory, by_bytes ? name : backup, fresh, added, old.table_flags, each,
                                      by_bytes)
                     : by_bytes && fill_by_bytes(directory + name, directory + fresh, old, added, failed);
  if (!filled && !failed && !each) {
    // The copy by values reads an exported backup, not the byte copy.
    if (by_bytes) {
      if (!OTWORZ(areas, directory, name, "robo")) return false;
      areas.select("robo");
      bool saved = EXPORTUJ(areas, directory + backup);
      ZAMKNIJ(areas, "robo");
      if (!saved) return false;
    }
    filled = fill_by_values(areas, directory, backup, fresh, added, old.table_flags);
  }
  if (!filled) return false;
  if (!swap_in(directory + fresh, directory + name)) return false;
  remove_pair(directory + backup);
  remove_pair(directory + fresh);
  return true;
}

bool DODAJ_POLA(table::WorkAreas& areas, std::string_view directory_view, std::string_view table_view,
                const table::Structure& fields) {
  CallContext routine("DODAJ_POLA");
  const std::string directory(directory_view), name(table_view);
  const std::string path = directory + name, backup = directory + "stary.dbf";
  if (!exists(path)) return true;
  for (int i = 0; i < 10 && exists(backup); ++i) remove_pair(backup);
  SLEEP(10);

  table::Structure structure;
  {
    DeletedShown shown(areas);
    if (!OTWORZ(areas, directory, name, "ala")) return false;
    guarded([&] {
      structure = areas.find("ala")->structure();
      return true;
    });
    areas.select("ala");
    bool saved = EXPORTUJ(areas, backup);
    ZAMKNIJ(areas, "ala");
    if (!saved) return false;
  }
  bool any_missing = false;
  for (const auto& f : fields) {
    std::string wanted = lib::upper_ascii(f.name);
    bool present = std::any_of(structure.begin(), structure.end(),
                               [&](const table::FieldInfo& s) { return lib::upper_ascii(s.name) == wanted; });
    if (present) continue;
    structure.push_back({wanted, f.type, f.length, f.decimals});
    any_missing = true;
  }
  if (!any_missing) return true;

  DeletedShown shown(areas);
  bool opened = false;
  for (int i = 0; i < 10 && !opened; ++i) {
    opened = S_OTWORZ(areas, directory, "stary.dbf", "stary0");
    if (!opened) SLEEP(5);
  }
  if (!opened) return false;
  // The new table is made and filled beside the old one and then swapped in.
  std::string temp = beside(path);
  remove_pair(temp);
  bool created = false;
  for (int i = 0; i < 10 && !created; ++i) {
    created = guarded([&] { return table::Table::create(temp, structure); });
    if (!created) SLEEP(5);
  }
  bool ok = false;
  if (created) {
    std::string temp_name = temp.substr(directory.size());
    bool open = false;
    for (int i = 0; i < 10 && !open; ++i) {
      open = OTWORZ(areas, directory, temp_name, "nowy");
      if (!open) SLEEP(5);
    }
    if (open) {
      ok = guarded([&] {
        table::Table* nowy = areas.find("nowy");
        return table::import_records(*nowy, backup) && nowy->commit();
      });
    }
    ZAMKNIJ(areas, "nowy");
  }
  ZAMKNIJ(areas, "stary0");
  if (ok) ok = swap_in(temp, path);
  if (!ok) remove_pair(temp);
  return ok;
}

}  // namespace zuv::tables
