#include "upgrade/undo_registry.h"

#include <set>
#include <vector>

#include "platform/base/discard.h"
#include "platform/base/text.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "sys/registry_watch.h"
#include "upgrade/recovery_files.h"
#include "upgrade/undo_files.h"

namespace zuv::upgrade {
namespace {

namespace reg = os::reg;

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += digits[c >> 4], out += digits[c & 15];
  return out.empty() ? "." : out;
}

std::string unhex(const std::string& text) {
  if (text == ".") return "";
  std::string out;
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (size_t i = 0; i + 1 < text.size(); i += 2) out += static_cast<char>(value(text[i]) * 16 + value(text[i + 1]));
  return out;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    out.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

// What a line is about: a value (its first change counts), or a key (made or deleted).
std::string id_of(const std::string& line) {
  const std::vector<std::string> f = fields_of(line);
  if (f.empty()) return "";
  if (f[0] == "V" && f.size() >= 4) return base::lower_ascii("v " + f[1] + " " + unhex(f[2]) + " " + unhex(f[3]));
  return base::lower_ascii("k " + (f.size() > 2 ? f[1] + " " + unhex(f[2]) : line));
}

reg::Handle root_of(const std::string& name) {
  for (reg::Handle h : {reg::kClassesRoot, reg::kCurrentUser, reg::kLocalMachine, reg::kUsers, reg::kCurrentConfig})
    if (reg::root_name(h) == name) return h;
  return 0;
}

bool key_exists(reg::Handle root, const std::string& key) {
  reg::Handle h = 0;
  if (reg::open_key(root, key, reg::kRead, h) != reg::kSuccess) return false;
  base::let_go(reg::close_key(h), "a key only read or already written");
  return true;
}

// Lines: "V root key name type data" (a value as it was; type "-": it did not exist),
// "K root key" (the key did not exist), "D root key" (the key existed), fields in hex.
class RegistryKeeper final : public sys::RegistryWatcher {
 public:
  std::string start(const std::string& area) {
    path_ = area + undo::kRegistryFile;
    seen_.clear();
    std::string text;
    if (kept::read_small_file(path_, text))
      for (const std::string& line : kept::lines_of(text)) seen_.insert(id_of(line));
    sys::watch_registry(this);
    return "";
  }
  void stop() {
    if (sys::registry_watcher() == this) sys::watch_registry(nullptr);
  }

  bool before_key_create(reg::Handle root, const std::string& key) override {
    std::string lines;
    for (size_t at = 0; at != std::string::npos;) {
      at = key.find('\\', at + 1);
      const std::string level = key.substr(0, at);
      if (!key_exists(root, level)) lines += "K " + hex(reg::root_name(root)) + " " + hex(level);
      if (!lines.empty() && lines.back() != '\n') lines += "\r\n";
    }
    return note(lines);
  }
  bool before_value_change(reg::Handle root, const std::string& key, const std::string& name) override {
    return note(value_line(root, key, name));
  }
  bool before_key_delete(reg::Handle root, const std::string& key) override {
    std::string lines;
    reg::Handle h = 0;
    if (reg::open_key(root, key, reg::kRead, h) != reg::kSuccess) return true;
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; reg::enum_value(h, i, name, type, data) == reg::kSuccess; ++i)
      lines += value_line(root, key, name);
    base::let_go(reg::close_key(h), "a key only read or already written");
    return note(lines + "D " + hex(reg::root_name(root)) + " " + hex(key) + "\r\n");
  }

 private:
  std::string value_line(reg::Handle root, const std::string& key, const std::string& name) {
    std::string line = "V " + hex(reg::root_name(root)) + " " + hex(key) + " " + hex(name) + " ";
    reg::Handle h = 0;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::open_key(root, key, reg::kRead, h) == reg::kSuccess) {
      const long rc = reg::query_value(h, name, type, data);
      base::let_go(reg::close_key(h), "a key only read or already written");
      if (rc == reg::kSuccess) return line + std::to_string(type) + " " + hex(std::string(data.begin(), data.end())) + "\r\n";
    }
    return line + "- .\r\n";
  }

  // Appends the lines not kept before, synced before the change goes on.
  bool note(const std::string& lines) {
    std::string fresh;
    for (const std::string& line : kept::lines_of(lines)) {
      if (seen_.insert(id_of(line)).second) fresh += line + "\r\n";
    }
    if (fresh.empty()) return true;
    os::FileHandle file;
    const std::string native = os::native_path(path_);
    std::uint64_t end = 0;
    int rc = os::native_file_exists(native) ? file.open(native, os::Access::ReadWrite, os::Share::Exclusive)
                                            : file.create(native, os::Share::Exclusive);
    if (!rc) rc = file.size(end);
    if (!rc) rc = file.write_at(end, fresh.data(), fresh.size());
    if (!rc) rc = file.flush();
    file.close();
    return rc == 0 && kept::sync_directory_of(path_);
  }

  std::string path_;
  std::set<std::string> seen_;
};

RegistryKeeper keeper;

}  // namespace

std::string start_registry_keeping(const std::string& area) { return keeper.start(area); }

void stop_registry_keeping() noexcept { keeper.stop(); }

std::string restore_registry(const std::string& area) {
  std::string text;
  if (!kept::read_small_file(area + undo::kRegistryFile, text)) return "";
  const std::vector<std::string> lines = kept::lines_of(text);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const std::vector<std::string> f = fields_of(*it);
    if (f.size() < 3) continue;
    const reg::Handle root = root_of(unhex(f[1]));
    const std::string key = unhex(f[2]);
    if (!root) continue;
    long rc = reg::kSuccess;
    reg::Handle h = 0;
    if (f[0] == "K") {
      rc = reg::delete_key(root, key);
      if (rc == reg::kFileNotFound) rc = reg::kSuccess;
    } else if (f[0] == "D") {
      rc = reg::create_key(root, key, reg::kAllAccess, h);
      if (rc == reg::kSuccess) base::let_go(reg::close_key(h), "a key only read or already written");
    } else if (f[0] == "V" && f.size() >= 6) {
      const std::string name = unhex(f[3]);
      if (f[4] == "-") {
        if (reg::open_key(root, key, reg::kAllAccess, h) == reg::kSuccess) {
          rc = reg::delete_value(h, name);
          if (rc == reg::kFileNotFound) rc = reg::kSuccess;
          base::let_go(reg::close_key(h), "a key only read or already written");
        }
      } else {
        const std::string data = unhex(f[5]);
        rc = reg::create_key(root, key, reg::kAllAccess, h);
        if (rc == reg::kSuccess) {
          rc = reg::set_value(h, name, static_cast<std::uint32_t>(std::stoul(f[4])),
                              std::vector<std::uint8_t>(data.begin(), data.end()));
          base::let_go(reg::close_key(h), "a key only read or already written");
        }
      }
    }
    if (rc != reg::kSuccess) return "Nie można przywrócić wpisu rejestru " + reg::root_name(root) + "\\" + key;
  }
  return "";
}

}  // namespace zuv::upgrade
