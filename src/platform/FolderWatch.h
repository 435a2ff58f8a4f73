// Waiting for the folder of the page files to change.
#pragma once

#include <cstdint>

namespace platform {

/// One run's view of a watched folder. The platform keeps one watch per folder for all
/// runs; each FolderWatch remembers which of the folder's changes it has already seen.
class FolderWatch {
 public:
  virtual ~FolderWatch() = default;
  /// Waits `ms` milliseconds, or less when a file in the folder was closed after writing
  /// or renamed into place since this watch was made or its last wait ended. Where the
  /// folder cannot be watched (a network share), it always waits the whole time. True
  /// when a change ended the wait.
  virtual bool waitForChange(std::uint32_t ms) = 0;
};

}  // namespace platform
