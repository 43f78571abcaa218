// Adding fields to a table by rebuilding it, and the two guarded file wrappers the
// rebuild rests on.
//
// Every replacement here writes the new content beside the target and renames it over
// the target, so the target's own name holds the complete old or the complete new
// content at every moment; nothing is deleted before its replacement exists.
//
// A table is a pair of files (.dbf and .fpt) that cannot be renamed together. The
// field addition keeps the pair consistent through its swap by keeping the memo blocks
// where they were: the new memo file starts as a byte copy of the old one (new memo
// texts go after its end) and every copied record keeps its block numbers. So during
// the swap (memo file first, then the data file) the old data file reads the same
// texts from the new memo file as from the old one, and a crash between the two renames
// leaves the old table readable and complete; running the rebuild again finishes it.
// LBCREATE renames the data file first instead: the new, empty data file refers to no
// memo block, so it reads correctly beside either memo file. EXPORTUJ writes its memo
// texts anew; between its two renames the target's pair is mixed for an instant, which
// is why the field addition does not put live tables in place through it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/table/field.h"
#include "platform/table/value.h"
#include "platform/table/work_areas.h"

namespace zuv::tables {

// The memo file of a table file: the name cut after its last '.' plus "fpt".
std::string memo_file_of(std::string_view table_file);

// DBEXPORT of the selected area into target (written beside, then swapped in): the
// fields named (all when empty) of the records for which condition holds. Deleted
// records are copied, with their mark, only while the setting shows them. False when
// the target exists and cannot be replaced (checked before exporting), when ten
// attempts of the export failed, or when the target is missing afterwards.
bool EXPORTUJ(table::WorkAreas& areas, std::string_view target, const std::vector<std::string>& fields = {},
              const std::function<bool(table::Table&)>& condition = {});

// Creates an empty table (and its memo file when the structure has memo fields) at
// target, replacing an old one by a swap. False when that failed or target is missing.
bool LBCREATE(std::string_view target, const table::Structure& structure);

// Makes sure every field of fields exists in directory + table (a ".dbf" name): the
// missing ones (names compared exactly) are added after the old fields, holding the
// parallel initial value where one is given. True when nothing was missing or the
// table was rebuilt; false when the table could not be opened for itself, or the
// backup or the new table could not be written (the table is then as it was, and the
// working files "z"/"x" + name stay for inspection). Every record, deletion mark and
// memo text is kept. Leaves no work area open. each, when given, is called with the new
// table on every record (deleted ones too) once its values are in, before it is
// stored: a step that would walk the widened table next converts it as it is made,
// writing it once.
bool DODAJ_POLE(table::WorkAreas& areas, const table::Structure& fields,
                const std::vector<std::optional<table::Value>>& initial, std::string_view directory,
                std::string_view table, const std::function<void(table::Table&)>& each = {});

// The self-test's variant: adds the missing fields (names compared in upper case),
// keeping "stary.dbf" as the backup. True also when the table is missing or nothing
// was missing; false when the backup or the new table could not be made (the table is
// then as it was).
bool DODAJ_POLA(table::WorkAreas& areas, std::string_view directory, std::string_view table,
                const table::Structure& fields);

}  // namespace zuv::tables
