#include "upgrade/worker_pool.h"

#include <algorithm>

#include "lib/files.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"

namespace zuv::upgrade {
namespace {

constexpr const char* kSlotSubdirs[] = {"temp", "str"};

// The answer's wire form: its kind's letter, then the description.
std::string encoded(const WorkerAnswer& a) {
  return (a.kind == WorkerAnswer::Done ? "D" : a.kind == WorkerAnswer::Broke ? "B" : "S") + a.described;
}

WorkerAnswer decoded(const std::optional<std::string>& wire) {
  WorkerAnswer a;
  if (!wire || wire->empty()) return a;  // the child ended without an answer
  switch ((*wire)[0]) {
    case 'D': a.kind = WorkerAnswer::Done; break;
    case 'B': a.kind = WorkerAnswer::Broke; break;
    case 'S': a.kind = WorkerAnswer::Skipped; break;
    default: return a;
  }
  a.described = wire->substr(1);
  return a;
}

}  // namespace

WorkerPool::WorkerPool(const std::string& program_dir, const std::string& database_dir, int workers)
    : program_dir_(program_dir),
      database_dir_(database_dir),
      workers_(os::child_work_available() ? std::max(1, workers) : 1) {}

WorkerPool::~WorkerPool() = default;

std::string WorkerPool::slot_dir(int slot) const {
  return program_dir_ + "temp\\zuv_w" + std::to_string(slot + 1) + "\\";
}

std::string WorkerPool::prepare() {
  if (idle()) return "";
  // A worker without its directories fails its firms' steps, which are then reported.
  base::let_go(lib::MKDIR(program_dir_ + "temp"), "an existing directory answers 183");
  for (int slot = 0; slot < workers_; ++slot) {
    const std::string dir = slot_dir(slot);
    base::let_go(lib::MKDIR(dir), "an existing directory answers 183");
    for (const char* sub : kSlotSubdirs) base::let_go(lib::MKDIR(dir + sub), "an existing directory answers 183");
    // The semaphore is the run's own, held for its whole length; no step reads it.
    if (!lib::COPY_KAT(database_dir_ + "str\\", dir + "str\\", "*.*", ",NAZWY.DBF,")) return dir + "str\\";
  }
  return "";
}

bool WorkerPool::start(double nr, const std::string& firm_dir, const Work& work, const Settle& settle) {
  if (idle()) return false;
  if (static_cast<int>(running_.size()) >= workers_) settle_oldest(settle);
  int slot = 0;
  while (std::any_of(running_.begin(), running_.end(), [&](const Running& r) { return r.slot == slot; })) ++slot;
  Running r;
  r.nr = nr;
  r.firm_dir = firm_dir;
  r.slot = slot;
  const std::string dir = slot_dir(slot);
  if (!r.child.start([&] { return encoded(work(dir)); })) return false;
  running_.push_back(std::move(r));
  return true;
}

void WorkerPool::settle_oldest(const Settle& settle) {
  Running r = std::move(running_.front());
  running_.pop_front();
  settle(r.nr, r.firm_dir, decoded(r.child.wait()));
}

void WorkerPool::settle_all(const Settle& settle) {
  while (!running_.empty()) settle_oldest(settle);
  for (int slot = 0; !idle() && slot < workers_; ++slot) {
    const std::string dir = slot_dir(slot);
    for (const char* sub : kSlotSubdirs) {
      base::let_go(lib::DEL_KAT(dir + sub + "\\", "*.*"), "a worker's directory left behind is emptied by the next run");
      base::let_go(os::remove_directory(dir + sub), "a worker's directory left behind is emptied by the next run");
    }
    base::let_go(os::remove_directory(dir.substr(0, dir.size() - 1)), "emptied by the next run");
  }
}

}  // namespace zuv::upgrade
