// errno to Windows system error codes.
#include "platform/posix/PosixErrors.h"

#include <cerrno>

#include "platform/SystemErrors.h"

namespace posix {

std::uint32_t systemError(int err) {
  switch (err) {
    case ENOENT:
      return platform::kErrorFileNotFound;
    case ENOTDIR:
      return platform::kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return platform::kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
      return platform::kErrorAccessDenied;
    case EBADF:
      return platform::kErrorInvalidHandle;
    case ENOMEM:
      return platform::kErrorNotEnoughMemory;
    case EINVAL:
      return platform::kErrorInvalidParameter;
    case ENOSPC:
      return platform::kErrorDiskFull;
    case EEXIST:
    case EADDRINUSE:
      return platform::kErrorAlreadyExists;
    case ENAMETOOLONG:
      return platform::kErrorFilenameTooLong;
    default:
      return platform::kErrorNotWindowsBit | static_cast<std::uint32_t>(err);
  }
}

std::uint32_t lastSystemError() {
  return systemError(errno);
}

}  // namespace posix
