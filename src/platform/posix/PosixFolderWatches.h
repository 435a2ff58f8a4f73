// Folders watched with inotify for page files that are closed after writing or renamed
// into place: one inotify watch per folder, shared by all runs.
#pragma once

#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/FolderWatch.h"

namespace posix {

class PosixFolderWatches {
 public:
  /// `pollingClock` sleeps the waits on a folder that cannot be watched.
  explicit PosixFolderWatches(platform::Clock& pollingClock);
  ~PosixFolderWatches();
  PosixFolderWatches(const PosixFolderWatches&) = delete;
  PosixFolderWatches& operator=(const PosixFolderWatches&) = delete;

  /// A watch on `folder` (UTF-8). The folder's inotify watch is made on the first call and
  /// shared by the later ones; no thread serves it: a waiting run reads it. Where it
  /// cannot be made (inotify_add_watch fails: the folder is missing, or its file system
  /// does not support it), or once the kernel has dropped it (the folder was removed),
  /// each wait sleeps its whole time on the polling clock, and the next call tries to
  /// watch the folder again.
  std::unique_ptr<platform::FolderWatch> watch(const std::string& folder);

 private:
  class Folders;  // the watched folders, one inotify descriptor each
  std::unique_ptr<Folders> folders_;
};

}  // namespace posix
