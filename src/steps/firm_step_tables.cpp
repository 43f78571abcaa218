#include "steps/firm_step_tables.h"

#include <algorithm>
#include <cstdlib>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/table/work_areas.h"
#include "steps/firm_step_common.h"
#include "platform/error/error.h"
#include "tables/table_access.h"

namespace zuv::steps {

StepTables::~StepTables() {
  // Reached with tables still open only when the step failed; the failure is already
  // on its way, so what closing finds is not raised again.
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) tables::ZAMKNIJ(ctx_.areas, *it);
}

table::Table& StepTables::open(const std::string& directory, std::string_view name, std::string_view alias,
                               std::optional<std::string> order) {
  open_or_fail(ctx_, directory, name, alias, std::move(order));
  open_.emplace_back(alias);
  table::Table* t = ctx_.areas.find(std::string(alias));
  if (!t) step_failed(gencode::kOpen, "Nie można otworzyć tabeli " + std::string(name), directory + std::string(name));
  return *t;
}

void StepTables::close(std::string_view alias) {
  std::string a(alias);
  auto it = std::find(open_.begin(), open_.end(), a);
  if (it != open_.end()) open_.erase(it);
  table::Table* t = ctx_.areas.find(a);
  if (!t) return;
  // ZAMKNIJ stores silently; a change that did not reach the disk must stop the step
  // before it records its version.
  std::string path = t->path();
  bool stored = t->commit();
  stored = tables::ZAMKNIJ(ctx_.areas, a) && stored;
  if (!stored) step_failed(gencode::kWrite, "Nie można zapisać tabeli " + path, path);
}

int field_count_or_fail(StepContext& ctx, const std::string& directory, std::string_view name) {
  StepTables tables(ctx);
  int n = tables.open(directory, name, "robo_fc").field_count();
  tables.close("robo_fc");
  return n;
}

int field_or_fail(const table::Table& t, std::string_view name) {
  int i = t.field_index(name);
  if (i < 0) step_failed(gencode::kArgument, "Brak pola " + std::string(name) + " w tabeli " + t.path(), t.path());
  return i;
}

namespace {
double number_in(const table::Table& t, int i) {
  table::Value v = t.get(i);
  if (v.type != table::ValueType::Number)
    step_failed(gencode::kArgument, "Pole " + t.fields()[i].name + " tabeli " + t.path() + " nie jest liczbą",
                t.path());
  return v.number;
}

int position_or_fail(const table::Table& t, int position) {
  if (position < 1 || position > t.field_count())
    step_failed(gencode::kArgument, "Brak pola nr " + std::to_string(position) + " w tabeli " + t.path(), t.path());
  return position - 1;
}
}  // namespace

std::string text_of(const table::Table& t, std::string_view name) {
  return lib::rtrim(t.get(field_or_fail(t, name)).text);
}

double number_of(const table::Table& t, std::string_view name) { return number_in(t, field_or_fail(t, name)); }

double number_at(const table::Table& t, int position) { return number_in(t, position_or_fail(t, position)); }

std::string date_of(const table::Table& t, std::string_view name) {
  int i = field_or_fail(t, name);
  table::Value v = t.get(i);
  if (v.type != table::ValueType::Date)
    step_failed(gencode::kArgument, "Pole " + std::string(name) + " tabeli " + t.path() + " nie jest datą", t.path());
  return v.is_empty_date() ? std::string(8, ' ') : v.text;
}

void put_or_fail(table::Table& t, int field, const table::Value& v) {
  if (!t.put(field, v))
    step_failed(gencode::kWrite, "Nie można zapisać pola " + t.fields()[field].name + " tabeli " + t.path(),
                t.path());
}

void put_text(table::Table& t, std::string_view name, std::string_view text) {
  put_or_fail(t, field_or_fail(t, name), table::Value::of_text(text));
}

void put_number(table::Table& t, std::string_view name, double n) {
  put_or_fail(t, field_or_fail(t, name), table::Value::of_number(n));
}

void put_number_at(table::Table& t, int position, double n) {
  put_or_fail(t, position_or_fail(t, position), table::Value::of_number(n));
}

void put_date(table::Table& t, std::string_view name, const std::string& yyyymmdd) {
  put_or_fail(t, field_or_fail(t, name), table::Value::of_date(yyyymmdd));
}

table::Value text_key(std::string_view text, int width) {
  std::string k(text.substr(0, std::min<std::size_t>(text.size(), std::size_t(std::max(width, 0)))));
  if (static_cast<int>(k.size()) < width) k.append(std::size_t(width) - k.size(), ' ');
  return table::Value::of_text(k);
}

bool seek_exact(table::Table& t, std::string_view key_field, const table::Value& value) {
  table::Value key = value;
  if (key.type == table::ValueType::Text) key = text_key(lib::rtrim(value.text), t.fields()[field_or_fail(t, key_field)].length);
  return t.seek(key, false) && t.found();
}

void amounts_from_price(table::Table& line, bool from_net_price) {
  double r = VAL(lib::trim(text_of(line, "ptu")));
  double quantity = number_of(line, "ilosc");
  if (from_net_price) {
    double netto = lib::ROUND2(quantity * number_of(line, "cenan"));
    double vat = lib::ROUND2(netto * r / 100);
    put_number(line, "netto", netto);
    put_number(line, "vat", vat);
    put_number(line, "brutto", netto + vat);
  } else {
    double brutto = lib::ROUND2(quantity * number_of(line, "cenab"));
    double vat = lib::ROUND2(brutto * r / (100 + r));
    put_number(line, "brutto", brutto);
    put_number(line, "vat", vat);
    put_number(line, "netto", brutto - vat);
  }
}

double VAL(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::string s;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) s += text[i++];
  bool point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      s += c;
    } else if (c == '.' && !point) {
      point = true;
      s += c;
    } else {
      break;
    }
  }
  return s.empty() ? 0.0 : std::strtod(s.c_str(), nullptr);
}

}  // namespace zuv::steps
