#include "platform/os/child_work.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace zuv::os {
namespace {

// Every descriptor above the standard three but keep: the files this process had open.
std::vector<int> inherited_descriptors(int keep) {
  std::vector<int> fds;
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return fds;
  const int own = ::dirfd(d);
  while (dirent* e = ::readdir(d)) {
    char* end = nullptr;
    const long fd = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end || fd <= 2 || fd == keep || fd == own) continue;
    fds.push_back(static_cast<int>(fd));
  }
  ::closedir(d);
  return fds;
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

[[noreturn]] void run_child(int to_parent, pid_t parent, const std::function<std::string()>& work) {
  // A parent killed before this line would leave the child unwatched.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(3);
  // The parent's files stay open in the parent only: a share lock lives as long as any
  // copy of its descriptor, and the parent's must end with the parent. The numbers stay
  // taken, pointing nowhere, so that nothing of the parent's reaches a file of ours.
  const int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int fd : inherited_descriptors(to_parent))
    if (fd != nowhere) ::dup2(nowhere, fd);
  // The parent goes on only once nothing of its own is held here any more.
  if (!write_all(to_parent, "R")) ::_exit(4);
  // Whatever happens, the child never returns into the parent's code.
  std::string answer;
  try {
    answer = work();
  } catch (...) {
    ::_exit(5);
  }
  // No clean-up of the parent's objects, no flush of its buffers: they are the parent's.
  ::_exit(write_all(to_parent, answer) ? 0 : 4);
}

}  // namespace

bool child_work_available() { return true; }

ChildWork::ChildWork(ChildWork&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)), from_child_(std::exchange(o.from_child_, -1)) {}

ChildWork& ChildWork::operator=(ChildWork&& o) noexcept {
  if (this != &o) {
    wait();
    pid_ = std::exchange(o.pid_, -1);
    from_child_ = std::exchange(o.from_child_, -1);
  }
  return *this;
}

ChildWork::~ChildWork() { wait(); }

bool ChildWork::start(const std::function<std::string()>& work) {
  wait();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  std::fflush(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (pid == 0) {
    ::close(fds[0]);
    run_child(fds[1], parent, work);
  }
  ::close(fds[1]);
  pid_ = pid;
  from_child_ = fds[0];
  char ready = 0;
  ssize_t n;
  while ((n = ::read(from_child_, &ready, 1)) < 0 && errno == EINTR) {
  }
  if (n != 1 || ready != 'R') {
    wait();
    return false;
  }
  return true;
}

std::optional<std::string> ChildWork::wait() {
  if (pid_ < 0) return std::nullopt;
  std::string answer;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(from_child_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  ::close(from_child_);
  from_child_ = -1;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return answer;
}

}  // namespace zuv::os
