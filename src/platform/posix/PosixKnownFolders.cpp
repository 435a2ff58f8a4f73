// The configured public folder.
#include "platform/posix/PosixKnownFolders.h"

#include <sys/stat.h>

#include "base/Utf.h"
#include "platform/posix/PosixErrors.h"

namespace posix {

PosixKnownFolders::PosixKnownFolders(std::string publicFolder) : folder_(std::move(publicFolder)) {}

bool PosixKnownFolders::publicFolder(std::u16string& path, std::uint32_t& error) {
  struct stat st {};
  if (::stat(folder_.c_str(), &st) != 0) {
    error = lastSystemError();
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = 267;  // ERROR_DIRECTORY
    return false;
  }
  path = base::toUtf16(folder_);
  return true;
}

}  // namespace posix
