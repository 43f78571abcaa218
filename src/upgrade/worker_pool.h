// Firms upgraded at once, each in a child process of its own, one firm per child. Every
// worker has a slot directory standing for both the program directory (its "temp\",
// where steps fill tables) and the database directory (its "str\", a copy of the
// templates, which steps open for themselves alone). The parent settles the firms in
// the order it started them, as one after the other would.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "platform/os/child_work.h"

namespace zuv::upgrade {

// What a worker's firm came to.
struct WorkerAnswer {
  enum Kind { Done, Skipped, Broke, Vanished } kind = Vanished;
  std::string described;  // the runtime error that ended the firm (Broke)
};

class WorkerPool {
 public:
  // workers: as asked; the pool is idle (every firm in this process) where the system
  // has no child work or one worker was asked for.
  WorkerPool(const std::string& program_dir, const std::string& database_dir, int workers);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  bool idle() const { return workers_ < 2; }
  // Makes the slot directories; "" or the directory that could not be filled.
  std::string prepare();

  using Work = std::function<WorkerAnswer(const std::string& slot_dir)>;
  using Settle = std::function<void(double nr, const std::string& firm_dir, const WorkerAnswer&)>;
  // Starts a firm in a child, settling the oldest first when every worker is busy;
  // false when no child could be had (the caller does the firm itself).
  bool start(double nr, const std::string& firm_dir, const Work& work, const Settle& settle);
  // Waits for every firm still running, in the order they started, then empties the slots.
  void settle_all(const Settle& settle);

 private:
  struct Running {
    os::ChildWork child;
    double nr = 0;
    std::string firm_dir;
    int slot = 0;
  };
  std::string slot_dir(int slot) const;
  void settle_oldest(const Settle& settle);

  std::string program_dir_;
  std::string database_dir_;
  int workers_ = 1;
  std::deque<Running> running_;
};

}  // namespace zuv::upgrade
