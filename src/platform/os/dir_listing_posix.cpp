#include "platform/os/dir_listing_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/os/names.h"
#include "platform/os/power_cut.h"
#include "platform/os/write_tally.h"

namespace zuv::os::dir_listing {
namespace {

// Enough for every firm directory of a database and the program's own; the names are
// bounded too, so that one huge directory cannot hold memory.
constexpr std::size_t kMaxDirectories = 64;
constexpr std::size_t kMaxNames = 200000;

struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec mtime {}, ctime{};
  bool operator==(const Stamp& o) const {
    return dev == o.dev && ino == o.ino && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

Stamp stamp_of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim}; }

bool stamp_now(const std::string& dir, Stamp& out) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  out = stamp_of(st);
  return true;
}

struct Listing {
  Stamp stamp;
  // Folded name -> every real name with that folding, ascending: the first is the answer.
  std::unordered_map<std::u32string, std::vector<std::string>> names;
  std::size_t count = 0;
  std::uint64_t serial = 0;
  std::uint64_t used = 0;
};

struct Cache {
  std::mutex mutex;
  std::unordered_map<std::string, Listing> dirs;
  std::size_t names = 0;
  std::uint64_t tick = 0;
  std::uint64_t reads = 0;
};

Cache& cache() {
  static Cache c;
  return c;
}

void erase(Cache& c, std::unordered_map<std::string, Listing>::iterator it) {
  c.names -= it->second.count;
  c.dirs.erase(it);
}

bool add_name(Listing& l, std::u32string folded, const std::string& name) {
  std::vector<std::string>& v = l.names[std::move(folded)];
  auto at = std::lower_bound(v.begin(), v.end(), name);
  if (at != v.end() && *at == name) return false;
  v.insert(at, name);
  ++l.count;
  return true;
}

bool remove_name(Listing& l, const std::string& name) {
  auto it = l.names.find(folded_name(name));
  if (it == l.names.end()) return false;
  std::vector<std::string>& v = it->second;
  auto at = std::lower_bound(v.begin(), v.end(), name);
  if (at == v.end() || *at != name) return false;
  v.erase(at);
  if (v.empty()) l.names.erase(it);
  --l.count;
  return true;
}

// The key of a directory: its path as the callers spell it, without a trailing slash.
std::string key_of(const std::string& dir) {
  if (dir.empty()) return ".";
  std::string k = dir;
  while (k.size() > 1 && k.back() == '/') k.pop_back();
  return k;
}

// Times that change with every change to a directory, even two within one clock tick,
// come with multigrain timestamps (Linux 6.13) on these file systems. Elsewhere (older
// kernels, network and FUSE file systems) a listing could outlive a change unseen, so
// nothing is kept.
bool fine_grained(int fd) {
  static const bool kernel = [] {
    struct utsname u;
    int major = 0, minor = 0;
    return ::uname(&u) == 0 && std::sscanf(u.release, "%d.%d", &major, &minor) == 2 &&
           (major > 6 || (major == 6 && minor >= 13));
  }();
  if (!kernel) return false;
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC: return true;
    default: return false;
  }
}

// Reads dir whole, answers the look-up and keeps the listing when it can be trusted.
bool read_directory(Cache& c, const std::string& key, const std::u32string& want, std::string& found) {
  int fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // The times are taken before the names: a change while reading shows as newer times.
  struct stat st;
  bool keep = ::fstat(fd, &st) == 0 && fine_grained(fd);
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return false;
  }
  ++c.reads;
  Listing l;
  bool any = false;
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(d);
    if (!e) {
      keep = keep && errno == 0;
      break;
    }
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::u32string folded = folded_name(name);
    if (folded == want && (!any || name < found)) {
      found = name;
      any = true;
    }
    if (keep) {
      add_name(l, std::move(folded), name);
      keep = l.count <= kMaxNames;
    }
  }
  ::closedir(d);
  if (!keep) return any;

  while (!c.dirs.empty() && (c.dirs.size() >= kMaxDirectories || c.names + l.count > kMaxNames)) {
    auto oldest = c.dirs.begin();
    for (auto it = c.dirs.begin(); it != c.dirs.end(); ++it)
      if (it->second.used < oldest->second.used) oldest = it;
    erase(c, oldest);
  }
  l.stamp = stamp_of(st);
  l.serial = l.used = ++c.tick;
  c.names += l.count;
  c.dirs[key] = std::move(l);
  return any;
}

