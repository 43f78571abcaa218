#include <windows.h>

#include "platform/os/codepage.h"
#include "sys/errorsys.h"

namespace zuv::sys {

std::string DOSERRORMESSAGE(int os_code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(os_code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string text = n && buffer ? os::narrow(std::wstring_view(buffer, n)) : "";
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

namespace {
class WindowsErrorBox : public ErrorBox {
 public:
  BoxAnswer show(const std::string& title, const std::string& text, BoxButtons buttons, BoxIcon icon) override {
    UINT flags = buttons == BoxButtons::AbortRetryIgnore ? MB_ABORTRETRYIGNORE
                 : buttons == BoxButtons::RetryCancel    ? MB_RETRYCANCEL
                 : buttons == BoxButtons::OkCancel       ? MB_OKCANCEL
                                                         : MB_OK;
    flags |= icon == BoxIcon::Stop ? MB_ICONSTOP : icon == BoxIcon::Exclamation ? MB_ICONEXCLAMATION : MB_ICONINFORMATION;
    flags |= MB_SETFOREGROUND | MB_TASKMODAL;
    switch (MessageBoxW(nullptr, os::widen(text).c_str(), os::widen(title).c_str(), flags)) {
      case IDRETRY: return BoxAnswer::Retry;
      case IDIGNORE: return BoxAnswer::Ignore;
      case IDABORT: return BoxAnswer::Abort;
      case IDCANCEL: return BoxAnswer::Cancel;
      default: return BoxAnswer::Ok;
    }
  }
};
}  // namespace

ErrorBox& platform_error_box() {
  static WindowsErrorBox box;
  return box;
}

}  // namespace zuv::sys
