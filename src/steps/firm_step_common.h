// The common shape of a firm data step: the version test that makes a step run once,
// the directories it may use, the checked forms of the helpers it calls, and the
// version record written last. A helper that answers false here raises a runtime error
// (through the current handler), so the firm keeps its old version and the driver's
// per-firm trap reports it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/table/field.h"
#include "platform/table/value.h"
#include "steps/steps.h"

namespace zuv::table {
class Table;
}

namespace zuv::steps {

// True when the firm's recorded version already reaches the step's own (texts
// compared as the suite compares them): the step then changes nothing.
bool firm_reached(const std::string& firm_version, std::string_view step_version);

// OTWORZ that raises a runtime error naming the table when the open fails.
void open_or_fail(StepContext& ctx, const std::string& directory, std::string_view name, std::string_view alias,
                  std::optional<std::string> order = std::nullopt);
// DODAJ_POLE that raises a runtime error when the fields could not be added.
void add_fields_or_fail(StepContext& ctx, const table::Structure& fields,
                        const std::vector<std::optional<table::Value>>& initial, const std::string& directory,
                        std::string_view name, const std::function<void(table::Table&)>& each = {});
// INDEXON that raises a runtime error when the index could not be built.
void index_or_fail(StepContext& ctx, const std::string& table_path,
                   const std::vector<std::pair<std::string, std::string>>& tags);
// FCOPY that raises a runtime error when the copy did not take (a missing source
// included): a firm table the step replaces or keeps must not silently stay behind.
void copy_or_fail(const std::string& source, const std::string& destination);
// Puts a work file the step no longer needs in the destination's place: renamed over it
// in one step (the destination is never missing), or, where the rename is refused,
// copied as copy_or_fail does and then deleted.
void move_or_fail(const std::string& source, const std::string& destination);
// Raises a runtime error (generic code, description, file) through the current handler.
[[noreturn]] void step_failed(int gen_code, const std::string& description, const std::string& file);

// Writes the firm's "wersja.dbf" (alias "wer"): baza := version, nr := 26.01,
// wariant := the three-digit step number. Raises a runtime error when it cannot.
void write_firm_version(StepContext& ctx, const std::string& firm_dir, std::string_view version,
                        std::string_view wariant);

}  // namespace zuv::steps
