// Copying records between tables. Both directions honour the source's deleted-records
// setting: while deleted records are hidden they are not copied; while they are shown
// they are copied with their deletion mark.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/table/table.h"

namespace zuv::table {

// DBEXPORT: a new table at path with the source's structure (or only the named fields,
// in the order given) and every record of the source, in record order, for which
// condition holds. The source keeps its position. false after a raised error.
bool export_records(Table& source, const std::string& path, const std::vector<std::string>& fields = {},
                    const std::function<bool(Table&)>& condition = {});

// DBIMPORT: appends every record of the table at path to target, fields matched by
// name (a field the target lacks, or of an incompatible type, is left out). each, when
// given, is called with the target on every appended record before it is stored: a
// conversion of the new records costs no second write of the table.
bool import_records(Table& target, const std::string& path, const std::function<void(Table&)>& each = {});

}  // namespace zuv::table
