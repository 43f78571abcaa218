// Checked table work for the firm data steps: the tables a step opens are closed on
// every path out of it, changes are stored before a close counts as done, and a field
// the step needs but the table lacks is a runtime error rather than a silent blank.
// Every failure is raised through the current handler (step_failed), so the firm keeps
// its old version and the driver's per-firm trap reports it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/table/table.h"
#include "steps/steps.h"

namespace zuv::steps {

// The tables one step has open. A table left open by a failing step would be found by
// the next firm's step under the same alias (OTWORZ answers an open alias as it is),
// so the destructor closes whatever is still open.
class StepTables {
 public:
  explicit StepTables(StepContext& ctx) : ctx_(ctx) {}
  ~StepTables();
  StepTables(const StepTables&) = delete;
  StepTables& operator=(const StepTables&) = delete;

  // OTWORZ (directory, name, alias, order), raising when the table cannot be opened.
  table::Table& open(const std::string& directory, std::string_view name, std::string_view alias,
                     std::optional<std::string> order = std::nullopt);
  // Stores every change of the table (a failure raises) and closes it.
  void close(std::string_view alias);

 private:
  StepContext& ctx_;
  std::vector<std::string> open_;
};

// The number of fields of directory + name (opened and closed again).
int field_count_or_fail(StepContext& ctx, const std::string& directory, std::string_view name);

// 0-based index of a field, raising when the table has no such field.
int field_or_fail(const table::Table& t, std::string_view name);

// Field values as the steps compare them: texts without trailing blanks (the runtime's
// comparison with exact on ignores them), numbers (blank reads 0; a field of another
// type raises), dates as "YYYYMMDD" or eight blanks (empty sorts first).
std::string text_of(const table::Table& t, std::string_view name);
double number_of(const table::Table& t, std::string_view name);
double number_at(const table::Table& t, int position);  // 1-based
std::string date_of(const table::Table& t, std::string_view name);

// FIELDPUT that raises when the value could not be stored.
void put_or_fail(table::Table& t, int field, const table::Value& v);
void put_text(table::Table& t, std::string_view name, std::string_view text);
void put_number(table::Table& t, std::string_view name, double n);
void put_number_at(table::Table& t, int position, double n);  // 1-based
void put_date(table::Table& t, std::string_view name, const std::string& yyyymmdd);

// The key to seek a text field's value in an order over a field of length width: the
// value padded (or cut) to that width, so that a short value does not match a longer
// key by its prefix.
table::Value text_key(std::string_view text, int width);

// DBSEEK of a field's value in t's controlling order, whose key starts with key_field:
// a text value is first brought to key_field's width. True when found.
bool seek_exact(table::Table& t, std::string_view key_field, const table::Value& value);

// A buffer line's amounts from its quantity and unit price, r being the numeric value
// of its trimmed rate text: from the net price (netto, vat on it, brutto their sum) or
// from the gross price (brutto, the vat inside it, netto the difference).
void amounts_from_price(table::Table& line, bool from_net_price);

// VAL: the number a text starts with, after leading blanks ("23" 23, " 8" 8, "5.5"
// 5.5, "ZW" 0, "np I" 0).
double VAL(std::string_view text);

// Numbers compare with the tolerance 0.000001.
inline bool is_zero(double n) { return n < 0.000001 && n > -0.000001; }

}  // namespace zuv::steps
