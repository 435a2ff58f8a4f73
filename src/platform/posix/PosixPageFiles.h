// The driver's page files on POSIX. A writer announces that a file is not finished by
// holding an exclusive flock() on it; the reader takes the same lock, without waiting, for
// as long as it has the file open, which stands for opening it without sharing.
#pragma once

#include <memory>
#include <string>

#include "platform/PageFiles.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/PosixFolderWatches.h"

namespace posix {

class PosixPageFiles : public platform::PageFiles {
 public:
  PosixPageFiles() : watches_(ownClock_) {}
  /// Waits on `pollingClock` where a folder cannot be watched.
  explicit PosixPageFiles(platform::Clock& pollingClock) : watches_(pollingClock) {}

  /// Null when the file is missing, is a symbolic link, is not a regular file (a FIFO is
  /// never waited on), is locked by its writer, or can't be opened; and when the notice's
  /// `sender` is known and is not root, for a file owned by any account but the sender
  /// and root, so no account has another's page files printed (or deleted).
  std::unique_ptr<platform::PageFile> open(const std::u16string& path,
                                           std::optional<std::uint32_t> sender) override;
  void remove(const std::u16string& path) override;
  /// inotify on the folder, one watch per folder for all runs (see PosixFolderWatches).
  std::unique_ptr<platform::FolderWatch> watchFolder(const std::u16string& folder) override;
  char16_t separator() const override { return u'/'; }

 private:
  PosixClock ownClock_;
  PosixFolderWatches watches_;
};

}  // namespace posix
