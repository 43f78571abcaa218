// How the OS layer and everything of our own above it report a failure: a value
// carrying the Windows error code, on both targets (Linux errno values are mapped onto
// the same codes), never an exception. A failure may say in words what failed and
// name the file; a success carries nothing and costs no allocation.
#pragma once

#include <memory>
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
  static Status failure(int c) {
    Status s;
    s.code = c;
    return s;
  }
  // A failure that says what failed and of which file. A code of 0 (the OS gave none)
  // becomes kIoError: a failure is never read as a success.
  static Status failure(int c, std::string text, std::string path = {}) {
    Status s = failure(c ? c : oscode::kIoError);
    s.detail_ = std::make_shared<const Detail>(Detail{std::move(text), std::move(path)});
    return s;
  }
  // "" when the failure gave none (and on success).
  const std::string& text() const { return detail_ ? detail_->text : empty(); }
  const std::string& path() const { return detail_ ? detail_->path : empty(); }

 private:
  struct Detail {
    std::string text, path;
  };
  static const std::string& empty() {
    static const std::string none;
    return none;
  }
  std::shared_ptr<const Detail> detail_;
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
