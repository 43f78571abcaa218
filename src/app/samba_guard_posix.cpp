#include <fcntl.h>
#include <libsmbclient.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/samba_guard.h"
#include "app/samba_share.h"

extern char** environ;

namespace zuv::app {
namespace {

struct ProgramRun {
  bool started = false;
  int exit_code = -1;
  std::string out, err;
};

// Runs a program found on the PATH and collects both its outputs.
ProgramRun run_program(const std::vector<std::string>& args) {
  ProgramRun run;
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return run;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned == 0) {
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open_fds = 2;
    while (open_fds > 0) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[8192];
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
          sinks[i]->append(buf, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          fds[i].fd = -1;
          --open_fds;
        }
      }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.started = true;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  // posix_spawnp reports a program that is not there as 127 from the child on glibc.
  if (run.started && run.exit_code == 127 && run.out.empty()) run.started = false;
  return run;
}

std::string first_line(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "brak odpowiedzi" : line;
}

std::string canonical(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

// Every byte but the unreserved ones and '/' escaped, as SMB URLs carry names.
std::string url_escaped(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// The semaphore held through the share for as long as this object lives.
class ShareHold : public SambaHold {
 public:
  explicit ShareHold(samba::Credentials c) : credentials_(std::move(c)) {}
  ~ShareHold() override {
    if (file_) smbc_getFunctionClose(context_)(context_, file_);
    if (context_) smbc_free_context(context_, 1);
  }

  // "" when held; otherwise why not. sharing_violation tells a workstation's open.
  std::string open(const samba::ServerConfig& server, const std::string& url_path, bool& sharing_violation) {
    sharing_violation = false;
    context_ = smbc_new_context();
    if (!context_) return "nie można utworzyć połączenia SMB";
    smbc_setOptionUserData(context_, this);
    smbc_setFunctionAuthDataWithContext(context_, &ShareHold::give_credentials);
    smbc_setOptionNoAutoAnonymousLogin(context_, 1);
    // Deny all, as a workstation opens the semaphore to keep the others out.
    smbc_setOptionOpenShareMode(context_, SMBC_SHAREMODE_DENY_ALL);
    smbc_setPort(context_, static_cast<uint16_t>(server.port));
    smbc_setDebug(context_, 0);
    if (!smbc_init_context(context_)) {
      const int e = errno;
      smbc_free_context(context_, 1);
      context_ = nullptr;
      return std::string("nie można uruchomić klienta SMB: ") + std::strerror(e);
    }
    const std::string url =
        "smb://" + server.address + ":" + std::to_string(server.port) + "/" + url_escaped(url_path);
    file_ = smbc_getFunctionOpen(context_)(context_, url.c_str(), O_RDONLY, 0);
    if (file_) return "";
    const int e = errno;
    sharing_violation = e == EBUSY || e == ETXTBSY;
    return std::strerror(e);
  }

 private:
  static void give_credentials(SMBCCTX* c, const char*, const char*, char* workgroup, int workgroup_len,
                               char* user, int user_len, char* password, int password_len) {
    const auto* self = static_cast<const ShareHold*>(smbc_getOptionUserData(c));
    auto put = [](char* to, int len, const std::string& value) {
      if (len <= 0) return;
      std::strncpy(to, value.c_str(), static_cast<size_t>(len) - 1);
      to[len - 1] = '\0';
    };
    if (!self->credentials_.domain.empty()) put(workgroup, workgroup_len, self->credentials_.domain);
    put(user, user_len, self->credentials_.username);
    put(password, password_len, self->credentials_.password);
  }

  samba::Credentials credentials_;
  SMBCCTX* context_ = nullptr;
  SMBCFILE* file_ = nullptr;
};

// The configuration Samba's tools read: ZUV_SMB_CONF, else their own default.
struct ConfigSource {
  std::string file;  // "" for Samba's default
  std::optional<samba::ServerConfig> config;  // nullopt: no Samba on this machine
};

ConfigSource read_config() {
  ConfigSource source;
  const char* named = std::getenv("ZUV_SMB_CONF");
  if (named && *named) source.file = named;
  std::vector<std::string> args = {"testparm", "-s"};
  if (!source.file.empty()) args.push_back(source.file);
  const ProgramRun run = run_program(args);
  if (run.started && run.exit_code == 0) {
    source.config = samba::parse_config(run.out);
  } else if (!source.file.empty()) {
    // Without Samba's tools the named file is read as it is.
    std::ifstream in(source.file, std::ios::binary);
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      source.config = samba::parse_config(text.str());
    }
  }
  return source;
}

std::string smbstatus_answer(const ConfigSource& source, samba::Status& status) {
  std::vector<std::string> args = {"smbstatus", "--json"};
  if (!source.file.empty()) args.push_back("--configfile=" + source.file);
  const ProgramRun run = run_program(args);
  if (!run.started) return "nie znaleziono programu smbstatus (pakiet samba)";
  std::string why;
  if (auto parsed = samba::parse_status(run.out, &why)) {
    status = std::move(*parsed);
    return "";
  }
  if (run.exit_code != 0 || !run.err.empty()) why = "smbstatus: " + first_line(run.err);
  return why;
}

std::string unreadable(const std::string& share_name, const std::string& why) {
  return "Nie można sprawdzić, kto korzysta z udziału Samby \"" + share_name + "\":;" + why +
         ";Uruchom aktualizację jako root albo, gdy udział jest zamknięty, z opcją --no-samba-check.";
}

}  // namespace

SambaGuardResult guard_samba_share(const std::string& native_database_dir, const SambaOptions& options,
                                   std::ostream& err) {
  SambaGuardResult result;
  if (options.disabled) {
    err << "Sprawdzanie udziałów Samby wyłączone (--no-samba-check): stacje robocze nie są ani blokowane, ani "
           "sprawdzane.\n";
    return result;
  }
  const ConfigSource source = read_config();
  if (!source.config) return result;
  const std::string dir = canonical(native_database_dir);
  samba::ServerConfig server = *source.config;
  for (samba::Share& s : server.shares) s.path = canonical(s.path);
  const auto hit = samba::share_of(server, dir);
  if (!hit) return result;
  const std::string& share = hit->share.name;

  if (options.credentials_file.empty())
    return {"Baza danych " + dir + " leży w udziale Samby \"" + share +
                "\", z którego mogą korzystać stacje robocze.;Aby je zablokować na czas aktualizacji, podaj dane "
                "logowania do udziału:;--smb-credentials PLIK (wiersze username=, password=, domain=);albo, gdy "
                "udział jest już zamknięty, --no-samba-check.",
            nullptr};
  std::ifstream in(options.credentials_file, std::ios::binary);
  std::stringstream text;
  if (in) text << in.rdbuf();
  if (!in) return {"Nie można odczytać pliku " + options.credentials_file + " (--smb-credentials).", nullptr};
  std::string why;
  const auto credentials = samba::parse_credentials(text.str(), &why);
  if (!credentials) return {"Plik " + options.credentials_file + " (--smb-credentials) " + why + ".", nullptr};

  // The semaphore as it lies on the disk; the share sees the same names.
  const std::string semaphore = canonical(dir + "/str/nazwy.dbf");
  auto hold = std::make_unique<ShareHold>(*credentials);
  bool sharing_violation = false;
  if (std::filesystem::exists(semaphore)) {
    std::string inside = semaphore.substr(hit->share.path.size());
    const std::string failure = hold->open(server, share + inside, sharing_violation);
    if (!failure.empty()) {
      samba::Status status;
      const std::string answer = smbstatus_answer(source, status);
      const std::vector<samba::Open> holders =
          answer.empty() ? samba::opens_under(status, semaphore, "") : std::vector<samba::Open>{};
      if (!holders.empty()) return {samba::others_refusal(status, holders, dir, share), nullptr};
      if (sharing_violation)
        return {"W programie ZUV pracują inni użytkownicy.;Plik str\\nazwy.dbf jest otwarty przez udział Samby \"" +
                    share + "\";Kontynuacja instalacji jest niemożliwa!",
                nullptr};
      return {"Nie można zablokować bazy danych w udziale Samby \"" + share + "\" (smb://" + server.address + ":" +
                  std::to_string(server.port) + "/" + share + inside + "):;" + failure +
                  ";Sprawdź dane logowania w pliku " + options.credentials_file + ".",
              nullptr};
    }
  }

  samba::Status status;
  if (const std::string answer = smbstatus_answer(source, status); !answer.empty())
    return {unreadable(share, answer), nullptr};
  const std::string own = samba::holder_of(status, semaphore);
  const std::vector<samba::Open> others = samba::opens_under(status, dir, own);
  if (!others.empty()) return {samba::others_refusal(status, others, dir, share), nullptr};
  result.hold = std::move(hold);
  return result;
}

}  // namespace zuv::app
