// Damaged compound and single-key index files: every reader path and the checker
// must end with an answer or an IndexError, never a crash or an endless loop.
// The first byte picks the format (even: compound, odd: single-key); the rest is the
// file, read from memory through the same page parser as files on disk, so a run
// covers millions of inputs.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/table/cdx.h"
#include "platform/table/index_check.h"
#include "platform/table/ntx.h"

namespace {

void walk_cdx(std::string bytes) {
  auto f = zuv::table::cdx::CdxFile::open_image(std::move(bytes), "fuzz.cdx");
  for (size_t i = 0; i < f->tag_count(); ++i) {
    auto& t = f->tag(i);
    // Each key type reads keys its own way: the tags take them in turn.
    using zuv::table::KeyType;
    constexpr KeyType kTypes[] = {KeyType::Character, KeyType::Numeric, KeyType::Date, KeyType::Logical};
    t.set_key_type(kTypes[(i + f->tag_count()) % 4]);
    zuv::table::cdx::Cursor c;
    size_t n = 0;
    for (bool ok = t.first(c); ok && n < 200000; ok = t.next(c)) ++n;
    for (bool ok = t.last(c); ok && n < 400000; ok = t.prev(c)) ++n;
    t.seek("0000", 0, c);
    t.seek(std::string(size_t(t.key_length()), 'z'), 7, c);
  }
}

void walk_ntx(std::string bytes) {
  auto f = zuv::table::ntx::NtxFile::open_image(std::move(bytes), "fuzz.ntx");
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
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    if (compound) walk_cdx(bytes);
    else walk_ntx(bytes);
  } catch (const zuv::table::IndexError&) {
  }
  zuv::table::CheckReport report;
  std::vector<uint8_t> image(data + 1, data + size);
  if (compound) zuv::table::check_cdx_image("fuzz.cdx", std::move(image), report);
  else zuv::table::check_ntx_image("fuzz.ntx", std::move(image), report);
  return 0;
}
