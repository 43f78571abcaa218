// The program-wide error handler: settles the common harmless errors silently and shows
// every other one in a modal box whose button decides retry, default, break or quit.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error/error.h"

namespace zuv::sys {

enum class BoxButtons { Ok, OkCancel, RetryCancel, AbortRetryIgnore };
enum class BoxIcon { Stop, Exclamation, Information };
enum class BoxAnswer { Ok, Cancel, Abort, Retry, Ignore };

// Shows the error box. The text's lines are separated by '\r'.
class ErrorBox {
 public:
  virtual ~ErrorBox() = default;
  virtual BoxAnswer show(const std::string& title, const std::string& text, BoxButtons buttons, BoxIcon icon) = 0;
};

// The engine's last error of the current work area, when it has one.
struct EngineError {
  int code = 0;
  std::string message;
};
using EngineErrorSource = std::function<std::optional<EngineError>()>;

struct HandlerServices {
  ErrorBox* box = nullptr;                  // null: the platform's own box
  EngineErrorSource engine_error;           // may be empty
  std::function<void(int)> quit;            // ends the program; empty: std::exit
};

// Installs STANDARDEH as the program-wide handler.
void ERRORSYS(HandlerServices services = {});

HandlerAnswer STANDARDEH(ErrorRecord& error, const HandlerServices& services);
std::string ERRORMESSAGE(const ErrorRecord& error);
std::string LINESPLIT(const std::string& text, int width);
std::string ERR_PIS(const ErrorRecord& error);

// The operating system's text for an error code.
std::string DOSERRORMESSAGE(int os_code);

// The box of the platform: the Windows message box, or a terminal prompt on Linux.
ErrorBox& platform_error_box();

}  // namespace zuv::sys
