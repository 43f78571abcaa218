#include "upgrade/undo_files.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include <zlib.h>

#include "platform/base/text.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "upgrade/recovery_files.h"

namespace zuv::upgrade::undo {
namespace {

bool checksum_of(const std::string& path, std::uint32_t& crc) {
  os::FileHandle in;
  if (in.open(os::native_path(path), os::Access::Read, os::Share::Shared) != 0) return false;
  static thread_local std::vector<unsigned char> buffer(1u << 20);
  uLong sum = crc32(0, nullptr, 0);
  for (std::uint64_t at = 0;; ) {
    std::size_t got = 0;
    if (in.read_at(at, buffer.data(), buffer.size(), got) != 0) return false;
    if (got == 0) break;
    sum = crc32_z(sum, buffer.data(), got);
    at += got;
  }
  crc = static_cast<std::uint32_t>(sum);
  return true;
}

void walk(const std::string& root, const std::string& rel, const std::set<std::string>& skip, TreeWalk& out) {
  for (const os::DirEntry& e : os::list_directory(root + rel + "*.*", "DHS")) {
    if (e.name == "." || e.name == "..") continue;
    const std::string name = rel + e.name;
    if (e.attributes.find('D') != std::string::npos) {
      if (skip.count(base::lower_ascii(name + "\\"))) continue;
      out.entries.push_back({name + "\\", true, 0, "", 0});
      walk(root, name + "\\", skip, out);
      continue;
    }
    out.entries.push_back({name, false, e.size, e.date + e.time, 0});
  }
}

// The checksums of a tree's files, read by a few threads at once: the files sit in the
// cache after the run that wrote them, so the reading is the processor's work. False,
// with the first file that could not be read in failed, when one could not.
bool add_checksums(const std::string& root, std::vector<TreeEntry>& entries, std::string& failed) {
  std::vector<size_t> files;
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].directory) files.push_back(i);
  std::atomic<size_t> next{0};
  std::vector<char> unread(entries.size(), 0);
  auto work = [&] {
    for (size_t at; (at = next.fetch_add(1)) < files.size();)
      if (!checksum_of(root + entries[files[at]].rel, entries[files[at]].crc)) unread[files[at]] = 1;
  };
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  std::vector<std::thread> pool;
  for (unsigned i = 1; i < threads && i < files.size(); ++i) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  for (size_t i = 0; i < entries.size(); ++i)
    if (unread[i]) {
      failed = root + entries[i].rel;
      return false;
    }
  return true;
}

}  // namespace

TreeWalk walk_tree(const std::string& root, const std::set<std::string>& skip, bool checksums) {
  TreeWalk out;
  walk(root, "", skip, out);
  if (checksums) out.ok = add_checksums(root, out.entries, out.failed);
  return out;
}

std::string fingerprint_text(const std::vector<TreeEntry>& entries) {
  std::string text;
  char tail[64];
  for (const TreeEntry& e : entries) {
    text += e.rel;
    if (!e.directory) {
      std::snprintf(tail, sizeof tail, "|%llu|%s|%08x", static_cast<unsigned long long>(e.size), e.stamp.c_str(),
                    static_cast<unsigned>(e.crc));
      text += tail;
    }
    text += "\r\n";
  }
  // The last line tells a whole fingerprint from one cut short.
  return text + "=\r\n";
}

bool read_fingerprint(const std::string& text, std::vector<TreeEntry>& entries) {
  entries.clear();
  const std::vector<std::string> lines = kept::lines_of(text);
  if (lines.empty() || lines.back() != "=") return false;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    TreeEntry e;
    const size_t crc_at = line.rfind('|');
    if (crc_at == std::string::npos) {
      if (line.back() != '\\') return false;
      e.rel = line;
      e.directory = true;
    } else {
      const size_t stamp_at = line.rfind('|', crc_at - 1);
      const size_t size_at = stamp_at == std::string::npos || stamp_at == 0 ? std::string::npos
                                                                            : line.rfind('|', stamp_at - 1);
      if (size_at == std::string::npos) return false;
      e.rel = line.substr(0, size_at);
      e.size = std::strtoull(line.c_str() + size_at + 1, nullptr, 10);
      e.stamp = line.substr(stamp_at + 1, crc_at - stamp_at - 1);
      e.crc = static_cast<std::uint32_t>(std::strtoul(line.c_str() + crc_at + 1, nullptr, 16));
    }
    entries.push_back(std::move(e));
  }
  return true;
}

std::string directory_list(const std::vector<TreeEntry>& entries) {
  std::string text;
  for (const TreeEntry& e : entries)
    if (e.directory) text += e.rel + "\r\n";
  return text;
}

std::set<std::string> skipped_in(const std::string& root, const std::string& other_root) {
  std::set<std::string> skip{base::lower_ascii(kUndoDir)};
  const std::string r = base::lower_ascii(root), o = base::lower_ascii(other_root);
  if (!o.empty() && o.size() > r.size() && o.compare(0, r.size(), r) == 0) {
    skip.insert(o.substr(r.size()));
    skip.insert(o.substr(r.size()) + base::lower_ascii(kUndoDir));
  }
  return skip;
}

bool make_directories(const std::string& base, const std::string& rel_dir, std::set<std::string>* to_sync) {
  size_t at = 0;
  while ((at = rel_dir.find('\\', at)) != std::string::npos) {
    const std::string dir = base + rel_dir.substr(0, at);
    ++at;
    if (os::directory_exists(std::string_view(dir))) continue;
    // A worker may make the same directory at the same moment.
    if (!os::make_directory(dir).ok() && !os::directory_exists(std::string_view(dir))) return false;
    if (to_sync)
      to_sync->insert(std::string(os::directory_part(os::native_path(dir))));
    else if (!kept::sync_directory_of(dir))
      return false;
  }
  return true;
}

}  // namespace zuv::upgrade::undo
