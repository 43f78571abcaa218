#include "upgrade/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "platform/base/coding.h"
#include "platform/base/discard.h"
#include "platform/os/durable.h"
#include "platform/os/files.h"
#include "platform/os/path.h"

namespace zuv::upgrade {
namespace {

constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint16_t kVersion = 20;  // 2.0: deflate
constexpr std::uint16_t kUtf8Flag = 1u << 11;
constexpr std::size_t kChunk = 64 * 1024;
// An entry count of 0xFFFF tells readers to look for ZIP64 records, which we do not
// write: the most a plain archive of ours holds is one fewer.
constexpr std::size_t kMaxEntries = 0xFFFE;
constexpr std::size_t kLocalHeader = 30, kCentralHeader = 46, kEndRecord = 22;

constexpr auto put16 = [](std::string& b, std::uint32_t v) { base::append_le16(b, v); };
constexpr auto put32 = [](std::string& b, std::uint32_t v) { base::append_le32(b, v); };

// The file's time of last write in the DOS form of the headers.
void dos_time(const std::string& file, std::uint16_t& time, std::uint16_t& date) {
  time = 0;
  date = (1 << 5) | 1;  // 1980-01-01 when the time cannot be read
  auto entries = os::list_directory(file, "HS");
  if (entries.empty() || entries[0].date.size() != 8 || entries[0].time.size() != 8) return;
  const std::string& d = entries[0].date;
  const std::string& t = entries[0].time;
  int year = std::stoi(d.substr(0, 4)), month = std::stoi(d.substr(4, 2)), day = std::stoi(d.substr(6, 2));
  int h = std::stoi(t.substr(0, 2)), m = std::stoi(t.substr(3, 2)), s = std::stoi(t.substr(6, 2));
  if (year < 1980) return;
  date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  time = static_cast<std::uint16_t>((h << 11) | (m << 5) | (s / 2));
}

bool ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string local_header(const std::string& name, std::uint16_t flags, std::uint16_t time, std::uint16_t date,
                         std::uint32_t crc, std::uint32_t csize, std::uint32_t size) {
  std::string h;
  put32(h, kLocalSig);
  put16(h, kVersion);
  put16(h, flags);
  put16(h, Z_DEFLATED);
  put16(h, time);
  put16(h, date);
  put32(h, crc);
  put32(h, csize);
  put32(h, size);
  put16(h, static_cast<std::uint32_t>(name.size()));
  put16(h, 0);
  return h + name;
}

struct CentralEntry {
  std::string name;
  std::uint16_t flags, method, time, date;
  std::uint32_t crc, csize, size, offset;
};

std::string central_directory(const std::vector<CentralEntry>& entries, std::uint32_t cd_offset,
                              const std::string& comment) {
  std::string cd;
  for (const CentralEntry& e : entries) {
    put32(cd, kCentralSig);
    put16(cd, kVersion);  // made by: MS-DOS attributes, version 2.0
    put16(cd, kVersion);
    put16(cd, e.flags);
    put16(cd, e.method);
    put16(cd, e.time);
    put16(cd, e.date);
    put32(cd, e.crc);
    put32(cd, e.csize);
    put32(cd, e.size);
    put16(cd, static_cast<std::uint32_t>(e.name.size()));
    put16(cd, 0);
    put16(cd, 0);
    put16(cd, 0);
    put16(cd, 0);
    put32(cd, 0x20);  // archive bit
    put32(cd, e.offset);
    cd += e.name;
  }
  std::uint32_t cd_size = static_cast<std::uint32_t>(cd.size());
  put32(cd, kEndSig);
  put16(cd, 0);
  put16(cd, 0);
  put16(cd, static_cast<std::uint32_t>(entries.size()));
  put16(cd, static_cast<std::uint32_t>(entries.size()));
  put32(cd, cd_size);
  put32(cd, cd_offset);
  std::string c = comment.substr(0, 0xFFFF);
  put16(cd, static_cast<std::uint32_t>(c.size()));
  return cd + c;
}

bool write_sync_rename(os::FileHandle& out, const std::string& temp, const std::string& target) {
  out.close();
  return os::rename_durably(temp, target).ok();
}

// The whole entry's data through inflate (or as stored), checked against crc; false
// when the data are short, do not inflate or do not match.
bool entry_data_sound(const os::FileHandle& in, std::uint64_t at, std::uint16_t method, std::uint32_t csize,
                      std::uint32_t size, std::uint32_t crc) {
  std::string buf(kChunk, '\0'), outbuf(kChunk, '\0');
  uLong sum = crc32(0, nullptr, 0);
  std::uint64_t total = 0;
  if (method == 0) {
    if (csize != size) return false;
    for (std::uint64_t done = 0; done < csize;) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, csize - done));
      if (in.read_exact(at + done, buf.data(), n) != 0) return false;
      sum = crc32(sum, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(n));
      done += n;
    }
    return sum == crc;
  }
  if (method != Z_DEFLATED) return false;
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  int rc = Z_OK;
  for (std::uint64_t done = 0; rc != Z_STREAM_END;) {
    if (z.avail_in == 0) {
      if (done >= csize) break;
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, csize - done));
      if (in.read_exact(at + done, buf.data(), n) != 0) break;
      done += n;
      z.next_in = reinterpret_cast<Bytef*>(buf.data());
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = reinterpret_cast<Bytef*>(outbuf.data());
    z.avail_out = static_cast<uInt>(outbuf.size());
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    std::size_t produced = outbuf.size() - z.avail_out;
    sum = crc32(sum, reinterpret_cast<const Bytef*>(outbuf.data()), static_cast<uInt>(produced));
    total += produced;
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END && total == size && sum == crc;
}

