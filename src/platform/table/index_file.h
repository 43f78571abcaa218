// A file read and written in whole blocks at given offsets, for the index formats.
// Every write passes the fault switch first, so tests can break any of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace zuv::table {

class BlockFile {
 public:
  BlockFile() = default;
  ~BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;

  // path is the OS path (UTF-8). Throws IndexError with the operator's text on failure.
  void open(const std::string& path, bool writable);
  void create(const std::string& path);  // truncates
  void close();
  bool is_open() const { return f_ != nullptr; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

  uint64_t size() const { return size_; }
  // Reads the size again (another process may have grown the file).
  void refresh_size();
  // Reads n bytes at off; throws when the range is not inside the file.
  void read(uint64_t off, void* buf, size_t n);
  void write(uint64_t off, const void* buf, size_t n);
  void flush();

 private:
  std::FILE* f_ = nullptr;
  std::string path_;
  uint64_t size_ = 0;
  bool writable_ = false;
};

// Replaces target by source (a finished file beside it), never deleting first.
void replace_file(const std::string& source, const std::string& target);
bool file_exists(const std::string& path);
void remove_file_quietly(const std::string& path);

}  // namespace zuv::table
