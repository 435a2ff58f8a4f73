// errno to Windows system error codes.
#include "platform/posix/PosixErrors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
