#include "platform/table/index_build.h"

#include <chrono>

#include "platform/table/index_sort.h"

namespace zuv::table {
namespace {

using Clock = std::chrono::steady_clock;

// Adds the time since the last call to *to (when timing is asked for).
class Lap {
 public:
  explicit Lap(bool on) : on_(on), t_(on ? Clock::now() : Clock::time_point()) {}
  void to(double& total) {
    if (!on_) return;
    auto now = Clock::now();
    total += std::chrono::duration<double>(now - t_).count();
    t_ = now;
  }

 private:
  bool on_;
  Clock::time_point t_;
};

}  // namespace

std::string directory_of(const std::string& path) {
  auto slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

void build_cdx_tags(cdx::CdxFile& file, RecordSource& records, const std::vector<TagSpec>& tags,
                    const BuildOptions& options) {
  if (tags.empty()) return;
  std::vector<KeyExpression> exprs;
  for (const TagSpec& t : tags) exprs.push_back(KeyExpression::compile(t.second, records.source_fields()));
  const std::string temp = options.temp_dir.empty() ? directory_of(file.path()) : options.temp_dir;
  std::vector<std::unique_ptr<KeySorter>> sorters;
  for (const KeyExpression& e : exprs)
    sorters.push_back(std::make_unique<KeySorter>(e.key_type(), e.key_length(), options.memory_budget / tags.size(), temp));
  BuildTimes spent;
  Lap lap(options.times != nullptr);
  const uint32_t n = records.source_count();
  for (auto& s : sorters) s->expect(n);
  std::string key;
  for (uint32_t r = 1; r <= n; ++r) {
    records.source_load(r);
    for (size_t i = 0; i < exprs.size(); ++i) {
      exprs[i].key(records.source_view(), key);
      sorters[i]->add(key, r);
    }
  }
  lap.to(spent.keys);
  for (size_t i = 0; i < tags.size(); ++i) {
    sorters[i]->finish();
    lap.to(spent.sort);
    spent.runs += sorters[i]->runs();
    file.create_tag(tags[i].first, tags[i].second, exprs[i].key_type(), exprs[i].key_length(), options.descending,
                    options.unique, *sorters[i], n, options.sync_each_tag);
    sorters[i].reset();  // its run files go as soon as the tag is written
    lap.to(spent.tree);
  }
  if (BuildTimes* t = options.times) {
    t->keys += spent.keys;
    t->sort += spent.sort;
    t->tree += spent.tree;
    t->runs += spent.runs;
  }
}

cdx::Tag& build_cdx_tag(cdx::CdxFile& file, RecordSource& records, const std::string& tag,
                        const std::string& expression, const BuildOptions& options) {
  build_cdx_tags(file, records, {{tag, expression}}, options);
  return *file.find_tag(tag);
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
