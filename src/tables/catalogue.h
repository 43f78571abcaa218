// The firm index catalogue: every firm table's compound index with its tags, and the
// routines that rebuild one table's index (INDEXON) or a whole firm's (INDEKSUJ).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/table/work_areas.h"

namespace zuv::tables {

// {tag name, key expression}, created in this order (the first is the file's first).
using TagList = std::vector<std::pair<std::string, std::string>>;

struct CatalogueEntry {
  enum Kind { Index, Delete } kind = Index;
  std::string name;       // relative to the firm directory, without extension; Delete: the file
  std::string condition;  // Index: built only when this data file exists ("" always)
  TagList tags;
};

// The catalogue in its order.
const std::vector<CatalogueEntry>& firm_catalogue();

// INDEXON's answers.
enum IndexResult { kIndexBuilt = 0, kIndexNotBuilt = 1, kIndexNotDeleted = 2 };

// Rebuilds table (path without extension) + ".cdx" from tags: deletes the old compound
// file (20 tries 100 ms apart; 2 when it stays), opens the table exclusively (11 tries
// 50 ms apart) under "roboczy" or the first free fallback name, and creates every tag
// (20 tries each, 100 ms apart). 1 when the table is missing, cannot be opened or a
// tag cannot be created; the table is closed again in every case.
// An index this process built, asked for again with the same tags while neither its
// table nor its file changed since, is left as it is.
[[nodiscard]] int INDEXON(table::WorkAreas& areas, std::string_view table, const TagList& tags);
// Forgets which indexes this process built (a firm's work starts afresh).
void forget_built_indexes();

// What a firm rebuild did, entry by entry, for those who want to know.
struct FirmIndexReport {
  struct Item {
    std::string name;
    int result = 0;        // INDEXON's answer; -1: skipped by its condition; -2: a deletion entry
    bool existed = true;   // deletion entries: the file was there to delete
  };
  std::vector<Item> items;
  bool status_marked = false;  // "ntx.dbf" marked complete
};

// Deletes every compound index of the firm directory, rebuilds them from the
// catalogue (removing the files the catalogue retires) and marks every record of the
// firm's "ntx.dbf" complete. Nothing is shown; the results are only reported.
FirmIndexReport INDEKSUJ(table::WorkAreas& areas, std::string_view firm_directory);

}  // namespace zuv::tables
