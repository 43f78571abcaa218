#include "lib/files.h"

#include <array>

#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/error/call_context.h"
#include "platform/error/error.h"
#include "platform/os/clock.h"
#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/files.h"
#include "platform/os/names.h"
#include "platform/os/path.h"

namespace zuv::lib {
namespace {

constexpr unsigned kProtecting = os::kReadOnly | os::kHidden | os::kSystem;
// The walks that copy and delete see hidden and system files too: a file the listing
// hid would be left behind or not copied, with nobody told.
constexpr std::string_view kEveryFile = "HS";
constexpr std::string_view kEveryEntry = "DHS";

// A walk goes on past a failure and answers the first.
void keep_first(os::Status& first, os::Status next) {
  if (first.ok() && !next.ok()) first = std::move(next);
}

bool has_attribute(const os::DirEntry& e, char letter) { return e.attributes.find(letter) != std::string::npos; }

bool contains_any(const std::string& name, const std::vector<std::string>& fragments) {
  for (const std::string& f : fragments) {
    if (f.empty()) continue;  // an empty fragment occurs nowhere, as the runtime's AT() says
    if (name.find(oem_upper(f)) != std::string::npos) return true;
  }
  return false;
}

// Hands a failed step to the error handler, as the runtime does with its file errors;
// under FCOPY's guard the handler breaks out of the attempt.
void raise_file_error(int gen_code, int os_code, std::string_view file, const char* operation) {
  const char* what = gen_code == gencode::kCreate ? "Błąd tworzenia pliku" : "Błąd zapisu pliku";
  ErrorRecord r = error_record(gen_code, "BASE", what, std::string(file), operation);
  r.osCode = os_code;
  r.canRetry = true;
  raise_error(r);
}

void discard(const std::string& file) {
  if (!os::file_exists(file)) return;
  base::let_go(os::change_attributes(file, os::AttrChange{0, kProtecting}), "the delete below tells");
  base::let_go(os::delete_file(file), "a temporary file left is cleared before its name is used again");
}

// One attempt: the new contents go to a file beside the destination, reach the disk and
// replace it in one rename. Until that rename the destination is untouched. A failed
// sync sets disk_failed: the disk may have dropped what it was given, and another
// attempt that happened to sync would prove nothing of it.
bool copy_attempt(std::string_view source, const std::string& destination, bool& disk_failed) {
  std::string temp = destination + os::kNewSuffix;
  discard(temp);  // left by a run that was cut short
  os::Status copied = os::copy_file(source, temp);
  if (!copied) {
    discard(temp);
    raise_file_error(gencode::kCreate, copied.code, destination, "FCOPY");
    return false;
  }
  // A read-only, hidden or system destination refuses to be replaced; clear it first,
  // as deleting it would, and put the flags back if the swap fails.
  unsigned cleared = 0;
  if (auto attrs = os::get_attributes(destination); attrs.ok() && !(attrs.value & os::kDirectory)) {
    cleared = attrs.value & kProtecting;
    if (cleared)
      base::let_go(os::change_attributes(destination, os::AttrChange{0, cleared}), "the rename below tells");
  }
  os::Status swapped = os::rename_durably(temp, destination);
  if (!swapped) {
    disk_failed = swapped.text() == os::replace_step::kSyncFile || swapped.text() == os::replace_step::kSyncDirectory;
    if (cleared)
      base::let_go(os::change_attributes(destination, os::AttrChange{cleared, 0}),
                   "the failed copy is raised; the flags matter less than the destination's bytes");
    discard(temp);
    raise_file_error(gencode::kWrite, swapped.code, destination, "FCOPY");
    return false;
  }
  return true;
}

std::array<unsigned char, 256> make_upper_852() {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
  for (int b = 'a'; b <= 'z'; ++b) table[b] = static_cast<unsigned char>(b - 32);
  for (int b = 0x80; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    std::string up = os::cp852_from_utf8(os::upper_name(os::utf8_from_852(one)));
    if (up.size() == 1 && up[0] != '?') table[b] = static_cast<unsigned char>(up[0]);
  }
  return table;
}

}  // namespace

std::string oem_upper(std::string_view utf8_name) {
  static const std::array<unsigned char, 256> upper = make_upper_852();
  std::string s = os::cp852_from_utf8(utf8_name);
  for (char& c : s) c = static_cast<char>(upper[static_cast<unsigned char>(c)]);
  return s;
}

os::Status FCOPY(std::string_view source, std::string_view destination) {
  GuardedBlock guard;  // traps every error of the attempts; the caller's handler returns with it
  std::string target(destination);
  if (!target.empty() && target.back() == '\\') {
    size_t at = source.rfind('\\');
    target += std::string(at == std::string_view::npos ? source : source.substr(at + 1));
  }
  os::Status last = os::Status::failure(os::oscode::kIoError, "Nie można skopiować pliku", target);
  bool disk_failed = false;
  for (int attempt = 0; attempt < 10 && !disk_failed; ++attempt) {
    try {
      if (copy_attempt(source, target, disk_failed)) return {};
    } catch (const Break& b) {
      last = os::Status::failure(b.record.osCode, b.record.description, target);
    }
    if (!disk_failed) os::sleep_hundredths(5);
  }
  return last;
}

os::Status DEL_FILE(std::string_view file) {
  // Each attempt is judged by whether the file is still there, not by its own answer;
  // the last answer tells why, when it stays.
  if (!os::file_exists(file)) return {};
  os::Status last = os::delete_file(file);
  for (int pass = 1; pass <= 10; ++pass) {
    if (!os::file_exists(file)) return {};
    if (pass == 1) {
      os::sleep_hundredths(2);
      if (os::file_exists(file)) base::let_go(os::change_attributes(file, "-R-S-H"), "judged by the delete");
    }
    os::sleep_hundredths(2);
    last = os::delete_file(file);
  }
  return os::Status::failure(last.code ? last.code : os::oscode::kAccessDenied, "Nie można usunąć pliku",
                             std::string(file));
}

os::Status COPY_KAT(std::string_view source, std::string_view destination, std::string_view mask,
                    std::string_view skip, const std::vector<std::string>& fragments) {
  CallContext routine("COPY_KAT");
  if (source.empty()) return {};
  os::Status all;
  const std::string skip_list = oem_upper(skip);
  for (const os::DirEntry& e : os::list_directory(std::string(source) + std::string(mask), kEveryFile)) {
    std::string name = oem_upper(e.name);
    if (skip_list.find("," + name + ",") != std::string::npos || has_attribute(e, 'D')) continue;
    if (contains_any(name, fragments)) continue;
    if (!destination.empty())
      keep_first(all, FCOPY(std::string(source) + e.name, std::string(destination) + os::lower_name(e.name)));
  }
  return all;
}

os::Status COPY_ALES_KAT(std::string_view source, std::string_view destination, std::string_view mask) {
  CallContext routine("COPY_ALES_KAT");
  std::string dest(destination);
  os::Status all;
  if (!dest.empty() && !os::directory_exists(dest.substr(0, dest.size() - 1))) {
    size_t from = dest.find(":\\") != std::string::npos ? 3 : 0;
    for (size_t at; (at = dest.find('\\', from)) != std::string::npos; from = at + 1) {
      std::string level = dest.substr(0, at);
      if (!os::directory_exists(level)) keep_first(all, MKDIR(level));
    }
  }
  for (const os::DirEntry& e : os::list_directory(std::string(source) + std::string(mask), kEveryEntry)) {
    if (has_attribute(e, 'D')) {
      if (e.name == "." || e.name == "..") continue;
      if (!os::directory_exists(dest + e.name)) keep_first(all, MKDIR(dest + e.name));
      keep_first(all, COPY_ALES_KAT(std::string(source) + e.name + "\\", dest + e.name + "\\", mask));
    } else {
      keep_first(all, FCOPY(std::string(source) + e.name, dest + e.name));
    }
  }
  return all;
}

os::Status MKDIR(std::string_view directory) {
  if (!directory.empty() && directory.back() == '\\') directory.remove_suffix(1);
  return os::make_directory(directory);
}

os::Status MAKEDIR(std::string_view path) {
  std::string p = trim(path);
  if (!p.empty() && p.back() == '\\') p.pop_back();
  p = trim(p);
  if (p.empty()) return os::Status::failure(os::oscode::kInvalidName, "Pusta nazwa katalogu");
  std::string done;
  size_t rest = 0;
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    done = "\\\\";
    rest = 2;
  } else if (p.size() >= 3 && p[1] == ':' && p[2] == '\\') {
    done = p.substr(0, 3);
    rest = 3;
  }
  for (size_t slash; (slash = p.find('\\', rest)) != std::string::npos; rest = slash + 1) {
    done += p.substr(rest, slash - rest);
    base::let_go(MKDIR(done), "a level may exist already; the last one answers");
    done += "\\";
  }
  return MKDIR(done + p.substr(rest));
}

