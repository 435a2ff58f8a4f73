// errno to Windows system error codes.
#include "platform/posix/PosixErrors.h"

#include <cerrno>

namespace posix {

std::uint32_t systemError(int err) {
  switch (err) {
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
      return 3;  // ERROR_PATH_NOT_FOUND
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
      return 5;  // ERROR_ACCESS_DENIED
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    case ENOMEM:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case EINVAL:
      return 87;  // ERROR_INVALID_PARAMETER
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case EEXIST:
    case EADDRINUSE:
      return 183;  // ERROR_ALREADY_EXISTS
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    default:
      return 0x20000000u | static_cast<std::uint32_t>(err);
  }
}

std::uint32_t lastSystemError() {
  return systemError(errno);
}

}  // namespace posix
