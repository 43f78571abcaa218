// The routines the program is in, for the "Called from" lines of the error box: a
// routine names itself for as long as it runs. The error handler reads the stack while
// the failed operation is still inside it (the handler runs before anything unwinds).
#pragma once

#include <string>

namespace zuv {

class CallContext {
 public:
  // The line is where the routine named itself (the builtin, since not every compiler
  // we build with has std::source_location).
  explicit CallContext(const char* routine, unsigned line = __builtin_LINE());
  ~CallContext();
  CallContext(const CallContext&) = delete;
  CallContext& operator=(const CallContext&) = delete;
};

// "Called from NAME(LINE)" for each routine, the innermost first, joined by ";";
// "" when no routine has named itself.
std::string called_from_lines();

}  // namespace zuv