// The end record near the file's end: its offset, or nullopt.
std::optional<std::uint64_t> find_end_record(const os::FileHandle& in, std::uint64_t file_size, std::string& tail) {
  std::uint64_t span = std::min<std::uint64_t>(file_size, kEndRecord + 0xFFFF);
  tail.assign(static_cast<std::size_t>(span), '\0');
  if (span < kEndRecord || in.read_exact(file_size - span, tail.data(), tail.size()) != 0) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(tail.data());
  for (std::size_t i = tail.size() - kEndRecord + 1; i-- > 0;) {
    if (base::le32(p + i) != kEndSig) continue;
    std::size_t comment = base::le16(p + i + 20);
    if (i + kEndRecord + comment == tail.size()) return file_size - span + i;
  }
  return std::nullopt;
}

}  // namespace

std::string zip_status_text(int status) {
  switch (status) {
    case Z_STREAM_ERROR: return "Wadliwy współczynnik kompresji!";
    case Z_MEM_ERROR: return "Brak wolnej pamięci RAM!";
    case Z_BUF_ERROR: return "Zbyt mały bufor wyjściowy!";
    case Z_ERRNO: return "Błąd odczytu lub zapisu pliku!";
    case kZipTooLarge: return "Plik zbyt duży dla archiwum ZIP!";
    default: return "";
  }
}

std::string zip_entry_name(const std::string& written) {
  std::string n = written;
  std::replace(n.begin(), n.end(), '\\', '/');
  if (n.size() >= 2 && n[1] == ':') n.erase(0, 2);
  while (n.rfind("./", 0) == 0) n.erase(0, 2);
  n.erase(0, n.find_first_not_of('/') == std::string::npos ? n.size() : n.find_first_not_of('/'));
  return n;
}

ZipWriter::~ZipWriter() { close(); }

bool ZipWriter::open(const std::string& path) {
  close();
  target_ = path;
  temp_ = path + os::kNewSuffix;
  entries_.clear();
  end_ = 0;
  return out_.create(os::native_path(temp_), os::Share::Exclusive) == 0;
}

