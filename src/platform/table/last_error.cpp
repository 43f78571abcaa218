#include "platform/table/last_error.h"

namespace zuv::table {
namespace {
LastError& slot() {
  static LastError last;
  return last;
}
}  // namespace

LastError last_error() { return slot(); }

LastError take_last_error() {
  LastError e = std::move(slot());
  slot() = {};
  return e;
}

void clear_last_error() { slot() = {}; }

HandlerAnswer raise_engine_error(ErrorRecord& record) {
  LastError& last = slot();
  last.code = record.subCode ? record.subCode : record.genCode;
  last.message = record.operation.empty() ? record.description : record.operation + ": " + record.description;
  return raise_error(record);
}

}  // namespace zuv::table
