#include "platform/table/copying.h"

#include "platform/error/error.h"
#include "platform/table/last_error.h"

namespace zuv::table {
namespace {

bool compatible(char from, char to) {
  auto kind = [](char t) {
    switch (t) {
      case 'C': case 'M': case 'V': return 'C';
      case 'N': case 'F': case 'I': case 'B': case 'Y': return 'N';
      case 'D': case 'T': return 'D';
      case 'L': return 'L';
      default: return '?';
    }
  };
  return kind(from) != '?' && kind(from) == kind(to);
}

Value converted(Value v, char to) {
  if (v.type == ValueType::Memo && to != 'M') v.type = ValueType::Text;
  if (v.type == ValueType::Text && to == 'M') v.type = ValueType::Memo;
  return v;
}

// Appends to target every record of source visible under source's settings (or all
// of them with their marks), mapping source field i to target field map[i].
bool copy_rows(Table& source, Table& target, const std::vector<std::pair<int, int>>& map,
               const std::function<bool(Table&)>& condition) {
  const bool hidden = source.settings().deleted_hidden;
  auto copy_current = [&] {
    if ((hidden && source.deleted()) || (condition && !condition(source))) return true;
    if (!target.append()) return false;
    for (auto [from, to] : map)
      if (!target.put(to, converted(source.get(from), target.fields()[to].type))) return false;
    return !source.deleted() || target.remove();
  };
  if (!source.controlling_order() && !source.has_filter()) {
    // In natural order the copy walks by skipping, which keeps the read-ahead of a
    // shared source (a jump by record number re-reads a shared table every time).
    for (source.go_top(); !source.eof(); source.skip())
      if (!copy_current()) return false;
  } else {
    for (std::uint32_t r = 1, count = source.record_count(); r <= count; ++r)
      if (!source.go_to(r) || !copy_current()) return false;
  }
  return target.commit();
}

}  // namespace

bool export_records(Table& source, const std::string& path, const std::vector<std::string>& fields,
                    const std::function<bool(Table&)>& condition) {
  std::vector<int> chosen;
  if (fields.empty()) {
    for (int i = 0; i < source.field_count(); ++i)
      if (!source.fields()[i].is_system()) chosen.push_back(i);
  } else {
    for (const auto& name : fields) {
      int i = source.field_index(name);
      if (i < 0) {
        ErrorRecord r;
        r.genCode = gencode::kArgument;
        r.subSystem = source.engine();
        r.description = "Brak pola " + name;
        r.fileName = source.path();
        r.operation = "DBEXPORT";
        r.canDefault = true;
        raise_engine_error(r);
        return false;
      }
      chosen.push_back(i);
    }
  }
  Structure s;
  for (int i : chosen) {
    const FieldDescriptor& f = source.fields()[i];
    char type = f.type;
    int length = f.length, decimals = f.decimals;
    // The later variants' binary types have no FoxPro 2 form: numbers and dates.
    if (type == 'I') type = 'N', length = 11, decimals = 0;
    if (type == 'B' || type == 'Y') type = 'N', length = 20, decimals = type == 'Y' ? 4 : std::min<int>(decimals, 18);
    if (type == 'F') type = 'N';
    if (type == 'T') type = 'D', length = 8;
    if (type == 'G' || type == 'P' || type == 'V' || type == 'Q' || type == 'W') type = type == 'V' ? 'C' : 'M';
    s.push_back({f.name, type, length, decimals});
  }
  if (!Table::create(path, s, source.engine())) return false;
  OpenOptions options;
  options.path = path;
  options.engine = source.engine();
  auto target = Table::open(options);
  if (!target) return false;
  std::vector<std::pair<int, int>> map;
  for (std::size_t i = 0; i < chosen.size(); ++i) map.push_back({chosen[i], static_cast<int>(i)});
  std::uint32_t keep = source.recno();
  bool ok = copy_rows(source, *target, map, condition);
  target->close();
  source.go_to(keep);
  return ok;
}

bool import_records(Table& target, const std::string& path) {
  OpenOptions options;
  options.path = path;
  options.engine = target.engine();
  options.shared = true;
  options.read_only = true;
  auto source = Table::open(options);
  if (!source) return false;
  source->set_settings(&target.settings());
  std::vector<std::pair<int, int>> map;
  for (int i = 0; i < source->field_count(); ++i) {
    const FieldDescriptor& f = source->fields()[i];
    int to = target.field_index(f.name);
    if (to >= 0 && compatible(f.type, target.fields()[to].type)) map.push_back({i, to});
  }
  return copy_rows(*source, target, map, {});
}

}  // namespace zuv::table
