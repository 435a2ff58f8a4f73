// The driver's page files on POSIX. A writer announces that a file is not finished by
// holding an exclusive flock() on it; the reader takes the same lock, without waiting, for
// as long as it has the file open, which stands for opening it without sharing.
#pragma once

#include <memory>
#include <string>

#include "platform/PageFiles.h"

namespace posix {

class PosixPageFiles : public platform::PageFiles {
 public:
  /// Null when the file is missing, is a symbolic link, is not a regular file (a FIFO is
  /// never waited on), is locked by its writer, or can't be opened.
  std::unique_ptr<platform::PageFile> open(const std::u16string& path) override;
  /// A file that unlink() leaves in place gives one line with strerror().
  bool remove(const std::u16string& path, std::string& why) override;
  char16_t separator() const override { return u'/'; }
};

}  // namespace posix
