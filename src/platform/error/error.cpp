#include "platform/error/error.h"

namespace zuv {
namespace {
ErrorHandler& slot() {
  static ErrorHandler handler;
  return handler;
}
}  // namespace

ScopedHandler::ScopedHandler(ErrorHandler h) : previous_(std::move(slot())) { slot() = std::move(h); }
ScopedHandler::~ScopedHandler() { slot() = std::move(previous_); }

GuardedBlock::GuardedBlock() : ScopedHandler([](ErrorRecord&) { return HandlerAnswer::Break; }) {}

void set_program_handler(ErrorHandler h) { slot() = std::move(h); }
ErrorHandler current_handler() { return slot(); }

ErrorRecord error_record(int gen_code, std::string sub_system, std::string description, std::string file_name,
                         std::string operation, bool can_default) {
  ErrorRecord r;
  r.genCode = gen_code;
  r.subSystem = std::move(sub_system);
  r.description = std::move(description);
  r.fileName = std::move(file_name);
  r.operation = std::move(operation);
  r.canDefault = can_default;
  return r;
}

HandlerAnswer raise_error(ErrorRecord& record) {
  HandlerAnswer answer = slot() ? slot()(record) : HandlerAnswer::Break;
  if (answer == HandlerAnswer::Break) throw Break(record);
  return answer;
}

bool with_retry(const std::function<bool(ErrorRecord&)>& op) {
  for (;;) {
    ErrorRecord record;
    if (op(record)) return true;
    if (raise_error(record) != HandlerAnswer::Retry) return false;
  }
}

}  // namespace zuv
