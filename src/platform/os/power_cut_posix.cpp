#include "platform/os/power_cut.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

// The recorder reads and writes with system calls of its own: what it does must never
// pass through the hooks it serves.
namespace zuv::os::power_cut {
namespace detail {
std::atomic<bool> g_recording{false};
}  // namespace detail

namespace {

struct Change {
  bool truncate = false;
  std::uint64_t at = 0;  // a write's offset, a truncation's length
  std::string bytes;
};

// One file's bytes: known once first seen changing (until then the disk holds them
// as they stand), then as of its last sync, and the changes since.
struct File {
  bool known = false;
  std::string durable;
  std::vector<Change> since;
};

struct Entry {
  bool directory = false;
  int file = -1;
};
using Listing = std::map<std::string, Entry>;

struct Recorder {
  Plan plan;
  int points = 0;
  std::vector<File> files;
  std::map<std::pair<dev_t, ino_t>, int> live;  // a file's identity while it has a name
  std::map<std::string, Listing> directories;   // changed ones: the entries on the disk
  std::vector<std::pair<dev_t, ino_t>> dying;   // lose their last name if the change succeeds
  std::recursive_mutex mutex;
};

Recorder* g_recorder = nullptr;

std::string absolute(const std::string& path) {
  std::string p = path;
  if (p.empty() || p[0] != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) p = std::string(cwd) + "/" + p;
  }
  std::string out;
  for (std::size_t i = 0; i < p.size();) {
    std::size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string part = p.substr(i, j - i);
    if (!part.empty() && part != ".") out += "/" + part;
    i = j + 1;
  }
  return out.empty() ? "/" : out;
}

// A directory's one name, so that two spellings of it share one listing.
std::string directory_key(const std::string& path) {
  std::string a = absolute(path);
  char real[PATH_MAX];
  if (::realpath(a.c_str(), real)) return real;
  return a;
}

std::pair<std::string, std::string> split(const std::string& path) {
  std::string a = absolute(path);
  std::size_t slash = a.find_last_of('/');
  std::string dir = slash == 0 ? "/" : a.substr(0, slash);
  return {directory_key(dir), a.substr(slash + 1)};
}

std::string join(const std::string& dir, const std::string& name) { return dir == "/" ? "/" + name : dir + "/" + name; }

std::string read_fd(int fd) {
  std::string out;
  char buf[1 << 16];
  for (off_t at = 0;;) {
    ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
  return out;
}

std::string read_path(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string out = read_fd(fd);
  ::close(fd);
  return out;
}

int file_of(const struct stat& st) {
  auto key = std::make_pair(st.st_dev, st.st_ino);
  auto it = g_recorder->live.find(key);
  if (it != g_recorder->live.end()) return it->second;
  g_recorder->files.emplace_back();
  const int id = static_cast<int>(g_recorder->files.size()) - 1;
  g_recorder->live[key] = id;
  return id;
}

// The file open at fd, -1 when it is no regular file.
int file_at(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return file_of(st);
}

// Before the first change of a file: what it holds now is what the disk holds.
void know(int id, int fd) {
  File& f = g_recorder->files[static_cast<std::size_t>(id)];
  if (f.known) return;
  f.durable = read_fd(fd);
  f.known = true;
}

Listing list_now(const std::string& dir) {
  Listing out;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::lstat(join(dir, name).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) out[name] = Entry{true, -1};
    else if (S_ISREG(st.st_mode)) out[name] = Entry{false, file_of(st)};
  }
  ::closedir(d);
  return out;
}

void track(const std::string& dir) {
  if (!g_recorder->directories.count(dir)) g_recorder->directories[dir] = list_now(dir);
}

// The bytes of a file the state keeps: its synced ones and the part of its later
// changes that kept allows.
struct Taken {
  std::size_t whole = 0;
  bool torn = false;
};

Taken taken(const File& f, Kept kept) {
  const std::size_t n = f.since.size();
  if (n == 0 || kept == Kept::None) return {};
  if (kept == Kept::All) return {n, false};
  const Change& last = f.since.back();
  return {n - 1, kept == Kept::LastTorn && !last.truncate && last.bytes.size() >= 2};
}

void apply(std::string& bytes, const Change& c, std::size_t length) {
  if (c.truncate) {
    bytes.resize(static_cast<std::size_t>(c.at));
    return;
  }
  const auto at = static_cast<std::size_t>(c.at);
  if (bytes.size() < at + length) bytes.resize(at + length, '\0');
  bytes.replace(at, length, c.bytes, 0, length);
}

std::string kept_bytes(const File& f, Kept kept) {
  std::string out = f.durable;
  const Taken t = taken(f, kept);
  for (std::size_t i = 0; i < t.whole; ++i) apply(out, f.since[i], f.since[i].bytes.size());
  if (t.torn) apply(out, f.since.back(), f.since.back().bytes.size() / 2);
  return out;
}

std::vector<std::pair<int, Taken>> signature(Kept kept) {
  std::vector<std::pair<int, Taken>> out;
  for (std::size_t i = 0; i < g_recorder->files.size(); ++i) {
    const Taken t = taken(g_recorder->files[i], kept);
    if (t.whole || t.torn) out.push_back({static_cast<int>(i), t});
  }
  return out;
}

bool same(const std::vector<std::pair<int, Taken>>& a, const std::vector<std::pair<int, Taken>>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].first != b[i].first || a[i].second.whole != b[i].second.whole || a[i].second.torn != b[i].second.torn)
      return false;
  return true;
}

