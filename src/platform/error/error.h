// The runtime error model: a failing operation fills an ErrorRecord and hands it to
// the current handler, which answers retry, default or break. Handlers form a stack;
// a guarded block pushes one that breaks and always pops it again.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zuv {

// Generic codes the handler and its callers tell apart.
namespace gencode {
constexpr int kZeroDivide = 11;
constexpr int kOpen = 71;     // open failure; osCode says why
constexpr int kAppendLock = 78;
constexpr int kCreate = 20;
constexpr int kRead = 22;
constexpr int kWrite = 23;
constexpr int kCorrupt = 41;  // a file's contents contradict its format
constexpr int kLock = 40;
constexpr int kArgument = 1;
constexpr int kDataWidth = 29; // a value does not fit its field
}  // namespace gencode

// A value as the error text shows it: the one-letter type and the value as text.
struct ErrorValue {
  char type = 'U';  // C text, N number, L logical, D date, A list, O object, U nothing
  std::string text;
  static ErrorValue of(std::string s) { return {'C', std::move(s)}; }
  static ErrorValue of(long long n) { return {'N', std::to_string(n)}; }
};

struct ErrorRecord {
  int genCode = 0;
  int osCode = 0;
  std::string subSystem;
  int subCode = 0;
  int severity = 2;  // 1 warning, 2 error, 3 fatal
  std::string description;
  std::string fileName;
  std::string operation;
  unsigned long thread = 1;
  // Free slot; the handler may replace it by {previous cargo, engine code, engine message}.
  std::vector<ErrorValue> cargo;
  bool cargoIsList = false;
  std::optional<std::vector<ErrorValue>> args;
  bool canDefault = false;
  bool canRetry = false;
  bool canSubstitute = false;
  std::string callstack;  // "Called from" lines joined by ';', when known
};

// The record every raiser starts from: what failed, in which subsystem, of which file,
// in which operation. The handler may answer Default (the operation returns its
// failure) unless the raiser says otherwise; retry and the OS code are the raiser's to
// add.
ErrorRecord error_record(int gen_code, std::string sub_system, std::string description, std::string file_name,
                         std::string operation, bool can_default = true);

enum class HandlerAnswer {
  Retry,    // run the operation again
  Default,  // the operation returns its failure result
  Zero,     // the failed expression yields 0
  Break,    // hand the record to the innermost recovery section
};

using ErrorHandler = std::function<HandlerAnswer(ErrorRecord&)>;

// Thrown to unwind to the innermost recovery section.
class Break : public std::runtime_error {
 public:
  explicit Break(ErrorRecord r) : std::runtime_error(r.description), record(std::move(r)) {}
  ErrorRecord record;
};

// Installs a handler for the lifetime of the object and restores the previous one on
// every path out of the scope.
class ScopedHandler {
 public:
  explicit ScopedHandler(ErrorHandler h);
  ~ScopedHandler();
  ScopedHandler(const ScopedHandler&) = delete;
  ScopedHandler& operator=(const ScopedHandler&) = delete;

 private:
  ErrorHandler previous_;
};

// A handler that breaks on every error, with nothing shown: the block's failure is
// caught by the caller's catch (const Break&).
class GuardedBlock : public ScopedHandler {
 public:
  GuardedBlock();
};

// Replaces the current handler, the top of the stack: a ScopedHandler in force is
// overwritten, and on leaving its scope restores what it found, not this one.
void set_program_handler(ErrorHandler h);
ErrorHandler current_handler();

// Hands the record to the current handler. Returns Retry, Default or Zero; throws
// Break when the handler breaks. With no handler installed the error breaks.
HandlerAnswer raise_error(ErrorRecord& record);

// Runs op until it succeeds or the handler stops retrying; op fills the record when it
// fails. Answers true on success, false when the handler chose the default result.
bool with_retry(const std::function<bool(ErrorRecord&)>& op);

}  // namespace zuv
