#include "platform/os/durable.h"

#include "platform/base/discard.h"
#include "platform/os/change_guard.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"

namespace zuv::os {
namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif

std::string directory_of(const std::string& native) {
  std::string::size_type slash = native.find_last_of(kSeparators);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? native.substr(0, 1) : native.substr(0, slash);
}

// The steps both path kinds take; swap renames temp over target in the caller's
// terms, remove_temp clears what a failed swap leaves beside the target.
template <class Swap, class Remove>
Status replace_steps(const std::string& temp, const std::string& target, Swap swap, Remove remove_temp) {
  auto failed = [&](int code, const char* step) {
    remove_temp();
    return Status::failure(code, step, target);
  };
  const change_guard::Answer told = change_guard::ask(target, Change::Unlink);
  if (told.code) return failed(told.code, replace_step::kRename);
  if (!told.kept)
    if (int rc = sync_file(temp)) return failed(rc, replace_step::kSyncFile);
  if (int rc = swap()) return failed(rc, replace_step::kRename);
  if (told.kept) return {};
  return sync_directory_of(target);
}

}  // namespace

Status sync_directory_of(const std::string& native_path) {
  if (int rc = sync_directory(directory_of(native_path)))
    return Status::failure(rc, replace_step::kSyncDirectory, native_path);
  return {};
}

Status replace_durably(const std::string& temp, const std::string& target) {
  return replace_steps(
      temp, target,
      [&] {
        if (int code = change_guard::notify(temp, Change::Move)) return code;
        return detail::rename_told(temp, target);
      },
      [&] {
        if (native_file_exists(temp))
          base::let_go(remove_file(temp), "the failure is answered; a leftover is overwritten next time");
      });
}

Status rename_durably(std::string_view temp, std::string_view target) {
  return replace_steps(
      native_path(temp), native_path(target), [&] { return rename_file(temp, target).code; },
      [&] {
        if (file_exists(temp))
          base::let_go(delete_file(temp), "the failure is answered; a leftover is overwritten next time");
      });
}

Status write_durably(const std::string& target, std::string_view bytes) {
  const std::string temp = target + kNewSuffix;
  FileHandle out;
  int rc = out.create(temp, Share::Exclusive);
  if (!rc && !bytes.empty()) rc = out.write_at(0, bytes.data(), bytes.size());
  out.close();
  if (rc) {
    if (native_file_exists(temp))
      base::let_go(remove_file(temp), "the failure is answered; a leftover is overwritten next time");
    return Status::failure(rc, replace_step::kWrite, target);
  }
  return replace_durably(temp, target);
}

int replace_file(const std::string& from, const std::string& to) { return replace_durably(from, to).code; }

}  // namespace zuv::os
