// What the headless upgrade needs to know of a Samba server on its own machine: the
// shares of its configuration, the credentials given for them, and its list of open
// files and sessions. Text in, values out: the programs and the SMB connection are
// in samba_guard_posix.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zuv::app::samba {

struct Share {
  std::string name;
  std::string path;  // native, without a closing '/'
};

struct ServerConfig {
  std::vector<Share> shares;    // those with a fixed path (no %-substitutions)
  std::string address = "127.0.0.1";  // where the server answers on this machine
  int port = 445;
};

// The configuration as smb.conf or `testparm -s` writes it: parameter names are
// matched without case and blanks, as Samba does.
ServerConfig parse_config(std::string_view text);

// The share holding native_dir (a canonical directory) and the directory's path inside
// it ("" for the share's root, else "a/b"); the deepest share wins.
struct ShareHit {
  Share share;
  std::string inside;
};
std::optional<ShareHit> share_of(const ServerConfig& config, const std::string& native_dir);

struct Credentials {
  std::string username, password, domain;
};
// The username=, password= and domain= lines of a mount.cifs credentials file.
// nullopt when no user is named; *error then says so in Polish.
std::optional<Credentials> parse_credentials(std::string_view text, std::string* error);

// One open of a file or directory, as `smbstatus --json` lists it.
struct Open {
  std::string path;  // native, as the server has it
  std::string pid;   // the server process of the client's connection
  bool reads_data = false;
  bool denies_all = false;  // share mode none: nobody else may open the file
};
struct Session {
  std::string pid;
  std::string machine;   // the client's name or address
  std::string username;
};
struct Status {
  std::vector<Open> opens;
  std::vector<Session> sessions;
};
// nullopt when the text is not the answer of `smbstatus --json` (it lacks its list of
// open files, as when the server's databases could not be read); *error then says why.
std::optional<Status> parse_status(std::string_view json, std::string* error);

// The server process whose client holds native_file open for reading, denying all
// others: after our own deny-all open succeeded, that is our connection. "" if none.
std::string holder_of(const Status& status, const std::string& native_file);

// Opens at or below native_dir by any server process but except_pid.
std::vector<Open> opens_under(const Status& status, const std::string& native_dir, const std::string& except_pid);

// The machines behind the opens ("127.0.0.1 (kasia)"), each once, in the order met.
std::vector<std::string> machines_of(const Status& status, const std::vector<Open>& opens);

// The refusal when workstations have files of the database open: the machines and
// the files (relative to native_dir, in the workstations' '\' form). ';' breaks lines.
std::string others_refusal(const Status& status, const std::vector<Open>& opens, const std::string& native_dir,
                           const std::string& share_name);

}  // namespace zuv::app::samba
