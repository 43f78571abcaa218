#include <windows.h>

#include <algorithm>

#include "platform/os/codepage.h"
#include "platform/os/change_guard.h"
#include "platform/os/fault.h"
#include "platform/os/held_writes.h"
#include "platform/os/files.h"
#include "platform/os/names.h"
#include "platform/os/path.h"

namespace zuv::os {
namespace {

std::wstring wide(std::string_view path) { return widen(native_path(path)); }

Status last_error() { return Status::failure(static_cast<int>(GetLastError())); }

// Windows refuses to overwrite a read-only file; Wine run by root would not (it maps
// the flag onto permission bits, which root passes), so the rule is checked here too.
bool read_only_file(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

unsigned from_win(DWORD a) {
  unsigned out = 0;
  if (a & FILE_ATTRIBUTE_DIRECTORY) out |= kDirectory;
  if (a & FILE_ATTRIBUTE_READONLY) out |= kReadOnly;
  if (a & FILE_ATTRIBUTE_HIDDEN) out |= kHidden;
  if (a & FILE_ATTRIBUTE_SYSTEM) out |= kSystem;
  if (a & FILE_ATTRIBUTE_ARCHIVE) out |= kArchive;
  return out;
}

std::string digits(unsigned v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

}  // namespace

std::vector<DirEntry> list_directory(std::string_view pattern, std::string_view filter) {
  std::string dir(directory_part(pattern));
  std::string mask(file_name_part(pattern));
  if (mask.empty()) mask = "*.*";
  unsigned allowed = 0;
  for (char c : filter) {
    if (c == 'D' || c == 'd') allowed |= kDirectory;
    if (c == 'H' || c == 'h') allowed |= kHidden;
    if (c == 'S' || c == 's') allowed |= kSystem;
  }
  std::vector<DirEntry> out;
  // Everything is listed and matched by our own rules, so that masks behave alike on
  // both targets (and short 8.3 names never match behind the caller's back).
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(wide(dir + "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    std::string name = narrow(fd.cFileName);
    if (!mask_matches(mask, name)) continue;
    unsigned a = from_win(fd.dwFileAttributes);
    if ((a & (kDirectory | kHidden | kSystem)) & ~allowed) continue;
    DirEntry e;
    e.name = name;
    e.size = (a & kDirectory) ? 0 : held_writes::size_of(native_path(dir + name)).value_or(
                                         (static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
    FILETIME local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&fd.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &st);
    e.date = digits(st.wYear, 4) + digits(st.wMonth, 2) + digits(st.wDay, 2);
    e.time = digits(st.wHour, 2) + ":" + digits(st.wMinute, 2) + ":" + digits(st.wSecond, 2);
    e.attributes = attribute_letters(a);
    out.push_back(std::move(e));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return out;
}

bool file_exists(std::string_view path) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(std::string_view path) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

Result<std::uint64_t> file_size(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data))
    return {0, static_cast<int>(GetLastError())};
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return {0, oscode::kAccessDenied};
  return {held_writes::size_of(native_path(path))
              .value_or((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow),
          0};
}

Result<std::uint64_t> free_disk_space(std::string_view directory) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(wide(directory).c_str(), &available, nullptr, nullptr))
    return {0, static_cast<int>(GetLastError())};
  return {static_cast<std::uint64_t>(available.QuadPart), 0};
}

Result<unsigned> get_attributes(std::string_view path) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return {0, static_cast<int>(GetLastError())};
  return {from_win(a), 0};
}

Status change_attributes(std::string_view path, AttrChange change) {
  std::wstring w = wide(path);
  DWORD a = GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return last_error();
  auto bits = [](unsigned m) {
    DWORD b = 0;
    if (m & kReadOnly) b |= FILE_ATTRIBUTE_READONLY;
    if (m & kHidden) b |= FILE_ATTRIBUTE_HIDDEN;
    if (m & kSystem) b |= FILE_ATTRIBUTE_SYSTEM;
    if (m & kArchive) b |= FILE_ATTRIBUTE_ARCHIVE;
    return b;
  };
  DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                   FILE_ATTRIBUTE_TEMPORARY;
  DWORD next = ((a & settable) | bits(change.set)) & ~bits(change.clear);
  if (next == (a & settable)) return {};
  if (!SetFileAttributesW(w.c_str(), next ? next : FILE_ATTRIBUTE_NORMAL)) return last_error();
  return {};
}

Status copy_file(std::string_view from, std::string_view to) {
  if (int code = fault::check(fault::Op::Copy)) return Status::failure(code);
  if (int code = held_writes::settle(native_path(from))) return Status::failure(code);
  if (int code = change_guard::notify(native_path(to), Change::Write)) return Status::failure(code);
  std::wstring target = wide(to);
  if (read_only_file(target)) return Status::failure(oscode::kAccessDenied);
  if (!CopyFileW(wide(from).c_str(), target.c_str(), FALSE)) return last_error();
  held_writes::gone(native_path(to));
  return {};
}

Status delete_file(std::string_view path) {
  if (int code = fault::check(fault::Op::Delete)) return Status::failure(code);
  if (int code = change_guard::notify(native_path(path), Change::Unlink)) return Status::failure(code);
  if (!DeleteFileW(wide(path).c_str())) return last_error();
  held_writes::gone(native_path(path));
  return {};
}

Status rename_file(std::string_view from, std::string_view to) {
  if (int code = fault::check(fault::Op::Rename)) return Status::failure(code);
  if (int code = change_guard::notify(native_path(to), Change::Unlink)) return Status::failure(code);
  if (int code = change_guard::notify(native_path(from), Change::Move)) return Status::failure(code);
  std::wstring source = wide(from), target = wide(to);
  if (read_only_file(target)) return Status::failure(oscode::kAccessDenied);
  // A directory is only ever renamed, never put over another: the flag is for files.
  DWORD a = GetFileAttributesW(source.c_str());
  DWORD flags = MOVEFILE_WRITE_THROUGH;
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) flags |= MOVEFILE_REPLACE_EXISTING;
  if (!MoveFileExW(source.c_str(), target.c_str(), flags)) return last_error();
  held_writes::gone(native_path(to));
  return {};
}

Status make_directory(std::string_view path) {
  if (int code = fault::check(fault::Op::Create)) return Status::failure(code);
  if (!CreateDirectoryW(wide(path).c_str(), nullptr)) return last_error();
  return {};
}

Status remove_directory(std::string_view path) {
  if (int code = fault::check(fault::Op::Delete)) return Status::failure(code);
  if (!RemoveDirectoryW(wide(path).c_str())) return last_error();
  return {};
}

namespace {

// Wide native names. A reparse point (a junction, a directory link) is removed itself,
// never entered.
Status remove_tree_wide(const std::wstring& dir) {
  Status first;
  auto note = [&](DWORD code, const char* text, const std::wstring& file) {
    if (first.ok()) first = Status::failure(static_cast<int>(code), text, narrow(file));
  };
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = dir + L"\\" + name;
      const bool directory = fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      const bool link = fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
      if (directory && !link) {
        Status st = remove_tree_wide(full);
        if (first.ok() && !st.ok()) first = std::move(st);
        continue;
      }
      if (int code = fault::check(fault::Op::Delete)) {
        note(static_cast<DWORD>(code), "Nie można usunąć pliku", full);
        continue;
      }
      if (!directory)
        if (int code = change_guard::notify(narrow(full), Change::Unlink)) {
          note(static_cast<DWORD>(code), "Nie można usunąć pliku", full);
          continue;
        }
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!(directory ? RemoveDirectoryW(full.c_str()) : DeleteFileW(full.c_str())))
        note(GetLastError(), "Nie można usunąć pliku", full);
      else if (!directory)
        held_writes::gone(narrow(full));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  if (!first.ok()) return first;
  if (int code = fault::check(fault::Op::Delete))
    return Status::failure(code, "Nie można usunąć katalogu", narrow(dir));
  SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!RemoveDirectoryW(dir.c_str()))
    return Status::failure(static_cast<int>(GetLastError()), "Nie można usunąć katalogu", narrow(dir));
  return {};
}

}  // namespace

