#include "platform/table/copying.h"

#include <cstring>
#include <string>

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

bool digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Whether a field's bytes are exactly what reading the value and writing it back into
// a field of the same form would give, so they may be copied as they are. Text always;
// a date of eight digits or blanks; a logical "T" or "F"; a number only in the form the
// engine writes (blanks, an optional minus, digits without leading zeros, the point and
// all the decimals) and with few enough digits to come back unchanged through a double.
bool reads_back_same(const FieldDescriptor& f, const std::uint8_t* p) {
  const int n = f.length;
  switch (f.type) {
    case 'C':
      return true;
    case 'D': {
      bool digits = true, blanks = true;
      for (int i = 0; i < n; ++i) digits = digits && digit(p[i]), blanks = blanks && p[i] == ' ';
      return digits || blanks;
    }
    case 'L':
      return p[0] == 'T' || p[0] == 'F';
    case 'N':
    case 'F': {
      int i = 0;
      while (i < n && p[i] == ' ') ++i;
      const bool negative = i < n && p[i] == '-';
      if (negative) ++i;
      const int start = i;
      bool nonzero = false;
      while (i < n && digit(p[i])) nonzero = nonzero || p[i] != '0', ++i;
      const int whole = i - start;
      if (whole == 0 || (whole > 1 && p[start] == '0')) return false;
      if (f.decimals > 0) {
        if (i >= n || p[i] != '.') return false;
        const int point = ++i;
        while (i < n && digit(p[i])) nonzero = nonzero || p[i] != '0', ++i;
        if (i - point != f.decimals) return false;
      }
      return i == n && whole + f.decimals <= 15 && !(negative && !nonzero);
    }
    default:
      return false;
  }
}

// The map in map order as segments: consecutive mapped fields lying side by side in
// both records, each of the same form on both sides, move as one block. Text always
// reads back the same; a field of another form whose bytes the engine would not write
// itself is then written again the slow way. A field that cannot move as bytes at all
// is a segment of its own.
struct Segment {
  std::size_t first = 0, count = 1;  // entries of the map
  bool bytes = false;
  std::vector<std::size_t> checked;  // entries of the block that are not text
};

std::vector<Segment> segments_of(const Table& source, const Table& target,
                                 const std::vector<std::pair<int, int>>& map, const std::vector<bool>& as_bytes) {
  std::vector<Segment> segments;
  for (std::size_t i = 0; i < map.size(); ++i) {
    const FieldDescriptor& from = source.fields()[map[i].first];
    const FieldDescriptor& to = target.fields()[map[i].second];
    bool joined = false;
    if (as_bytes[i] && !segments.empty() && segments.back().bytes) {
      Segment& last = segments.back();
      const std::size_t k = last.first + last.count - 1;
      const FieldDescriptor& prev_from = source.fields()[map[k].first];
      const FieldDescriptor& prev_to = target.fields()[map[k].second];
      joined = map[i].first == map[k].first + 1 && map[i].second == map[k].second + 1 &&
               prev_from.offset + prev_from.length == from.offset && prev_to.offset + prev_to.length == to.offset;
      if (joined) ++last.count;
    }
    if (!joined) segments.push_back({i, 1, bool(as_bytes[i]), {}});
    if (as_bytes[i] && from.type != 'C') segments.back().checked.push_back(i);
  }
  return segments;
}

// Appends to target every record of source visible under source's settings (or all
// of them with their marks), mapping source field i to target field map[i].
bool copy_rows(Table& source, Table& target, const std::vector<std::pair<int, int>>& map,
               const std::function<bool(Table&)>& condition, const std::function<void(Table&)>& each = {}) {
  const bool hidden = source.settings().deleted_hidden;
  // Fields of the same form on both sides move as bytes; the rest are read and written.
  std::vector<bool> as_bytes;
  for (auto [from, to] : map) as_bytes.push_back(source.fields()[from].carries_bytes_to(target.fields()[to]));
  const std::vector<Segment> segments = segments_of(source, target, map, as_bytes);
  // A blank number reads as 0 and is written as the field's 0: the same bytes for every
  // record, so they are made once by the slow way and then moved like the others.
  std::vector<std::string> blank_number_as(map.size());
  auto all_blank = [](const std::uint8_t* p, int n) {
    for (int k = 0; k < n; ++k)
      if (p[k] != ' ') return false;
    return true;
  };
  auto copy_field = [&](std::size_t i) {
    auto [from, to] = map[i];
    const FieldDescriptor& f = source.fields()[from];
    const std::uint8_t* bytes = source.record_buffer() + f.offset;
    if (as_bytes[i] && reads_back_same(f, bytes)) return target.put_bytes(to, bytes);
    if (as_bytes[i] && !blank_number_as[i].empty() && all_blank(bytes, f.length))
      return target.put_bytes(to, reinterpret_cast<const std::uint8_t*>(blank_number_as[i].data()));
    bool ok = target.put(to, converted(source.get(from), target.fields()[to].type));
    if (ok && as_bytes[i] && (f.type == 'N' || f.type == 'F') && all_blank(bytes, f.length))
      blank_number_as[i].assign(reinterpret_cast<const char*>(target.record_buffer() + target.fields()[to].offset),
                                f.length);
    return ok;
  };
  std::vector<std::size_t> redo;
  std::vector<std::uint8_t> patched;
  auto copy_current = [&] {
    if ((hidden && source.deleted()) || (condition && !condition(source))) return true;
    if (!target.append()) return false;
    for (const Segment& s : segments) {
      if (!s.bytes) {
        if (!copy_field(s.first)) return false;
        continue;
      }
      // Blank numbers are put right in a copy of the block before it goes; a number in
      // any other form of its own is written again after it.
      const auto [from, to] = map[s.first];
      const std::uint32_t start = source.fields()[from].offset;
      const std::uint8_t* block = source.record_buffer() + start;
      redo.clear();
      for (std::size_t i : s.checked) {
        const FieldDescriptor& f = source.fields()[map[i].first];
        const std::uint8_t* bytes = source.record_buffer() + f.offset;
        if (reads_back_same(f, bytes)) continue;
        if (blank_number_as[i].empty() || !all_blank(bytes, f.length)) {
          redo.push_back(i);
          continue;
        }
        if (block != patched.data()) {
          const FieldDescriptor& last = source.fields()[map[s.first + s.count - 1].first];
          patched.assign(block, block + (last.offset + last.length - start));
          block = patched.data();
        }
        std::memcpy(patched.data() + (f.offset - start), blank_number_as[i].data(), f.length);
      }
      if (!target.put_bytes(to, block, static_cast<int>(s.count))) return false;
      for (std::size_t i : redo)
        if (!copy_field(i)) return false;
    }
    if (source.deleted() && !target.remove()) return false;
    if (each) each(target);
    return true;
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
        ErrorRecord r = error_record(gencode::kArgument, source.engine(), "Brak pola " + name, source.path(), "DBEXPORT");
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

bool import_records(Table& target, const std::string& path, const std::function<void(Table&)>& each) {
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
  return copy_rows(*source, target, map, {}, each);
}

}  // namespace zuv::table
