// The structural checker behind zuv-dbcheck: tables, memo files and index files.
// It parses every page itself, with none of the writer's code, so a fault the writer
// makes is not hidden by the same fault in its reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zuv::table {

struct CheckFault {
  std::string file;
  std::string tag;    // empty when not about a tag
  int64_t page = -1;  // byte offset of the page, -1 when none
  std::string message;
};

struct CheckReport {
  std::vector<CheckFault> faults;
  std::vector<std::string> files;  // every file looked at
  bool clean() const { return faults.empty(); }
  std::string text() const;  // one line per fault
};

// A table's header alone: version, field descriptors, record length, the record count
// against the file's size. Reads no record: cheap enough for every table of a run.
void check_table_structure(const std::string& dbf_path, CheckReport& report);
// The first fault check_table_structure finds, "" when there is none.
std::string table_structure_fault(const std::string& dbf_path);
// A table with its memo file and the compound index of the same name when present.
void check_table(const std::string& dbf_path, CheckReport& report);
// One compound index against its table (dbf_path empty: structure only).
void check_cdx(const std::string& cdx_path, const std::string& dbf_path, CheckReport& report);
// One single-key index against its table (dbf_path empty: structure only).
void check_ntx(const std::string& ntx_path, const std::string& dbf_path, CheckReport& report);
// An index file's bytes in memory, structure only (the fuzzer).
void check_cdx_image(const std::string& name, std::vector<uint8_t> bytes, CheckReport& report);
void check_ntx_image(const std::string& name, std::vector<uint8_t> bytes, CheckReport& report);
// A table, an index file or a whole directory tree.
void check_path(const std::string& path, CheckReport& report);

}  // namespace zuv::table
