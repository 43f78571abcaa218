// Building index tags from the records of a table: evaluate the key of every record,
// sort in bounded memory, write the tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/table/cdx.h"
#include "platform/table/keyexpr.h"
#include "platform/table/ntx.h"

namespace zuv::table {

// The records an index is built from (deleted ones included: an index holds a key
// for every record).
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  virtual uint32_t source_count() const = 0;
  virtual void source_load(uint32_t recno) = 0;  // makes recno current for source_view
  virtual const RecordView& source_view() const = 0;
  virtual const FieldResolver& source_fields() const = 0;
};

// Where a build spent its time (seconds), for the benchmarks.
struct BuildTimes {
  double keys = 0;  // reading the records and gathering their keys (full sort runs sorted on the way)
  double sort = 0;  // the last run sorted and the merge prepared
  double tree = 0;  // the merge read out and the pages written
  size_t runs = 0;
};

struct BuildOptions {
  size_t memory_budget = size_t(64) << 20;  // bytes the key sort may hold
  std::string temp_dir;                     // OS path; empty: the index file's directory
  bool descending = false;
  bool unique = false;
  // Each tag to the disk as soon as it is built. A caller building all the tags of a
  // new file at once passes false: the file goes to the disk once, when it is closed.
  bool sync_each_tag = true;
  BuildTimes* times = nullptr;  // added to when given
};

// A tag's name and key expression.
using TagSpec = std::pair<std::string, std::string>;

// Adds (or replaces) a tag; a wrong expression fails before any record is read.
cdx::Tag& build_cdx_tag(cdx::CdxFile& file, RecordSource& records, const std::string& tag,
                        const std::string& expression, const BuildOptions& options = {});
// Adds (or replaces) tags, in the order given, from one pass over the records: each
// comes out as build_cdx_tag makes it, the sort's memory shared among them.
void build_cdx_tags(cdx::CdxFile& file, RecordSource& records, const std::vector<TagSpec>& tags,
                    const BuildOptions& options = {});

// Creates a single-key index file (written beside and swapped in).
std::unique_ptr<ntx::NtxFile> build_ntx(const std::string& path, RecordSource& records,
                                        const std::string& expression, const BuildOptions& options = {});

// Keys of single-key index files: numbers as their STR text, dates as DTOS text.
std::string ntx_key(const KeyExpression& expression, const RecordView& record, int key_size, int decimals);

std::string directory_of(const std::string& path);

}  // namespace zuv::table
