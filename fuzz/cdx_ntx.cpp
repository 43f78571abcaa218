// Damaged compound and single-key index files: every reader path and the checker
// must end with an answer or an IndexError, never a crash or an endless loop.
// The first byte picks the format (even: compound, odd: single-key); the rest is the
// file, read from memory through the same page parser as files on disk, then from a
// file of a memory file system through the block file.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/table/cdx.h"
#include "platform/table/index_check.h"
#include "platform/table/ntx.h"
#include "scratch_files.h"

namespace {

void walk_cdx(std::unique_ptr<zuv::table::cdx::CdxFile> f) {
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

void walk_ntx(std::unique_ptr<zuv::table::ntx::NtxFile> f) {
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
    if (compound) walk_cdx(zuv::table::cdx::CdxFile::open_image(bytes, "fuzz.cdx"));
    else walk_ntx(zuv::table::ntx::NtxFile::open_image(bytes, "fuzz.ntx"));
  } catch (const zuv::table::IndexError&) {
  }
  // The same file from the disk, through the block file a reader of a shared table uses.
  ScratchFiles files;
  const std::string path = files.write(compound ? "t.cdx" : "t.ntx", bytes);
  try {
    if (path.empty()) {
    } else if (compound) {
      walk_cdx(zuv::table::cdx::CdxFile::open(path, false));
    } else {
      walk_ntx(zuv::table::ntx::NtxFile::open(path, false));
    }
  } catch (const zuv::table::IndexError&) {
  }
  zuv::table::CheckReport report;
  std::vector<uint8_t> image(data + 1, data + size);
  if (compound) zuv::table::check_cdx_image("fuzz.cdx", std::move(image), report);
  else zuv::table::check_ntx_image("fuzz.ntx", std::move(image), report);
  return 0;
}
