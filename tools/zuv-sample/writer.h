// How the sample puts its files on disk: tables through the table engine (record by
// record, so memory holds one record and the engine's window), indexes through the
// index catalogue's INDEXON, plain files in one write, and the dates of last update
// in every table header fixed afterwards so that a seed gives the same bytes every day.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <map>

#include "platform/os/codepage.h"
#include "platform/table/field.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "key_fields.h"

namespace zuv::sample {

// A failure the operator is told about (Polish text naming the file).
class SampleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The date every table header carries as its last update: 31 December 2025.
constexpr int kStampYear = 2025, kStampMonth = 12, kStampDay = 31;

// Table data and print templates are code page 852 text.
inline std::string cp852(std::string_view utf8) { return os::cp852_from_utf8(utf8); }

// A path of the sample: directory ending in "\" (Windows text) + name.
std::string join(const std::string& directory, std::string_view name);

// Creates directory and every missing parent (Windows text).
void make_directories(const std::string& directory);
// Writes a plain file (any earlier one replaced).
void write_plain(const std::string& path, std::string_view content);

class TableWriter {
 public:
  // Creates the table (".dbf" added when the name has no extension) and opens it
  // exclusively for appending.
  TableWriter(const std::string& path, const Structure& structure);
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  void append();
  // Field puts by name on the appended record; a name the layout lacks is a fault of
  // the sample itself and stops it.
  void text(std::string_view field, std::string_view value);
  void number(std::string_view field, double value);
  void date(std::string_view field, std::string_view yyyymmdd);
  void logical(std::string_view field, bool value);
  void memo(std::string_view field, std::string_view value);
  void remove();  // marks the appended record deleted
  bool has(std::string_view field) const;
  const table::Table& table() const { return *table_; }
  // Stores the last record and closes the table.
  void close();

 private:
  int index_of(std::string_view field);
  int find_index(std::string_view field);
  void put(std::string_view field, const table::Value& value);

  std::string path_;
  std::unique_ptr<table::Table> table_;
  std::map<std::string, int, std::less<>> fields_;  // lower-case names
  // Lookups by the text's address, checked against the name: the sample passes the
  // same literals for every record, so a put seldom searches the map.
  struct Cached {
    const char* data = nullptr;
    std::string name;
    int index = -1;
  };
  Cached cache_[64];
  table::Value scratch_;
};

// Creates an empty table.
void write_empty(const std::string& path, const Structure& structure);

// Builds the compound index of directory + name (no extension) with tags.
void build_index(table::WorkAreas& areas, const std::string& directory, const std::string& name, const TagPairs& tags);

// Sets the date of last update of every ".dbf" below directory (Windows text) to the
// sample's constant date; subdirectories too when recursive.
void stamp_tables(const std::string& directory, bool recursive);

}  // namespace zuv::sample
