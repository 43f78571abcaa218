// Damaged compound and single-key index files: every reader path and the checker
// must end with an answer or an IndexError, never a crash or an endless loop.
// The first byte picks the format (even: compound, odd: single-key); the rest is the
// file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "platform/table/cdx.h"
#include "platform/table/index_check.h"
#include "platform/table/ntx.h"

namespace {

std::string temp_path(const char* ext) {
  return "/tmp/zuv_fuzz_cdx_ntx_" + std::to_string(getpid()) + ext;
}

void walk_cdx(const std::string& path) {
  auto f = zuv::table::cdx::CdxFile::open(path, false);
  for (size_t i = 0; i < f->tag_count(); ++i) {
    auto& t = f->tag(i);
    t.set_key_type(i % 2 ? zuv::table::KeyType::Numeric : zuv::table::KeyType::Character);
    zuv::table::cdx::Cursor c;
    size_t n = 0;
    for (bool ok = t.first(c); ok && n < 200000; ok = t.next(c)) ++n;
    for (bool ok = t.last(c); ok && n < 400000; ok = t.prev(c)) ++n;
    t.seek("0000", 0, c);
    t.seek(std::string(size_t(t.key_length()), 'z'), 7, c);
  }
}

void walk_ntx(const std::string& path) {
  auto f = zuv::table::ntx::NtxFile::open(path, false);
  zuv::table::ntx::NtxFile::Cursor c;
  size_t n = 0;
  for (bool ok = f->first(c); ok && n < 200000; ok = f->next(c)) ++n;
  for (bool ok = f->last(c); ok && n < 400000; ok = f->prev(c)) ++n;
  f->seek("0000", 0, c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const bool compound = data[0] % 2 == 0;
  std::string path = temp_path(compound ? ".cdx" : ".ntx");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  try {
    if (compound) walk_cdx(path);
    else walk_ntx(path);
  } catch (const zuv::table::IndexError&) {
  }
  zuv::table::CheckReport report;
  if (compound) zuv::table::check_cdx(path, "", report);
  else zuv::table::check_ntx(path, "", report);
  std::remove(path.c_str());
  return 0;
}