// The directory and the name a native path denotes; false when the last part is not a
// plain name.
bool split(const std::string& native, std::string& dir, std::string& name) {
  std::string p = native;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::string::size_type slash = p.find_last_of('/');
  if (slash == std::string::npos) {
    dir = ".";
    name = p;
  } else {
    dir = slash == 0 ? "/" : p.substr(0, slash);
    name = p.substr(slash + 1);
  }
  return !name.empty() && name != "." && name != "..";
}

// A directory removed or moved: listings under its old path describe nothing now.
void forget_tree(Cache& c, const std::string& native) {
  std::string k = key_of(native);
  for (auto it = c.dirs.begin(); it != c.dirs.end();) {
    const std::string& d = it->first;
    bool under = d == k || (d.size() > k.size() && d.compare(0, k.size(), k) == 0 && (k == "/" || d[k.size()] == '/'));
    if (under) {
      c.names -= it->second.count;
      it = c.dirs.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

bool find(const std::string& dir, std::string_view want, std::string& found) {
  std::string key = key_of(dir);
  std::u32string folded = folded_name(want);
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  auto it = c.dirs.find(key);
  if (it != c.dirs.end()) {
    Stamp now;
    if (stamp_now(key, now) && now == it->second.stamp) {
      it->second.used = ++c.tick;
      auto hit = it->second.names.find(folded);
      if (hit == it->second.names.end()) return false;
      found = hit->second.front();
      return true;
    }
    erase(c, it);
  }
  return read_directory(c, key, folded, found);
}

// Another program's change between this look and ours would pass unseen into the new
// times; the window is one system call wide, and the same program would have to change
// the same directory in it.
void NameChange::note(const std::string& native, bool add) {
  Item& item = items_[count_];
  if (!split(native, item.dir, item.name)) return;
  item.add = add;
  ++count_;
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  auto it = c.dirs.find(item.dir);
  if (it == c.dirs.end()) return;
  Stamp now;
  if (stamp_now(item.dir, now) && now == it->second.stamp) item.serial = it->second.serial;
  else erase(c, it);
}

void NameChange::done() {
  power_cut::after_names();
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  for (int i = 0; i < count_; ++i) {
    const Item& item = items_[i];
    std::string path = item.dir == "/" ? "/" + item.name : item.dir + "/" + item.name;
    // Whatever was at the path, or moved away from it, is not the directory a listing
    // under it was read from.
    forget_tree(c, path);
    auto it = c.dirs.find(item.dir);
    if (it == c.dirs.end()) continue;
    Listing& l = it->second;
    if (item.serial == 0 || l.serial != item.serial) {
      erase(c, it);
      continue;
    }
    struct stat st;
    if (item.add) {
      if (add_name(l, folded_name(item.name), item.name)) c.names += 1;
    } else if (::lstat(path.c_str(), &st) != 0 && remove_name(l, item.name)) {
      // (A rename between two links of one file leaves both: hence the look first.)
      c.names -= 1;
    }
  }
  // Each listing takes its directory's new times once every name in it is in place.
  for (int i = 0; i < count_; ++i) {
    auto it = c.dirs.find(items_[i].dir);
    if (it == c.dirs.end() || it->second.serial != items_[i].serial) continue;
    Stamp now;
    if (stamp_now(items_[i].dir, now)) it->second.stamp = now;
    else erase(c, it);
  }
}

NameChange name_added(const std::string& native) {
  power_cut::before_added(native);
  write_tally::named(native);
  NameChange n;
  n.note(native, true);
  return n;
}

NameChange name_removed(const std::string& native) {
  power_cut::before_removed(native);
  NameChange n;
  n.note(native, false);
  return n;
}

NameChange name_moved(const std::string& from, const std::string& to) {
  power_cut::before_moved(from, to);
  write_tally::named(to);
  NameChange n;
  n.note(from, false);
  n.note(to, true);
  return n;
}

std::uint64_t reads() {
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  return c.reads;
}

}  // namespace zuv::os::dir_listing