os::Status DEL_KAT(std::string_view directory, std::string_view mask, std::string_view skip,
                   const std::vector<std::string>& fragments) {
  CallContext routine("DEL_KAT");
  // An empty name would become "\", the root of the drive: never empty that by mistake.
  if (directory.empty()) return {};
  os::Status all;
  std::string dir(directory);
  if (dir.back() != '\\') dir += '\\';
  // Upper-cased like the names it is compared with, so a skip list in lower case still
  // protects its files.
  const std::string skip_list = oem_upper(skip);
  for (const os::DirEntry& e : os::list_directory(dir + std::string(mask), kEveryFile)) {
    std::string name = oem_upper(e.name);
    if (skip_list.find(name) != std::string::npos || contains_any(name, fragments)) continue;
    os::Status gone = DEL_FILE(dir + e.name);
    for (int attempt = 1; attempt < 4 && !gone; ++attempt) gone = DEL_FILE(dir + e.name);
    keep_first(all, std::move(gone));
  }
  return all;
}

os::Status WRITEFILE(std::string_view file, std::string_view text) {
  os::Result<std::size_t> written = os::write_file(file, text);
  // A file that could not be created is a failure even for an empty text.
  if (!written.ok()) return os::Status::failure(written.code, "Błąd zapisu pliku", std::string(file));
  if (written.value != text.size())
    return os::Status::failure(os::oscode::kDiskFull, "Nie zapisano całego pliku", std::string(file));
  return {};
}

}  // namespace zuv::lib
