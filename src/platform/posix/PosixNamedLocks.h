// Named locks as flock() locks on files in a lock folder: the kernel lets a lock go when
// the process that held it ends, however it ends.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/NamedLock.h"

namespace posix {

class PosixNamedLocks : public platform::NamedLocks {
 public:
  /// Lock files are created in `lockDir`, which must exist.
  explicit PosixNamedLocks(std::string lockDir);

  /// Opens (creating when needed) the lock file of `name` and tries to lock it without
  /// waiting. Every call opens the file anew, so two handles of one process exclude each
  /// other as handles of two processes do.
  std::unique_ptr<platform::NamedLockHandle> create(std::u16string_view name,
                                                    bool& alreadyExisted) override;

  /// The lock file's name for `name`: the name in UTF-8 followed by ".lock" when that is
  /// a plain file name of at most 255 bytes that maps back to the same name; otherwise
  /// the SHA-256 of the name's UTF-16LE bytes in hexadecimal followed by ".sha256". The
  /// two forms can't meet, since only the first ends in ".lock".
  static std::string lockFileName(std::u16string_view name);

 private:
  std::string lockDir_;
};

}  // namespace posix
