#include "support/table_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include "platform/os/codepage.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace zuv::testing {
namespace {

// Paths handed down by the build are host paths; under Wine they live on drive Z:.
std::string from_build_path(std::string p) {
#ifdef _WIN32
  if (!p.empty() && p[0] == '/') {
    for (char& c : p)
      if (c == '/') c = '\\';
    p = "Z:" + p;
  }
#endif
  return p;
}

std::string utf8_of(const fs::path& p) {
  auto u = p.u8string();
  return std::string(u.begin(), u.end());
}

fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

}  // namespace

TableTempDir::TableTempDir() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
#ifdef _WIN32
  unsigned long pid = GetCurrentProcessId();
#else
  unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  fs::path dir = fs::temp_directory_path() /
                 ("zuv-table-" + std::to_string(pid) + "-" + std::to_string(counter++) + "-" + std::to_string(stamp % 100000));
  fs::create_directories(dir);
  dir_ = utf8_of(dir);
}

namespace {
// The Windows build's remove_all never gets past an entry that vanished after the
// listing (its remove answers "not there" without an error and the walk stays on it),
// which spins without end when anything else touches the tree; this walk lists each
// directory once and lets what cannot be removed stay.
void remove_tree(const fs::path& p) {
  std::error_code ec;
  if (fs::symlink_status(p, ec).type() == fs::file_type::directory) {
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    for (const auto& e : entries) remove_tree(e);
  }
  fs::remove(p, ec);
}
}  // namespace

TableTempDir::~TableTempDir() { remove_tree(path_of(dir_)); }

std::string TableTempDir::file(const std::string& name) const { return utf8_of(path_of(dir_) / path_of(name)); }

std::string table_vectors_dir() {
  std::string dir;
  if (const char* env = std::getenv("ZUV_VECTORS")) dir = env;
#ifdef ZUV_SOURCE_DIR
  if (dir.empty()) dir = from_build_path(std::string(ZUV_SOURCE_DIR) + "/tests/vectors");
#endif
  std::error_code ec;
  return !dir.empty() && fs::exists(path_of(dir) / "small.dbf", ec) ? dir : std::string();
}

std::string table_tool_path(const std::string& name) {
  std::string dir;
  if (const char* env = std::getenv("ZUV_BINARY_DIR")) dir = env;
#ifdef ZUV_BINARY_DIR
  if (dir.empty()) dir = ZUV_BINARY_DIR;
#endif
  dir = from_build_path(dir);
#ifdef _WIN32
  std::string exe = name + ".exe";
#else
  std::string exe = name;
#endif
  fs::path p = path_of(dir) / exe;
  std::error_code ec;
  return fs::exists(p, ec) ? utf8_of(p) : std::string();
}

std::string table_read_bytes(const std::string& path) {
  std::ifstream in(path_of(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string table_read_head(const std::string& path, std::size_t n) {
  std::ifstream in(path_of(path), std::ios::binary);
  std::string b(n, '\0');
  in.read(b.data(), static_cast<std::streamsize>(n));
  b.resize(static_cast<std::size_t>(in.gcount()));
  return b;
}

void table_write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path_of(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool table_wait_for_file(const std::string& path, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 20) {
    std::error_code ec;
    if (fs::exists(path_of(path), ec)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

#ifdef _WIN32
namespace {
// The child's C runtime splits its line by the usual rules: backslashes count only
// before a quote, so those get doubled, or D:\Dane\ would end in a quote.
std::wstring quote_argument(const std::wstring& a) {
  std::wstring q = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : a) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    q.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    q += c;
  }
  q.append(slashes * 2, L'\\');
  return q + L"\"";
}

std::wstring command_line(const std::vector<std::string>& args) {
  std::wstring line;
  for (const auto& a : args) {
    if (!line.empty()) line += L' ';
    line += quote_argument(os::widen(a));
  }
  return line;
}

HANDLE start_child(const std::vector<std::string>& args, HANDLE out) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (out) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION pi{};
  std::wstring line = command_line(args);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, out != nullptr, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}
}  // namespace

int table_run(const std::vector<std::string>& args, std::string* out) {
  if (!out) {
    TableChild c;
    if (!c.start(args)) return -1;
    return c.wait();
  }
  out->clear();
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &sa, 0)) return -1;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE child = start_child(args, write_end);
  CloseHandle(write_end);
  char buf[65536];
  DWORD n = 0;
  while (child && ReadFile(read_end, buf, sizeof buf, &n, nullptr) && n > 0) out->append(buf, n);
  CloseHandle(read_end);
  if (!child) return -1;
  WaitForSingleObject(child, 60000);
  DWORD code = 0;
  GetExitCodeProcess(child, &code);
  CloseHandle(child);
  return static_cast<int>(code);
}

bool table_start_detached(const std::vector<std::string>& args) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;  // all three empty: Wine gives a Linux child /dev/null
  PROCESS_INFORMATION pi{};
  std::wstring line = command_line(args);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  return true;
}

bool TableChild::start(const std::vector<std::string>& args) {
  process_ = start_child(args, nullptr);
  return process_ != nullptr;
}

void TableChild::kill() {
  if (process_) TerminateProcess(static_cast<HANDLE>(process_), 9);
}

int TableChild::wait() {
  if (!process_) return -1;
  WaitForSingleObject(static_cast<HANDLE>(process_), 60000);
  DWORD code = 0;
  GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
  CloseHandle(static_cast<HANDLE>(process_));
  process_ = nullptr;
  return static_cast<int>(code);
}

TableChild::~TableChild() {
  if (process_) {
    kill();
    wait();
  }
}

std::string table_python_with(const std::vector<std::string>&) { return {}; }

#else

namespace {
pid_t spawn(const std::vector<std::string>& args, int out_fd) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (out_fd >= 0) posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

int wait_exit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
}  // namespace

int table_run(const std::vector<std::string>& args, std::string* out) {
  int fds[2] = {-1, -1};
  if (out) {
    out->clear();
    if (pipe(fds) != 0) return -1;
  }
  pid_t pid = spawn(args, out ? fds[1] : -1);
  if (out) {
    close(fds[1]);
    char buf[65536];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out->append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
  }
  return pid < 0 ? -1 : wait_exit(pid);
}

bool TableChild::start(const std::vector<std::string>& args) {
  pid_ = spawn(args, -1);
  return pid_ > 0;
}

void TableChild::kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

int TableChild::wait() {
  if (pid_ <= 0) return -1;
  int rc = wait_exit(pid_);
  pid_ = -1;
  return rc;
}

TableChild::~TableChild() {
  if (pid_ > 0) {
    kill();
    wait();
  }
}

std::string table_python_with(const std::vector<std::string>& modules) {
  const std::string python = "/usr/bin/python3";
  if (access(python.c_str(), X_OK) != 0) return {};
  std::string script = "import sys\n";
  for (const auto& m : modules) script += "import " + m + "\n";
  return table_run({python, "-c", script}) == 0 ? python : std::string();
}

#endif

std::unique_ptr<table::Table> open_for_reading(const std::string& path) {
  table::OpenOptions o;
  o.path = path;
  o.shared = true;
  o.read_only = true;
  return table::Table::open(o);
}

}  // namespace zuv::testing
