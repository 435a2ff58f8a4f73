// Folders watched with FindFirstChangeNotificationW for page files that are written or
// renamed into place: one change notification per folder, shared by all runs.
#pragma once

#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/FolderWatch.h"

namespace win32 {

class Win32FolderWatches {
 public:
  /// `pollingClock` sleeps the waits on a folder that cannot be watched.
  explicit Win32FolderWatches(platform::Clock& pollingClock);
  ~Win32FolderWatches();
  Win32FolderWatches(const Win32FolderWatches&) = delete;
  Win32FolderWatches& operator=(const Win32FolderWatches&) = delete;

  /// A watch on `folder`. The folder's change notification is made on the first call and
  /// shared by the later ones; no thread serves it: a waiting run waits on it. Where it
  /// cannot be made (the folder is missing, or a network share that refuses it), or once it
  /// has failed, each wait sleeps its whole time on the polling clock, and the next call
  /// tries to watch the folder again.
  std::unique_ptr<platform::FolderWatch> watch(const std::u16string& folder);

 private:
  class Folders;  // the watched folders, one change notification each
  std::unique_ptr<Folders> folders_;
};

}  // namespace win32
