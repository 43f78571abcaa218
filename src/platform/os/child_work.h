// Work done in a child process, for jobs that share nothing but the disk (the firms
// of one database). The child starts as a copy of this process, does its work and
// hands back a text; it dies with this process, so a run killed from outside leaves
// nobody writing behind it. Windows has no such copy of a process: there the work is
// not started and the caller does it itself.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace zuv::os {

// Whether this system starts child work at all.
bool child_work_available();

class ChildWork {
 public:
  ChildWork() = default;
  ChildWork(ChildWork&& o) noexcept;
  ChildWork& operator=(ChildWork&& o) noexcept;
  ChildWork(const ChildWork&) = delete;
  ChildWork& operator=(const ChildWork&) = delete;
  // Waits for a child not waited for yet.
  ~ChildWork();

  // Starts work in a child. The child lets go of every file this process had open (its
  // share locks included, so that they end with this process alone: done before this
  // returns) and answers with what work returns. False when no child could be started.
  bool start(const std::function<std::string()>& work);
  // Waits for the child's end: its answer, or nullopt when it ended without one (it
  // crashed or was killed).
  std::optional<std::string> wait();

 private:
  int pid_ = -1;
  int from_child_ = -1;
};

}  // namespace zuv::os