Status remove_tree(std::string_view path) {
  std::wstring dir = wide(path);
  while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  return remove_tree_wide(dir);
}

std::vector<std::pair<std::string, int>> drives() {
  std::vector<std::pair<std::string, int>> out;
  wchar_t buf[200] = {};
  DWORD n = GetLogicalDriveStringsW(200, buf);
  if (n == 0 || n > 200) return out;
  for (const wchar_t* p = buf; *p; p += wcslen(p) + 1) out.emplace_back(narrow(p), static_cast<int>(GetDriveTypeW(p)));
  return out;
}

std::string current_drive_root() {
  wchar_t cwd[MAX_PATH] = {};
  if (GetCurrentDirectoryW(MAX_PATH, cwd) >= 2 && cwd[1] == L':')
    return std::string(1, static_cast<char>(cwd[0])) + ":\\";
  return "C:\\";
}

Result<std::size_t> write_file(std::string_view path, std::string_view data) {
  if (int code = fault::check(fault::Op::Create)) return {0, code};
  if (int code = change_guard::notify(native_path(path), Change::Write)) return {0, code};
  std::wstring target = wide(path);
  if (read_only_file(target)) return {0, oscode::kAccessDenied};
  HANDLE h = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {0, static_cast<int>(GetLastError())};
  held_writes::gone(native_path(path));
  Result<std::size_t> result;
  if (!data.empty()) {
    if (int code = fault::check(fault::Op::Write)) {
      CloseHandle(h);
      return {0, code};
    }
    while (result.value < data.size()) {
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - result.value, 1u << 20));
      DWORD n = 0;
      if (!WriteFile(h, data.data() + result.value, chunk, &n, nullptr)) {
        result.code = static_cast<int>(GetLastError());
        break;
      }
      result.value += n;
      if (n == 0) break;
    }
  }
  if (!CloseHandle(h) && result.code == 0) result.code = static_cast<int>(GetLastError());
  return result;
}

}  // namespace zuv::os
