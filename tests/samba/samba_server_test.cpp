// The headless upgrade against a real Samba server: an smbd of Debian's own started on
// 127.0.0.1 with its configuration and state in a scratch directory, a share of the
// sample database, and workstations played by SMB clients (Debian's smbclient and
// libsmbclient with the share mode a workstation asks for). Skipped, with the reason,
// where smbd cannot start; under CI=true that is a failure.
#ifndef _WIN32
#include <fcntl.h>
#include <libsmbclient.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "app/samba_guard.h"
#include "support/table_support.h"

namespace zuv::samba_testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kPassword = "Haslo-7";

// Starts a program with cwd as its directory; its standard input is a pipe when
// stdin_fd is given, its outputs go to out_file.
pid_t start(const std::vector<std::string>& args, const std::string& cwd, const std::string& out_file,
            int* stdin_fd = nullptr) {
  int in[2] = {-1, -1};
  if (stdin_fd && pipe(in) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    if (stdin_fd) {
      dup2(in[0], 0);
      close(in[1]);
    } else {
      dup2(open("/dev/null", O_RDONLY), 0);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (stdin_fd) {
    close(in[0]);
    *stdin_fd = in[1];
  }
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a program to its end: its exit code and both its outputs.
int run(const std::vector<std::string>& args, const std::string& cwd, std::string* output) {
  const std::string out_file = fs::temp_directory_path() / ("zuv-samba-run-" + std::to_string(getpid()));
  const int rc = wait_for(start(args, cwd, out_file));
  if (output) *output = zuv::testing::table_read_bytes(out_file);
  fs::remove(out_file);
  return rc;
}

bool port_answers(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string user_name() {
  const passwd* pw = getpwuid(geteuid());
  return pw ? pw->pw_name : "";
}

// One smbd for the whole suite, serving [zuv] = its scratch directory's share/.
class SambaServer {
 public:
  SambaServer() : port_(20000 + getpid() % 20000) {
    root_ = fs::path(scratch_.path());
    if (geteuid() != 0) {
      why_not_ = "smbd needs root to serve a share";
      return;
    }
    for (const char* d : {"share", "state", "private", "lock", "cache", "run", "log"}) fs::create_directories(root_ / d);
    conf_ = (root_ / "smb.conf").string();
    std::ofstream c(conf_);
    c << "[global]\n  workgroup = ZUVTEST\n  netbios name = ZUVSERVER\n  server role = standalone server\n"
      << "  interfaces = 127.0.0.1\n  bind interfaces only = yes\n  smb ports = " << port_ << "\n"
      << "  passdb backend = tdbsam\n  load printers = no\n  printcap name = /dev/null\n  disable spoolss = yes\n";
    for (const auto& [key, dir] : std::map<std::string, std::string>{{"state directory", "state"},
                                                                      {"private dir", "private"},
                                                                      {"lock directory", "lock"},
                                                                      {"cache directory", "cache"},
                                                                      {"pid directory", "run"},
                                                                      {"ncalrpc dir", "run/ncalrpc"}})
      c << "  " << key << " = " << (root_ / dir).string() << "\n";
    c << "  log file = " << (root_ / "log" / "smbd.log").string() << "\n";
    c << "[zuv]\n  path = " << share().string() << "\n  read only = no\n  valid users = " << user_name() << "\n";
    c.close();
    int in = -1;
    const pid_t pw = start({"smbpasswd", "-c", conf_, "-a", "-s", user_name()}, "", (root_ / "smbpasswd.out").string(), &in);
    const std::string lines = std::string(kPassword) + "\n" + kPassword + "\n";
    if (write(in, lines.data(), lines.size()) < 0) {
    }
    close(in);
    if (wait_for(pw) != 0) {
      why_not_ = "smbpasswd failed: " + zuv::testing::table_read_bytes((root_ / "smbpasswd.out").string());
      return;
    }
    smbd_ = start({"smbd", "--foreground", "--no-process-group", "-s", conf_}, "", (root_ / "log" / "smbd.out").string());
    for (int i = 0; i < 100 && !port_answers(port_); ++i) std::this_thread::sleep_for(100ms);
    if (!port_answers(port_))
      why_not_ = "smbd did not start: " + zuv::testing::table_read_bytes((root_ / "log" / "smbd.out").string());
    zuv::testing::table_write_bytes((root_ / "credentials").string(),
                                    "username=" + user_name() + "\npassword=" + kPassword + "\ndomain=ZUVTEST\n");
  }
  ~SambaServer() {
    if (smbd_ > 0) {
      kill(smbd_, SIGTERM);
      wait_for(smbd_);
    }
  }
  const std::string& why_not() const { return why_not_; }
  fs::path share() const { return root_ / "share"; }
  std::string conf() const { return conf_; }
  std::string credentials() const { return (root_ / "credentials").string(); }
  int port() const { return port_; }
  std::string url(const std::string& inside) const {
    return "smb://127.0.0.1:" + std::to_string(port_) + "/zuv/" + inside;
  }
  // The server's own list, as an independent witness of who has what open.
  std::string status() const {
    std::string out;
    run({"smbstatus", "--json", "--configfile=" + conf_}, "", &out);
    return out;
  }

 private:
  zuv::testing::TableTempDir scratch_;
  fs::path root_;
  std::string conf_, why_not_;
  int port_;
  pid_t smbd_ = -1;
};

// A workstation's open through the share with the share mode it asks for: errno of
// the open, 0 when it succeeded (and the file is closed again).
int workstation_open(const SambaServer& server, const std::string& inside, smbc_share_mode mode) {
  SMBCCTX* ctx = smbc_new_context();
  smbc_setOptionNoAutoAnonymousLogin(ctx, 1);
  smbc_setOptionOpenShareMode(ctx, mode);
  smbc_setFunctionAuthDataWithContext(ctx, [](SMBCCTX*, const char*, const char*, char*, int, char* un, int unlen,
                                              char* pw, int pwlen) {
    std::snprintf(un, static_cast<size_t>(unlen), "%s", user_name().c_str());
    std::snprintf(pw, static_cast<size_t>(pwlen), "%s", kPassword);
  });
  EXPECT_TRUE(smbc_init_context(ctx));
  SMBCFILE* f = smbc_getFunctionOpen(ctx)(ctx, server.url(inside).c_str(), O_RDWR, 0);
  const int e = f ? 0 : errno;
  if (f) smbc_getFunctionClose(ctx)(ctx, f);
  smbc_free_context(ctx, 1);
  return e;
}

// A workstation keeping a file open through Debian's smbclient until it goes.
class SmbclientHolder {
 public:
  SmbclientHolder(const SambaServer& server, const std::string& inside) {
    pid_ = start({"smbclient", "-p", std::to_string(server.port()), "-U", user_name() + "%" + kPassword,
                  "//127.0.0.1/zuv"},
                 "", (fs::temp_directory_path() / ("zuv-smbclient-" + std::to_string(getpid()))).string(), &stdin_);
    const std::string command = "open " + inside + "\n";
    if (write(stdin_, command.data(), command.size()) < 0) return;
    // Held once the server lists it.
    for (int i = 0; i < 100 && !holding_; ++i) {
      holding_ = server.status().find(inside) != std::string::npos;
      if (!holding_) std::this_thread::sleep_for(100ms);
    }
  }
  ~SmbclientHolder() {
    close(stdin_);
    kill(-pid_, SIGKILL);
    wait_for(pid_);
  }
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  bool holding_ = false;
};

class SambaShare : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new SambaServer();
    sample_copy_.clear();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_->why_not().empty()) {
      const char* ci = std::getenv("CI");
      if (ci && std::string(ci) == "true") FAIL() << server_->why_not();
      GTEST_SKIP() << server_->why_not();
    }
    sample_ = zuv::testing::table_tool_path("zuv-sample");
    zuvinst_ = zuv::testing::table_tool_path("zuvinst");
    ASSERT_FALSE(sample_.empty() || zuvinst_.empty()) << "the programs are not built";
    root_ = server_->share() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // One sample for all the tests (it syncs every file it writes), kept beside the
    // build while zuv-sample stays the same program, and copied for each test.
    if (sample_copy_.empty()) {
      const char* build = std::getenv("ZUV_BINARY_DIR");
      const auto stamp = fs::last_write_time(sample_).time_since_epoch().count();
      const fs::path kept = fs::path(build && *build ? build : fs::temp_directory_path().string()) /
                            ("samba-test-sample-" + std::to_string(static_cast<unsigned long long>(stamp)));
      if (!fs::is_directory(kept)) {
        const fs::path made = kept.string() + ".new-" + std::to_string(getpid());
        // The headless run is given the database; what the program records is the
        // workstations' path, which the sample's scratch path would not fit.
        std::string out;
        ASSERT_EQ(run({sample_, "--out", made.string(), "--firms", "2", "--records", "20", "--db-path", "Z:\\BAZA\\"},
                      "", &out),
                  0)
            << out;
        std::error_code ec;
        fs::rename(made, kept, ec);  // another run's copy, made meanwhile, serves as well
        if (ec) fs::remove_all(made, ec);
      }
      sample_copy_ = kept;
    }
    fs::copy(sample_copy_, root_, fs::copy_options::recursive);
    setenv("ZUV_SMB_CONF", server_->conf().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ZUV_SMB_CONF");
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  int upgrade(std::vector<std::string> extra, std::string* output) {
    std::vector<std::string> args = {zuvinst_, "26.01.033", "026.01.033", "2026", "--upgrade-db",
                                     (root_ / "baza").string(), "--program", (root_ / "program").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args, (root_ / "release").string(), output);
  }

  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      if (e.is_regular_file()) files[e.path().string()] = zuv::testing::table_read_bytes(e.path().string());
    return files;
  }

  static SambaServer* server_;
  static fs::path sample_copy_;  // the suite's sample, made by the first test
  std::string sample_, zuvinst_;
  fs::path root_;
};
SambaServer* SambaShare::server_ = nullptr;
fs::path SambaShare::sample_copy_;

TEST_F(SambaShare, AWorkstationHoldingTheSemaphoreRefusesTheRunAndNothingChanges) {
  SmbclientHolder workstation(*server_, root_.filename().string() + "/baza/str/nazwy.dbf");
  ASSERT_TRUE(workstation.holding()) << server_->status();
  const auto before = snapshot();
  std::string out;
  EXPECT_EQ(upgrade({"--smb-credentials", server_->credentials()}, &out), 2) << out;
  EXPECT_NE(out.find("W programie ZUV pracują inni użytkownicy."), std::string::npos) << out;
  EXPECT_NE(out.find("127.0.0.1 (" + user_name() + ")"), std::string::npos) << out;
  EXPECT_NE(out.find("str/nazwy.dbf"), std::string::npos) << out;  // as the paths were given
  EXPECT_TRUE(before == snapshot()) << "a refused run changed files";
}

TEST_F(SambaShare, AWorkstationWithAFirmTableOpenRefusesTheRun) {
  SmbclientHolder workstation(*server_, root_.filename().string() + "/baza/firma1/ks_dok.dbf");
  ASSERT_TRUE(workstation.holding()) << server_->status();
  const auto before = snapshot();
  std::string out;
  EXPECT_EQ(upgrade({"--smb-credentials", server_->credentials()}, &out), 2) << out;
  EXPECT_NE(out.find("firma1/ks_dok.dbf"), std::string::npos) << out;
  EXPECT_NE(out.find("127.0.0.1"), std::string::npos) << out;
  EXPECT_TRUE(before == snapshot()) << "a refused run changed files";
}

TEST_F(SambaShare, WithoutCredentialsASharedDatabaseIsRefusedWithTheHint) {
  const std::string bad = (root_ / "bad.cred").string();
  zuv::testing::table_write_bytes(bad, "username=" + user_name() + "\npassword=zle\n");
  const auto before = snapshot();
  std::string out;
  EXPECT_EQ(upgrade({}, &out), 2) << out;
  EXPECT_NE(out.find("--smb-credentials"), std::string::npos) << out;
  EXPECT_NE(out.find("\"zuv\""), std::string::npos) << out;
  EXPECT_TRUE(before == snapshot());
  // Wrong credentials: refused too, with the reason.
  EXPECT_EQ(upgrade({"--smb-credentials", bad}, &out), 2) << out;
  EXPECT_NE(out.find("Nie można zablokować bazy danych"), std::string::npos) << out;
  EXPECT_TRUE(before == snapshot());
}

TEST_F(SambaShare, TheSilentUpgradeMakesTheSameChecks) {
  // The program's baza.dbf names the database as the workstations do (Z:\BAZA\): Z: is
  // this test's directory here; the registry and the operator's folders are scratch.
  setenv("ZUV_DRIVES", ("Z=" + root_.string()).c_str(), 1);
  setenv("ZUV_DRIVE_ROOT", (root_ / "drives").c_str(), 1);
  setenv("ZUV_REGISTRY_FILE", (root_ / "registry.reg").c_str(), 1);
  setenv("USERPROFILE", "C:\\Users\\Operator", 1);
  const auto before = snapshot();
  std::string out;
  const int rc = run({zuvinst_, "26.01.033", "026.01.033", "2026", "--silent", "--upgrade", (root_ / "program").string() + "/"},
                     (root_ / "release").string(), &out);
  for (const char* name : {"ZUV_DRIVES", "ZUV_DRIVE_ROOT", "ZUV_REGISTRY_FILE", "USERPROFILE"}) unsetenv(name);
  EXPECT_EQ(rc, 2) << out;
  EXPECT_NE(out.find("--smb-credentials"), std::string::npos) << out;
  EXPECT_TRUE(before == snapshot()) << "a refused run changed files";
}

TEST_F(SambaShare, AFreeShareIsUpgradedWhileHeldAndTheSwitchSaysItIsOff) {
  std::string out;
  // Workers are processes of their own: the held share outlives them.
  EXPECT_EQ(upgrade({"--smb-credentials", server_->credentials(), "--workers", "2"}, &out), 0) << out;
  EXPECT_NE(out.find("Baza danych zaktualizowana"), std::string::npos) << out;
  // Nothing of the run is left open on the server.
  EXPECT_EQ(server_->status().find(root_.filename().string() + "/baza"), std::string::npos) << server_->status();
  EXPECT_EQ(upgrade({"--no-samba-check"}, &out), 0) << out;
  EXPECT_NE(out.find("--no-samba-check"), std::string::npos) << out;
}

TEST_F(SambaShare, WhileTheUpgradeHoldsTheDatabaseWorkstationsAreRefused) {
  const std::string semaphore = root_.filename().string() + "/baza/str/nazwy.dbf";
  std::ostringstream err;
  app::SambaGuardResult held =
      app::guard_samba_share((root_ / "baza").string(), {false, server_->credentials()}, err);
  ASSERT_EQ(held.refusal, "");
  ASSERT_TRUE(held.hold);
  EXPECT_EQ(workstation_open(*server_, semaphore, SMBC_SHAREMODE_DENY_NONE), EBUSY);
  EXPECT_EQ(workstation_open(*server_, semaphore, SMBC_SHAREMODE_DENY_ALL), EBUSY);
  std::string out;
  run({"smbclient", "-p", std::to_string(server_->port()), "-U", user_name() + "%" + kPassword, "//127.0.0.1/zuv",
       "-c", "open " + semaphore},
      "", &out);
  EXPECT_NE(out.find("NT_STATUS_SHARING_VIOLATION"), std::string::npos) << out;
  held.hold.reset();
  EXPECT_EQ(workstation_open(*server_, semaphore, SMBC_SHAREMODE_DENY_ALL), 0);  // let go with the run
}

}  // namespace
}  // namespace zuv::samba_testing
#endif
