#include "platform/error/call_context.h"

#include <vector>

namespace zuv {
namespace {

struct Frame {
  const char* routine;
  unsigned line;
};

// The program has one thread; a context object lives on the stack of its routine, so
// frames come and go in strict order.
std::vector<Frame>& frames() {
  static std::vector<Frame> stack;
  return stack;
}

}  // namespace

CallContext::CallContext(const char* routine, unsigned line) {
  frames().push_back({routine, line});
}

CallContext::~CallContext() { frames().pop_back(); }

std::string called_from_lines() {
  std::string out;
  const auto& stack = frames();
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    if (!out.empty()) out += ';';
    out += "Called from " + std::string(it->routine) + "(" + std::to_string(it->line) + ")";
  }
  return out;
}

}  // namespace zuv