int ZipWriter::addfile(const std::string& file, const std::string& written_name) {
  if (!out_.is_open()) return Z_ERRNO;
  if (entries_.size() >= kMaxEntries) return kZipTooLarge;
  os::FileHandle in;
  if (in.open(os::native_path(file), os::Access::Read, os::Share::Shared) != 0) return Z_ERRNO;
  std::uint64_t size = 0;
  if (in.size(size) != 0) return Z_ERRNO;
  if (size >= 0xFFFFFFFFull) return kZipTooLarge;

  Entry e;
  e.name = zip_entry_name(written_name);
  e.flags = ascii(e.name) ? 0 : kUtf8Flag;
  dos_time(file, e.time, e.date);
  e.offset = static_cast<std::uint32_t>(end_);
  e.size = static_cast<std::uint32_t>(size);
  std::string header = local_header(e.name, e.flags, e.time, e.date, 0, 0, 0);
  if (out_.write_at(end_, header.data(), header.size()) != 0) return Z_ERRNO;

  z_stream z{};
  int rc = deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) return rc;
  std::string inbuf(kChunk, '\0'), outbuf(kChunk, '\0');
  uLong crc = crc32(0, nullptr, 0);
  std::uint64_t read = 0, written = end_ + header.size();
  int status = Z_OK;
  do {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - read));
    if (n && in.read_exact(read, inbuf.data(), n) != 0) {
      status = Z_ERRNO;
      break;
    }
    read += n;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(inbuf.data()), static_cast<uInt>(n));
    z.next_in = reinterpret_cast<Bytef*>(inbuf.data());
    z.avail_in = static_cast<uInt>(n);
    const int flush = read >= size ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(outbuf.data());
      z.avail_out = static_cast<uInt>(outbuf.size());
      rc = deflate(&z, flush);
      if (rc == Z_STREAM_ERROR) {
        status = rc;
        break;
      }
      std::size_t produced = outbuf.size() - z.avail_out;
      if (produced && out_.write_at(written, outbuf.data(), produced) != 0) {
        status = Z_ERRNO;
        break;
      }
      written += produced;
    } while (z.avail_out == 0);
    if (status != Z_OK) break;
    if (flush == Z_FINISH) break;
  } while (true);
  deflateEnd(&z);
  if (status == Z_OK && rc != Z_STREAM_END) status = rc == Z_OK ? Z_BUF_ERROR : rc;
  std::uint64_t compressed = written - end_ - header.size();
  if (status == Z_OK && (written >= 0xFFFFFFFFull || compressed >= 0xFFFFFFFFull)) status = kZipTooLarge;
  if (status != Z_OK) {
    // The archive as it was before this file; failing that, the entry is never listed.
    base::let_go(out_.truncate(end_), "bytes past the central directory's entries are never read");
    return status;
  }
  e.crc = static_cast<std::uint32_t>(crc);
  e.compressed = static_cast<std::uint32_t>(compressed);
  header = local_header(e.name, e.flags, e.time, e.date, e.crc, e.compressed, e.size);
  if (out_.write_at(end_, header.data(), kLocalHeader) != 0) {
    base::let_go(out_.truncate(end_), "bytes past the central directory's entries are never read");
    return Z_ERRNO;
  }
  end_ = written;
  entries_.push_back(std::move(e));
  return kZipOk;
}

bool ZipWriter::save(const std::string& comment) {
  if (!out_.is_open()) return false;
  std::vector<CentralEntry> list;
  for (const Entry& e : entries_)
    list.push_back({e.name, e.flags, Z_DEFLATED, e.time, e.date, e.crc, e.compressed, e.size, e.offset});
  std::string cd = central_directory(list, static_cast<std::uint32_t>(end_), comment);
  if (out_.write_at(end_, cd.data(), cd.size()) != 0 || out_.truncate(end_ + cd.size()) != 0) return false;
  bool ok = write_sync_rename(out_, temp_, target_);
  temp_.clear();
  return ok;
}

void ZipWriter::close() {
  if (out_.is_open()) out_.close();
  if (!temp_.empty()) base::let_go(os::delete_file(temp_), "an unfinished archive is overwritten next time");
  temp_.clear();
}

