// errno to Windows system error codes.
#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

std::string systemErrorText(std::uint32_t code) {
  static constexpr struct {
    std::uint32_t code;
    int err;
  } kErrnos[] = {{2, ENOENT}, {3, ENOTDIR}, {4, EMFILE},   {5, EACCES},   {6, EBADF},
                 {8, ENOMEM}, {87, EINVAL}, {112, ENOSPC}, {183, EEXIST}, {206, ENAMETOOLONG}};
  if ((code & 0xE0000000u) == 0x20000000u) return errorText(static_cast<int>(code & 0x1FFFFFFFu));
  for (const auto& known : kErrnos) {
    if (known.code == code) return errorText(known.err);
  }
  char text[24];
  std::snprintf(text, sizeof text, "error 0x%08x", static_cast<unsigned>(code));
  return text;
}

std::string errorText(int err) {
  char buffer[128] = {};
  // The GNU strerror_r returns its text, which need not be in `buffer`.
  return ::strerror_r(err, buffer, sizeof buffer);
}

}  // namespace posix
