#include <dlfcn.h>
#include <fcntl.h>
#include <libsmbclient.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/samba_guard.h"
#include "app/samba_share.h"
#include "platform/os/file_handle.h"
#include "platform/os/programs.h"

namespace zuv::app {
namespace {

std::string first_line(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "brak odpowiedzi" : line;
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

// Samba's client library, loaded only when a database lies under a share: with the
// hundred libraries it brings, it took half the memory of every upgrade's process.
struct SmbClient {
#define ZUV_SMBC_FUNCTION(name) decltype(&::name) name = nullptr;
#define ZUV_SMBC_FUNCTIONS(F)                                                                                    \
  F(smbc_new_context) F(smbc_free_context) F(smbc_init_context) F(smbc_setOptionUserData)                       \
  F(smbc_getOptionUserData) F(smbc_setFunctionAuthDataWithContext) F(smbc_setOptionNoAutoAnonymousLogin)        \
  F(smbc_setOptionOpenShareMode) F(smbc_setPort) F(smbc_setDebug) F(smbc_getFunctionOpen) F(smbc_getFunctionClose)
  ZUV_SMBC_FUNCTIONS(ZUV_SMBC_FUNCTION)
  std::string failure;  // "" when every function was found
};

const SmbClient& smb_client() {
  static const SmbClient client = [] {
    SmbClient c;
    void* lib = ::dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      const char* e = ::dlerror();
      c.failure = std::string("nie można załadować biblioteki klienta SMB (pakiet libsmbclient): ") + (e ? e : "");
      return c;
    }
#define ZUV_SMBC_LOAD(name)                                                            \
  c.name = reinterpret_cast<decltype(&::name)>(::dlsym(lib, #name));                   \
  if (!c.name && c.failure.empty()) c.failure = "biblioteka klienta SMB nie ma funkcji " #name;
    ZUV_SMBC_FUNCTIONS(ZUV_SMBC_LOAD)
    return c;
  }();
  return client;
}

// The semaphore held through the share for as long as this object lives.
class ShareHold : public SambaHold {
 public:
  explicit ShareHold(samba::Credentials c) : credentials_(std::move(c)) {}
  ~ShareHold() override {
    const SmbClient& smb = smb_client();
    if (file_) smb.smbc_getFunctionClose(context_)(context_, file_);
    if (context_) smb.smbc_free_context(context_, 1);
  }

  // "" when held; otherwise why not. sharing_violation tells a workstation's open.
  std::string open(const samba::ServerConfig& server, const std::string& url_path, bool& sharing_violation) {
    sharing_violation = false;
    const SmbClient& smb = smb_client();
    if (!smb.failure.empty()) return smb.failure;
    context_ = smb.smbc_new_context();
    if (!context_) return "nie można utworzyć połączenia SMB";
    smb.smbc_setOptionUserData(context_, this);
    smb.smbc_setFunctionAuthDataWithContext(context_, &ShareHold::give_credentials);
    smb.smbc_setOptionNoAutoAnonymousLogin(context_, 1);
    // Deny all, as a workstation opens the semaphore to keep the others out.
    smb.smbc_setOptionOpenShareMode(context_, SMBC_SHAREMODE_DENY_ALL);
    smb.smbc_setPort(context_, static_cast<uint16_t>(server.port));
    smb.smbc_setDebug(context_, 0);
    if (!smb.smbc_init_context(context_)) {
      const int e = errno;
      smb.smbc_free_context(context_, 1);
      context_ = nullptr;
      return std::string("nie można uruchomić klienta SMB: ") + std::strerror(e);
    }
    const std::string url =
        "smb://" + server.address + ":" + std::to_string(server.port) + "/" + url_escaped(url_path);
    file_ = smb.smbc_getFunctionOpen(context_)(context_, url.c_str(), O_RDONLY, 0);
    if (file_) return "";
    const int e = errno;
    sharing_violation = e == EBUSY || e == ETXTBSY;
    return std::strerror(e);
  }

 private:
  static void give_credentials(SMBCCTX* c, const char*, const char*, char* workgroup, int workgroup_len,
                               char* user, int user_len, char* password, int password_len) {
    const auto* self = static_cast<const ShareHold*>(smb_client().smbc_getOptionUserData(c));
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
  const os::ProgramRun run = os::run_program(args);
  if (run.started && run.exit_code == 0) {
    source.config = samba::parse_config(run.out);
  } else if (!source.file.empty()) {
    // Without Samba's tools the named file is read as it is.
    if (const os::Result<std::string> text = os::read_whole_file(source.file)) source.config = samba::parse_config(text.value);
  }
  return source;
}

std::string smbstatus_answer(const ConfigSource& source, samba::Status& status) {
  std::vector<std::string> args = {"smbstatus", "--json"};
  if (!source.file.empty()) args.push_back("--configfile=" + source.file);
  const os::ProgramRun run = os::run_program(args);
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
  const std::string dir = os::canonical_native(native_database_dir);
  samba::ServerConfig server = *source.config;
  for (samba::Share& s : server.shares) s.path = os::canonical_native(s.path);
  const auto hit = samba::share_of(server, dir);
  if (!hit) return result;
  const std::string& share = hit->share.name;

  if (options.credentials_file.empty())
    return {"Baza danych " + dir + " leży w udziale Samby \"" + share +
                "\", z którego mogą korzystać stacje robocze.;Aby je zablokować na czas aktualizacji, podaj dane "
                "logowania do udziału:;--smb-credentials PLIK (wiersze username=, password=, domain=);albo, gdy "
                "udział jest już zamknięty, --no-samba-check.",
            nullptr};
  const os::Result<std::string> text = os::read_whole_file(options.credentials_file);
  if (!text) return {"Nie można odczytać pliku " + options.credentials_file + " (--smb-credentials).", nullptr};
  std::string why;
  const auto credentials = samba::parse_credentials(text.value, &why);
  if (!credentials) return {"Plik " + options.credentials_file + " (--smb-credentials) " + why + ".", nullptr};

  // The semaphore as it lies on the disk; the share sees the same names.
  const std::string semaphore = os::canonical_native(dir + "/str/nazwy.dbf");
  auto hold = std::make_unique<ShareHold>(*credentials);
  bool sharing_violation = false;
  if (os::native_file_exists(semaphore)) {
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
