#include "app/samba_share.h"

#include <cstdlib>

#include "app/json.h"
#include "platform/base/text.h"

namespace zuv::app::samba {
namespace {

// Samba reads "smb ports", "SMB Ports" and "smbports" alike.
std::string parameter_key(std::string_view name) {
  std::string key;
  for (char c : name)
    if (c != ' ' && c != '\t') key += c;
  return base::lower_ascii(key);
}

std::string blanks_trimmed(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

std::vector<std::string> list_items(std::string_view value) {
  std::vector<std::string> items;
  std::string item;
  for (char c : value) {
    if (c == ' ' || c == ',' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

bool ipv4_text(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!(c == '.' || (c >= '0' && c <= '9'))) return false;
  return true;
}

std::string without_closing_slash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

bool at_or_below(const std::string& path, const std::string& dir) {
  if (path == dir) return true;
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         (dir == "/" || path[dir.size()] == '/');
}

}  // namespace

ServerConfig parse_config(std::string_view text) {
  ServerConfig config;
  std::string section;
  Share share;
  bool available = true;
  std::string interfaces;
  bool bind_only = false;
  auto finish_share = [&] {
    if (!section.empty() && section != "global" && available && !share.path.empty() &&
        share.path.find('%') == std::string::npos) {
      share.path = without_closing_slash(share.path);
      config.shares.push_back(share);
    }
    share = Share{};
    available = true;
  };
  std::string pending;  // a line continued with '\'
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line = blanks_trimmed(text.substr(at, end - at));
    at = end + 1;
    if (!line.empty() && line.back() == '\\') {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    line = pending + line;
    pending.clear();
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      finish_share();
      const size_t close = line.find(']');
      share.name = blanks_trimmed(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      section = base::lower_ascii(share.name);
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = parameter_key(line.substr(0, eq));
    const std::string value = blanks_trimmed(line.substr(eq + 1));
    if (section.empty() || section == "global") {
      if (key == "smbports") {
        const auto ports = list_items(value);
        if (!ports.empty()) config.port = std::atoi(ports.front().c_str());
      } else if (key == "interfaces") {
        interfaces = value;
      } else if (key == "bindinterfacesonly") {
        const std::string v = base::lower_ascii(value);
        bind_only = v == "yes" || v == "true" || v == "1";
      }
    } else if (key == "path" || key == "directory") {
      share.path = value;
    } else if (key == "available") {
      const std::string v = base::lower_ascii(value);
      available = !(v == "no" || v == "false" || v == "0");
    }
  }
  finish_share();
  // A server bound to its interfaces answers only on their addresses.
  if (bind_only) {
    for (const std::string& item : list_items(interfaces)) {
      const std::string address = item.substr(0, item.find('/'));
      if (ipv4_text(address)) {
        config.address = address;
        break;
      }
    }
  }
  if (config.port <= 0 || config.port > 65535) config.port = 445;
  return config;
}

std::optional<ShareHit> share_of(const ServerConfig& config, const std::string& native_dir) {
  const std::string dir = without_closing_slash(native_dir);
  std::optional<ShareHit> best;
  for (const Share& s : config.shares) {
    if (!at_or_below(dir, s.path)) continue;
    if (best && best->share.path.size() >= s.path.size()) continue;
    std::string inside = dir.size() > s.path.size() ? dir.substr(s.path.size()) : "";
    while (!inside.empty() && inside.front() == '/') inside.erase(0, 1);
    best = ShareHit{s, inside};
  }
  return best;
}

std::optional<Credentials> parse_credentials(std::string_view text, std::string* error) {
  Credentials c;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(at, end - at));
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = base::lower_ascii(blanks_trimmed(line.substr(0, eq)));
    // The value is taken whole: a password may begin or end with blanks.
    const std::string value = line.substr(eq + 1);
    if (key == "username" || key == "user") c.username = blanks_trimmed(value);
    else if (key == "password" || key == "pass") c.password = value;
    else if (key == "domain" || key == "dom" || key == "workgroup") c.domain = blanks_trimmed(value);
  }
  if (c.username.empty()) {
    if (error) *error = "nie podaje użytkownika (wiersz username=)";
    return std::nullopt;
  }
  return c;
}

std::optional<Status> parse_status(std::string_view json, std::string* error) {
  std::string fault;
  const auto doc = parse_json(json, &fault);
  if (!doc) {
    if (error) *error = "odpowiedź smbstatus nie jest poprawnym JSON: " + fault;
    return std::nullopt;
  }
  const JsonValue* files = doc->find("open_files");
  if (!files || !files->is_object()) {
    if (error) *error = "odpowiedź smbstatus nie zawiera listy otwartych plików";
    return std::nullopt;
  }
  Status status;
  for (const auto& [path, file] : files->members) {
    const JsonValue* opens = file.find("opens");
    if (!opens) continue;
    for (const auto& [id, o] : opens->members) {
      Open open;
      open.path = without_closing_slash(path);
      if (const auto* server = o.find("server_id"); server && server->find("pid"))
        open.pid = server->find("pid")->scalar();
      if (open.pid.empty()) open.pid = id.substr(0, id.find('/'));
      if (const auto* access = o.find("access_mask"); access && access->find("READ_DATA"))
        open.reads_data = access->find("READ_DATA")->boolean;
      if (const auto* mode = o.find("sharemode"); mode && mode->find("hex"))
        open.denies_all = std::strtoul(mode->find("hex")->scalar().c_str(), nullptr, 16) == 0;
      status.opens.push_back(open);
    }
  }
  if (const JsonValue* sessions = doc->find("sessions"); sessions && sessions->is_object()) {
    for (const auto& [id, s] : sessions->members) {
      Session session;
      if (const auto* server = s.find("server_id"); server && server->find("pid"))
        session.pid = server->find("pid")->scalar();
      if (const auto* m = s.find("remote_machine")) session.machine = m->scalar();
      if (session.machine.empty())
        if (const auto* h = s.find("hostname")) session.machine = h->scalar();
      if (const auto* u = s.find("username")) session.username = u->scalar();
      status.sessions.push_back(session);
    }
  }
  return status;
}

std::string holder_of(const Status& status, const std::string& native_file) {
  for (const Open& o : status.opens)
    if (o.path == native_file && o.reads_data && o.denies_all) return o.pid;
  return "";
}

std::vector<Open> opens_under(const Status& status, const std::string& native_dir, const std::string& except_pid) {
  const std::string dir = without_closing_slash(native_dir);
  std::vector<Open> found;
  for (const Open& o : status.opens)
    if (o.pid != except_pid && at_or_below(o.path, dir)) found.push_back(o);
  return found;
}

std::vector<std::string> machines_of(const Status& status, const std::vector<Open>& opens) {
  std::vector<std::string> machines;
  auto add = [&](const std::string& m) {
    for (const std::string& seen : machines)
      if (seen == m) return;
    machines.push_back(m);
  };
  for (const Open& o : opens) {
    bool named = false;
    for (const Session& s : status.sessions) {
      if (s.pid != o.pid) continue;
      add(s.machine + (s.username.empty() ? "" : " (" + s.username + ")"));
      named = true;
    }
    // A durable handle outlives its connection: Samba keeps it for a client that may
    // come back.
    if (!named) add("nieznany komputer (rozłączona sesja, proces " + o.pid + ")");
  }
  return machines;
}

std::string others_refusal(const Status& status, const std::vector<Open>& opens, const std::string& native_dir,
                           const std::string& share_name) {
  const std::string dir = without_closing_slash(native_dir);
  std::string text = "W programie ZUV pracują inni użytkownicy.;Przez udział Samby \"" + share_name +
                     "\" pliki bazy danych mają otwarte komputery: ";
  const std::vector<std::string> machines = machines_of(status, opens);
  for (size_t i = 0; i < machines.size(); ++i) text += (i ? ", " : "") + machines[i];
  text += ";Otwarte pliki:";
  std::vector<std::string> names;
  for (const Open& o : opens) {
    std::string name = o.path.size() > dir.size() ? o.path.substr(dir.size() + 1) : std::string(".");
    for (char& c : name)
      if (c == '/') c = '\\';
    bool seen = false;
    for (const std::string& n : names) seen = seen || n == name;
    if (seen) continue;
    names.push_back(name);
    if (names.size() <= 20) text += " " + name;
  }
  if (names.size() > 20) text += " i " + std::to_string(names.size() - 20) + " innych";
  text += ";Kontynuacja instalacji jest niemożliwa!";
  return text;
}

}  // namespace zuv::app::samba
