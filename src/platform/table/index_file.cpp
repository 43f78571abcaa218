#include "platform/table/index_file.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/os/fault.h"
#include "platform/table/index_key.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/os/codepage.h"
#endif

namespace zuv::table {
namespace {

std::FILE* open_file(const std::string& path, const char* mode) {
#ifdef _WIN32
  std::wstring m(mode, mode + std::strlen(mode));
  return _wfopen(os::widen(path).c_str(), m.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

std::filesystem::path fs_path(const std::string& p) {
  return std::filesystem::path(std::u8string(p.begin(), p.end()));
}

#ifdef _WIN32
int seek_to(std::FILE* f, uint64_t off) { return _fseeki64(f, (long long)off, SEEK_SET); }
long long tell(std::FILE* f) { return _ftelli64(f); }
#else
int seek_to(std::FILE* f, uint64_t off) { return fseeko(f, off_t(off), SEEK_SET); }
long long tell(std::FILE* f) { return ftello(f); }
#endif

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw IndexError(what + ": " + path);
}

}  // namespace

BlockFile::~BlockFile() { close(); }

void BlockFile::open(const std::string& path, bool writable) {
  close();
  f_ = open_file(path, writable ? "r+b" : "rb");
  if (!f_) fail("Nie mogę otworzyć pliku indeksu", path);
  path_ = path;
  writable_ = writable;
  std::fseek(f_, 0, SEEK_END);
  long long end = tell(f_);
  size_ = end < 0 ? 0 : uint64_t(end);
}

void BlockFile::refresh_size() {
  if (!f_) return;
  std::fflush(f_);
  std::fseek(f_, 0, SEEK_END);
  long long end = tell(f_);
  if (end >= 0) size_ = uint64_t(end);
}

void BlockFile::create(const std::string& path) {
  close();
  if (int code = os::fault::check(os::fault::Op::Create)) {
    (void)code;
    fail("Nie mogę utworzyć pliku indeksu", path);
  }
  f_ = open_file(path, "w+b");
  if (!f_) fail("Nie mogę utworzyć pliku indeksu", path);
  path_ = path;
  writable_ = true;
  size_ = 0;
}

void BlockFile::close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
}

void BlockFile::read(uint64_t off, void* buf, size_t n) {
  if (!f_ || off > size_ || n > size_ - off) fail("Uszkodzony plik indeksu (odwołanie poza koniec pliku)", path_);
  if (seek_to(f_, off) != 0 || std::fread(buf, 1, n, f_) != n)
    fail("Błąd odczytu pliku indeksu", path_);
}

void BlockFile::write(uint64_t off, const void* buf, size_t n) {
  if (!f_ || !writable_) fail("Plik indeksu otwarty tylko do odczytu", path_);
  if (os::fault::check(os::fault::Op::Write)) fail("Błąd zapisu pliku indeksu", path_);
  if (seek_to(f_, off) != 0 || std::fwrite(buf, 1, n, f_) != n)
    fail("Błąd zapisu pliku indeksu", path_);
  if (off + n > size_) size_ = off + n;
}

void BlockFile::flush() {
  if (f_ && writable_ && std::fflush(f_) != 0) fail("Błąd zapisu pliku indeksu", path_);
}

void replace_file(const std::string& source, const std::string& target) {
  if (os::fault::check(os::fault::Op::Rename)) fail("Nie mogę zastąpić pliku indeksu", target);
#ifdef _WIN32
  if (!MoveFileExW(os::widen(source).c_str(), os::widen(target).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    fail("Nie mogę zastąpić pliku indeksu", target);
#else
  std::error_code ec;
  std::filesystem::rename(fs_path(source), fs_path(target), ec);
  if (ec) fail("Nie mogę zastąpić pliku indeksu", target);
#endif
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(fs_path(path), ec);
}

void remove_file_quietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(fs_path(path), ec);
}

}  // namespace zuv::table