std::optional<ZipContents> read_zip(const std::string& path) {
  os::FileHandle in;
  if (in.open(os::native_path(path), os::Access::Read, os::Share::Shared) != 0) return std::nullopt;
  std::uint64_t size = 0;
  if (in.size(size) != 0) return std::nullopt;
  std::string tail;
  auto end = find_end_record(in, size, tail);
  if (!end) return std::nullopt;
  unsigned char rec[kEndRecord];
  if (in.read_exact(*end, rec, kEndRecord) != 0) return std::nullopt;
  std::uint32_t count = base::le16(rec + 10), cd_size = base::le32(rec + 12), cd_offset = base::le32(rec + 16);
  if (std::uint64_t(cd_offset) + cd_size > *end) return std::nullopt;
  std::string cd(cd_size, '\0');
  if (cd_size && in.read_exact(cd_offset, cd.data(), cd_size) != 0) return std::nullopt;
  ZipContents c;
  const auto* p = reinterpret_cast<const unsigned char*>(cd.data());
  std::size_t at = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at + kCentralHeader > cd.size() || base::le32(p + at) != kCentralSig) return std::nullopt;
    std::size_t n = base::le16(p + at + 28), x = base::le16(p + at + 30), k = base::le16(p + at + 32);
    if (at + kCentralHeader + n + x + k > cd.size()) return std::nullopt;
    c.names.emplace_back(cd.substr(at + kCentralHeader, n));
    at += kCentralHeader + n + x + k;
  }
  std::uint16_t comment_length = base::le16(rec + 20);
  std::string comment(comment_length, '\0');
  if (comment_length && in.read_exact(*end + kEndRecord, comment.data(), comment_length) != 0) return std::nullopt;
  c.comment = comment;
  return c;
}

std::optional<std::size_t> repair_zip(const std::string& path, const std::string& fallback_comment) {
  os::FileHandle in;
  if (in.open(os::native_path(path), os::Access::Read, os::Share::Shared) != 0) return std::nullopt;
  std::uint64_t size = 0;
  if (in.size(size) != 0) return std::nullopt;

  std::string comment = fallback_comment;
  std::string tail;
  if (auto end = find_end_record(in, size, tail)) {
    unsigned char rec[kEndRecord];
    if (in.read_exact(*end, rec, kEndRecord) == 0) {
      std::uint16_t n = base::le16(rec + 20);
      comment.assign(n, '\0');
      if (n && in.read_exact(*end + kEndRecord, comment.data(), n) != 0) comment = fallback_comment;
    }
  }

  // Walk the local headers from the start while each entry is whole and sound.
  std::vector<CentralEntry> kept;
  std::uint64_t at = 0;
  // What a plain archive cannot point at or count is dropped with the rest.
  while (at + kLocalHeader <= size && at <= 0xFFFFFFFFull && kept.size() < kMaxEntries) {
    unsigned char h[kLocalHeader];
    if (in.read_exact(at, h, kLocalHeader) != 0 || base::le32(h) != kLocalSig) break;
    CentralEntry e;
    e.flags = base::le16(h + 6);
    e.method = base::le16(h + 8);
    e.time = base::le16(h + 10);
    e.date = base::le16(h + 12);
    e.crc = base::le32(h + 14);
    e.csize = base::le32(h + 18);
    e.size = base::le32(h + 22);
    std::size_t name_length = base::le16(h + 26), extra = base::le16(h + 28);
    // Sizes that follow the data cannot be trusted from here: the entry ends the walk.
    if (e.flags & 0x08) break;
    std::uint64_t data = at + kLocalHeader + name_length + extra;
    if (data + e.csize > size) break;
    e.name.assign(name_length, '\0');
    if (name_length && in.read_exact(at + kLocalHeader, e.name.data(), name_length) != 0) break;
    if (!entry_data_sound(in, data, e.method, e.csize, e.size, e.crc)) break;
    e.offset = static_cast<std::uint32_t>(at);
    at = data + e.csize;
    kept.push_back(std::move(e));
  }
  const std::uint64_t data_end = at;

  const std::string temp = path + os::kNewSuffix;
  os::FileHandle out;
  if (out.create(os::native_path(temp), os::Share::Exclusive) != 0) return std::nullopt;
  std::string buf(kChunk, '\0');
  for (std::uint64_t done = 0; done < data_end;) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, data_end - done));
    if (in.read_exact(done, buf.data(), n) != 0 || out.write_at(done, buf.data(), n) != 0) {
      out.close();
      base::let_go(os::delete_file(temp), "the failure is answered; a leftover is overwritten next time");
      return std::nullopt;
    }
    done += n;
  }
  in.close();
  std::string cd = central_directory(kept, static_cast<std::uint32_t>(data_end), comment);
  if (out.write_at(data_end, cd.data(), cd.size()) != 0) {
    out.close();
    base::let_go(os::delete_file(temp), "the failure is answered; a leftover is overwritten next time");
    return std::nullopt;
  }
  if (!write_sync_rename(out, temp, path)) return std::nullopt;
  return kept.size();
}

}  // namespace zuv::upgrade
