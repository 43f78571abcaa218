#include "writer.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "lib/text.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "tables/catalogue.h"

namespace zuv::sample {

std::string join(const std::string& directory, std::string_view name) {
  std::string out = directory;
  if (!out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
  out += name;
  return out;
}

void make_directories(const std::string& directory) {
  std::error_code ec;
  std::filesystem::create_directories(os::native_path(directory), ec);
  if (ec || !os::directory_exists(directory))
    throw SampleError("Nie można utworzyć katalogu " + directory + " (" + ec.message() + ")");
}

namespace {

// The OS path of a file about to be made: its directory mapped (it exists), its name
// as given, so that making a file does not search the directory for another spelling.
std::filesystem::path new_file_path(const std::string& path) {
  std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return std::filesystem::path(os::native_path(path));
  return std::filesystem::path(os::native_path(path.substr(0, cut + 1))) / path.substr(cut + 1);
}

void write_native(const std::filesystem::path& file, std::string_view content, const std::string& shown) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw SampleError("Nie można zapisać pliku " + shown);
}

std::string read_native(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Empty tables by layout: the first of a layout is created by the engine, the later
// ones are byte copies of it. The engine's create makes each table durable on its own
// (a sync per file), which a sample of thousands of new files does not need.
struct EmptyTable {
  std::string dbf;
  std::string fpt;  // empty when the layout has no memo field
};

std::string signature(const Structure& structure) {
  std::string key;
  for (const auto& f : structure) {
    key += lib::upper_ascii(f.name);
    key += ':';
    key += f.type;
    key += std::to_string(f.length) + "." + std::to_string(f.decimals) + ",";
  }
  return key;
}

void create_table(const std::string& path, const Structure& structure) {
  static std::map<std::string, EmptyTable> made;
  std::string dbf_path = path;
  std::size_t dot = dbf_path.find_last_of('.'), sep = dbf_path.find_last_of("\\/");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) dbf_path += ".dbf";
  std::string fpt_path = dbf_path.substr(0, dbf_path.size() - 3) + "fpt";
  std::string key = signature(structure);
  auto it = made.find(key);
  if (it == made.end()) {
    if (!table::Table::create(dbf_path, structure)) throw SampleError("Nie można utworzyć tabeli " + dbf_path);
    EmptyTable t{read_native(os::native_path(dbf_path)), ""};
    for (const auto& f : structure)
      if (f.type == 'M') t.fpt = read_native(os::native_path(fpt_path));
    made.emplace(key, std::move(t));
    return;
  }
  write_native(new_file_path(dbf_path), it->second.dbf, dbf_path);
  if (!it->second.fpt.empty()) write_native(new_file_path(fpt_path), it->second.fpt, fpt_path);
}

}  // namespace

void write_plain(const std::string& path, std::string_view content) { write_native(new_file_path(path), content, path); }

TableWriter::TableWriter(const std::string& path, const Structure& structure) : path_(path) {
  create_table(path, structure);
  table::OpenOptions options;
  options.path = path;
  table_ = table::Table::open(options);
  if (!table_) throw SampleError("Nie można otworzyć tabeli " + path);
  for (int i = 0; i < table_->field_count(); ++i) fields_.emplace(lib::lower_ascii(table_->fields()[i].name), i);
}

TableWriter::~TableWriter() {
  if (table_) table_->close();
}

void TableWriter::append() {
  if (!table_->append()) throw SampleError("Nie można dopisać rekordu do tabeli " + path_);
}

int TableWriter::index_of(std::string_view field) {
  Cached& slot = cache_[(reinterpret_cast<std::uintptr_t>(field.data()) >> 3) % std::size(cache_)];
  if (slot.data == field.data() && slot.name == field) return slot.index;
  int index = find_index(field);
  slot.data = field.data();
  slot.name.assign(field);
  slot.index = index;
  return index;
}

int TableWriter::find_index(std::string_view field) {
  auto it = fields_.find(field);  // the sample names most fields in lower case already
  if (it == fields_.end()) it = fields_.find(lib::lower_ascii(field));
  if (it == fields_.end()) throw SampleError("Tabela " + path_ + " nie ma pola " + std::string(field));
  return it->second;
}

bool TableWriter::has(std::string_view field) const { return fields_.find(lib::lower_ascii(field)) != fields_.end(); }

void TableWriter::put(std::string_view field, const table::Value& value) {
  if (!table_->put(index_of(field), value))
    throw SampleError("Nie można zapisać pola " + std::string(field) + " w tabeli " + path_);
}

void TableWriter::text(std::string_view field, std::string_view value) {
  scratch_.type = table::ValueType::Text;
  scratch_.text.assign(value);
  put(field, scratch_);
}

void TableWriter::number(std::string_view field, double value) { put(field, table::Value::of_number(value)); }
void TableWriter::date(std::string_view field, std::string_view yyyymmdd) { put(field, table::Value::of_date(yyyymmdd)); }
void TableWriter::logical(std::string_view field, bool value) { put(field, table::Value::of_logical(value)); }
void TableWriter::memo(std::string_view field, std::string_view value) { put(field, table::Value::of_memo(value)); }

void TableWriter::remove() {
  if (!table_->remove()) throw SampleError("Nie można oznaczyć rekordu do usunięcia w tabeli " + path_);
}

void TableWriter::close() {
  if (!table_) return;
  bool ok = table_->commit();
  table_->close();
  table_.reset();
  if (!ok) throw SampleError("Nie można zapisać tabeli " + path_);
}

void write_empty(const std::string& path, const Structure& structure) { create_table(path, structure); }

void build_index(table::WorkAreas& areas, const std::string& directory, const std::string& name, const TagPairs& tags) {
  tables::TagList list(tags.begin(), tags.end());
  if (tables::INDEXON(areas, join(directory, name), list) != tables::kIndexBuilt)
    throw SampleError("Nie można zbudować indeksu tabeli " + join(directory, name));
}

namespace {

void stamp_one(const std::filesystem::path& file) {
  os::FileHandle handle;
  if (handle.open(file.string(), os::Access::ReadWrite, os::Share::Exclusive) != 0)
    throw SampleError("Nie można otworzyć pliku " + file.string());
  std::uint8_t date[3] = {static_cast<std::uint8_t>(kStampYear - 1900), static_cast<std::uint8_t>(kStampMonth),
                          static_cast<std::uint8_t>(kStampDay)};
  if (handle.write_at(1, date, sizeof date) != 0) throw SampleError("Nie można zapisać pliku " + file.string());
}

bool is_table_file(const std::filesystem::path& p) {
  return lib::lower_ascii(p.extension().string()) == ".dbf";
}

}  // namespace

void stamp_tables(const std::string& directory, bool recursive) {
  std::filesystem::path root = os::native_path(directory);
  std::error_code ec;
  if (recursive) {
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      if (it->is_regular_file() && is_table_file(it->path())) stamp_one(it->path());
  } else {
    for (auto it = std::filesystem::directory_iterator(root, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
      if (it->is_regular_file() && is_table_file(it->path())) stamp_one(it->path());
  }
  if (ec) throw SampleError("Nie można przejrzeć katalogu " + directory + " (" + ec.message() + ")");
}

}  // namespace zuv::sample
