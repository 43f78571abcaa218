// How the OS layer reports a failure: a value carrying the Windows error code, on both
// targets (Linux errno values are mapped onto the same codes), never an exception.
#pragma once

#include <string>

namespace zuv::os {

namespace oscode {
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kTooManyOpenFiles = 4;
constexpr int kAccessDenied = 5;
constexpr int kNotEnoughMemory = 8;
constexpr int kWriteProtect = 19;
constexpr int kSharingViolation = 32;
constexpr int kLockViolation = 33;
constexpr int kHandleEof = 38;
constexpr int kNotSupported = 50;
constexpr int kFileExists = 80;
constexpr int kInvalidParameter = 87;
constexpr int kDiskFull = 112;
constexpr int kInvalidName = 123;
constexpr int kDirNotEmpty = 145;
constexpr int kAlreadyExists = 183;
constexpr int kFilenameTooLong = 206;
constexpr int kIoError = 1117;
}  // namespace oscode

struct [[nodiscard]] Status {
  int code = 0;  // 0 success, else a Windows error code
  bool ok() const { return code == 0; }
  explicit operator bool() const { return ok(); }
  static Status success() { return {}; }
  static Status failure(int c) { return {c}; }
};

// A value, or the code of the failure that prevented it.
template <class T>
struct [[nodiscard]] Result {
  T value{};
  int code = 0;
  bool ok() const { return code == 0; }
  explicit operator bool() const { return ok(); }
};

#ifndef _WIN32
// Linux errno mapped onto the Windows code a program there would see.
int code_from_errno(int err);
#endif

}  // namespace zuv::os
