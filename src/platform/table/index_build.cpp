#include "platform/table/index_build.h"

#include "platform/table/index_sort.h"

namespace zuv::table {

std::string directory_of(const std::string& path) {
  auto slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

cdx::Tag& build_cdx_tag(cdx::CdxFile& file, RecordSource& records, const std::string& tag,
                        const std::string& expression, const BuildOptions& options) {
  KeyExpression expr = KeyExpression::compile(expression, records.source_fields());
  KeySorter sorter(expr.key_type(), expr.key_length(), options.memory_budget,
                   options.temp_dir.empty() ? directory_of(file.path()) : options.temp_dir);
  const uint32_t n = records.source_count();
  for (uint32_t r = 1; r <= n; ++r) {
    records.source_load(r);
    sorter.add(expr.key(records.source_view()), r);
  }
  sorter.finish();
  return file.create_tag(tag, expression, expr.key_type(), expr.key_length(), options.descending, options.unique,
                         sorter, n, options.sync_each_tag);
}

std::string ntx_key(const KeyExpression& expression, const RecordView& record, int key_size, int decimals) {
  KeyValue v = expression.value(record);
  std::string k;
  switch (v.type) {
    case 'N':
      k = format_str(v.number, key_size, decimals);
      break;
    case 'D':
      k = v.text;
      break;
    case 'L':
      k.assign(1, v.logical ? 'T' : 'F');
      break;
    default:
      k = v.text;
      break;
  }
  k.resize(size_t(key_size), ' ');
  return k;
}

std::unique_ptr<ntx::NtxFile> build_ntx(const std::string& path, RecordSource& records, const std::string& expression,
                                        const BuildOptions& options) {
  KeyExpression expr = KeyExpression::compile(expression, records.source_fields());
  int key_size = expr.key_length();
  int decimals = 0;
  if (expr.key_type() == KeyType::Numeric) {
    key_size = expr.value_length() > 0 ? expr.value_length() : 10;
    decimals = expr.value_decimals();
  }
  // Keys of these files are texts: numbers and dates sort as their text forms.
  KeySorter sorter(KeyType::Character, key_size, options.memory_budget,
                   options.temp_dir.empty() ? directory_of(path) : options.temp_dir);
  const uint32_t n = records.source_count();
  for (uint32_t r = 1; r <= n; ++r) {
    records.source_load(r);
    sorter.add(ntx_key(expr, records.source_view(), key_size, decimals), r);
  }
  sorter.finish();
  return ntx::NtxFile::create(path, expression, KeyType::Character, key_size, decimals, options.unique, sorter);
}

}  // namespace zuv::table
