#include "platform/os/child_work.h"

namespace zuv::os {

bool child_work_available() { return false; }

ChildWork::ChildWork(ChildWork&&) noexcept {}
ChildWork& ChildWork::operator=(ChildWork&&) noexcept { return *this; }
ChildWork::~ChildWork() = default;
bool ChildWork::start(const std::function<std::string()>&) { return false; }
std::optional<std::string> ChildWork::wait() { return std::nullopt; }

}  // namespace zuv::os
