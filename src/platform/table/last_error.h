// The engine's last error: the code and message that the program's error handler
// shows beside the error itself. Kept from the engine's latest raised error until the
// next one, or until a reader takes it.
#pragma once

#include <string>

#include "platform/error/error.h"

namespace zuv::table {

struct LastError {
  int code = 0;  // 0: none
  std::string message;
};

LastError last_error();
// Answers the last error and forgets it, so it is not shown beside a later error that
// has nothing to do with the engine.
LastError take_last_error();
void clear_last_error();

// Every error the engine raises goes through here: kept as the last error, then handed
// to the current handler (raise_error).
HandlerAnswer raise_engine_error(ErrorRecord& record);

}  // namespace zuv::table
