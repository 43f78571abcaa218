#include "platform/os/status.h"

#include <cerrno>

namespace zuv::os {

int code_from_errno(int err) {
  switch (err) {
    case 0: return 0;
    case ENOENT: return oscode::kFileNotFound;
    case ENOTDIR: return oscode::kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EBUSY:
    case ETXTBSY: return oscode::kAccessDenied;
    case EROFS: return oscode::kWriteProtect;
    case EWOULDBLOCK: return oscode::kSharingViolation;
    case EEXIST: return oscode::kAlreadyExists;
    case ENOTEMPTY: return oscode::kDirNotEmpty;
    case ENOSPC:
    case EDQUOT: return oscode::kDiskFull;
    case ENAMETOOLONG: return oscode::kFilenameTooLong;
    case EMFILE:
    case ENFILE: return oscode::kTooManyOpenFiles;
    case ENOMEM: return oscode::kNotEnoughMemory;
    case EINVAL: return oscode::kInvalidParameter;
    case ENOTSUP: return oscode::kNotSupported;
    case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE
    default: return oscode::kIoError;
  }
}

}  // namespace zuv::os