void write_bytes(const std::string& path, const std::string& bytes, mode_t mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return;
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

// The directory as the disk holds it, written out at out.
void write_state(const std::string& dir, const std::string& out, Kept kept) {
  ::mkdir(out.c_str(), 0777);
  auto tracked = g_recorder->directories.find(dir);
  const Listing entries = tracked != g_recorder->directories.end() ? tracked->second : list_now(dir);
  for (const auto& [name, entry] : entries) {
    const std::string from = join(dir, name), to = join(out, name);
    if (entry.directory) {
      write_state(from, to, kept);
      continue;
    }
    const File& f = g_recorder->files[static_cast<std::size_t>(entry.file)];
    struct stat st;
    const mode_t mode = ::stat(from.c_str(), &st) == 0 ? st.st_mode & 07777 : 0644;
    write_bytes(to, f.known ? kept_bytes(f, kept) : read_path(from), mode);
    // A cut leaves a file's time as the disk had it: the one it has now stands for it.
    if (::stat(from.c_str(), &st) == 0) {
      const timespec times[2] = {st.st_atim, st.st_mtim};
      ::utimensat(AT_FDCWD, to.c_str(), times, 0);
    }
  }
}

[[noreturn]] void cut() {
  detail::g_recording.store(false);
  std::vector<std::vector<std::pair<int, Taken>>> written;
  for (const Output& o : g_recorder->plan.outputs) {
    auto sig = signature(o.kept);
    bool repeated = false;
    for (const auto& w : written) repeated = repeated || same(w, sig);
    if (repeated) continue;
    written.push_back(sig);
    write_state(directory_key(g_recorder->plan.root), absolute(o.directory), o.kept);
  }
  std::fflush(nullptr);
  ::_exit(kCutExit);
}

// The file open at fd after this process wrote it whole or made it: one the name hooks
// never saw had no bytes on the disk before. nullptr when it is no regular file.
File* made_here(int fd) {
  const int id = file_at(fd);
  if (id < 0) return nullptr;
  File& f = g_recorder->files[static_cast<std::size_t>(id)];
  if (!f.known) f = File{true, {}, {}};
  return &f;
}

void cut_point() {
  if (++g_recorder->points == g_recorder->plan.cut_at) cut();
}

}  // namespace

void start(const Plan& plan) {
  stop();
  g_recorder = new Recorder;
  g_recorder->plan = plan;
  detail::g_recording.store(true);
}

int points() { return g_recorder ? g_recorder->points : 0; }

void stop() {
  detail::g_recording.store(false);
  delete g_recorder;
  g_recorder = nullptr;
}

namespace detail {

void before_write(int fd, std::uint64_t offset, const void* data, std::size_t n) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  const int id = file_at(fd);
  if (id < 0) return;
  know(id, fd);
  g_recorder->files[static_cast<std::size_t>(id)].since.push_back(
      Change{false, offset, std::string(static_cast<const char*>(data), n)});
}

void before_truncate(int fd, std::uint64_t length) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  const int id = file_at(fd);
  if (id < 0) return;
  know(id, fd);
  g_recorder->files[static_cast<std::size_t>(id)].since.push_back(Change{true, length, {}});
}

// A name that held no file before (the name hook saw none) brings a new one, of which
// the disk holds nothing yet.
void after_create(int fd) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  made_here(fd);
}

void after_rewrite(int fd) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  File* f = made_here(fd);
  if (!f) return;
  f->since.push_back(Change{true, 0, {}});
  f->since.push_back(Change{false, 0, read_fd(fd)});
}

void after_copy(int fd, std::uint64_t offset, std::size_t n) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  File* f = made_here(fd);
  if (!f) return;
  std::string bytes(n, '\0');
  ssize_t got = ::pread(fd, bytes.data(), n, static_cast<off_t>(offset));
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  f->since.push_back(Change{false, offset, std::move(bytes)});
}

void before_sync(int fd) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  cut_point();
  const int id = file_at(fd);
  if (id < 0) return;
  File& f = g_recorder->files[static_cast<std::size_t>(id)];
  f.durable = read_fd(fd);
  f.known = true;
  f.since.clear();
}

void before_directory_sync(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  cut_point();
  const std::string dir = directory_key(path);
  auto it = g_recorder->directories.find(dir);
  if (it != g_recorder->directories.end()) it->second = list_now(dir);
}

void before_names(Names change, const std::string& path, const std::string* moved_to) {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  if (change == Names::Moved) cut_point();
  g_recorder->dying.clear();
  struct stat source {};
  const bool has_source = ::lstat(absolute(path).c_str(), &source) == 0;
  auto look = [&](const std::string& name, bool loses_it) {
    const auto [dir, base] = split(name);
    track(dir);
    struct stat st;
    if (::lstat(join(dir, base).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const int id = file_of(st);
    File& f = g_recorder->files[static_cast<std::size_t>(id)];
    if (!f.known) {
      f.durable = read_path(join(dir, base));
      f.known = true;
    }
    const bool itself = has_source && st.st_dev == source.st_dev && st.st_ino == source.st_ino;
    if (loses_it && !itself && st.st_nlink == 1) g_recorder->dying.push_back({st.st_dev, st.st_ino});
  };
  look(path, false);
  if (moved_to) look(*moved_to, true);
  if (change == Names::Removed && has_source && S_ISREG(source.st_mode) && source.st_nlink == 1)
    g_recorder->dying.push_back({source.st_dev, source.st_ino});
}

void after_names() {
  std::lock_guard<std::recursive_mutex> lock(g_recorder->mutex);
  for (const auto& key : g_recorder->dying) g_recorder->live.erase(key);
  g_recorder->dying.clear();
}

}  // namespace detail
}  // namespace zuv::os::power_cut
