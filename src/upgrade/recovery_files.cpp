#include "upgrade/recovery_files.h"

#include <utility>

#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/programs.h"

namespace zuv::upgrade {
namespace {

RecoveryCost cost;
std::uint64_t held_now = 0;
int timer_depth = 0;

}  // namespace

RecoveryCost recovery_cost() { return cost; }

namespace kept {

void count_kept(std::uint64_t bytes) {
  cost.bytes_kept += bytes;
  held_now += bytes;
  if (held_now > cost.most_held) cost.most_held = held_now;
}

void new_step_held() { held_now = 0; }

CostTimer::CostTimer() : t0_(std::chrono::steady_clock::now()) { ++timer_depth; }

CostTimer::~CostTimer() {
  if (--timer_depth == 0) cost.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
}

std::string native(const std::string& path) { return os::native_path(path); }

bool sync_directory_of(const std::string& path) { return os::sync_directory_of(native(path)).ok(); }

bool read_small_file(const std::string& path, std::string& out) {
  os::Result<std::string> read = os::read_whole_file(native(path), 1u << 20);
  if (!read) return false;
  out = std::move(read.value);
  return true;
}

bool write_synced(const std::string& path, std::string_view bytes) {
  return os::write_durably(native(path), bytes).ok();
}

bool copy_synced(const std::string& from, const std::string& to) {
  const std::string temp = to + os::kNewSuffix;
  if (os::copy_file(from, temp).ok() && os::replace_durably(native(temp), native(to)).ok()) return true;
  if (os::file_exists(std::string_view(temp)))
    base::let_go(os::delete_file(temp), "the failure is answered; a leftover is overwritten by the next attempt");
  return false;
}

bool remove_synced(const std::string& path) {
  if (!os::file_exists(std::string_view(path))) return true;
  return os::delete_file(path).ok() && sync_directory_of(path);
}

int reading_handle(const std::string& native_file, const os::FileHandle* open, os::FileHandle& own,
                   const os::FileHandle*& in) {
  in = open;
  if (in) return 0;
  in = &own;
  return own.open(native_file, os::Access::Read, os::Share::Shared);
}

int copy_before_change(const std::string& native_file, const os::FileHandle* open, const std::string& copy,
                       std::uint64_t& bytes) {
  os::FileHandle own, out;
  const os::FileHandle* in = nullptr;
  if (int rc = reading_handle(native_file, open, own, in)) return rc;
  if (int rc = out.create(copy, os::Share::Exclusive)) return rc;
  if (int rc = out.copy_from(*in, bytes)) return rc;
  return out.flush();
}

bool same_spelling(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (os::is_separator(a[i]) && os::is_separator(b[i])) continue;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string bare(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return lib::trim(line);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = bare(std::string_view(text).substr(at, end - at));
    if (!line.empty()) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

}  // namespace kept
}  // namespace zuv::upgrade
