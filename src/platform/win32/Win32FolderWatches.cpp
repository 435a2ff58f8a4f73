#include "platform/win32/Win32FolderWatches.h"

#include <windows.h>

#include "base/SharedWait.h"
#include "platform/win32/Win32Handle.h"

namespace win32 {

/// A file created, renamed or deleted, or its last write time changed (when its writer
/// has written and closed it).
constexpr DWORD kChangeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

namespace {

/// One folder's change notification.
class ChangeSource {
 public:
  /// Null when the folder cannot be watched.
  static std::unique_ptr<ChangeSource> start(const std::u16string& folder) {
    const std::wstring name = wide(folder);
    const HANDLE change = FindFirstChangeNotificationW(name.c_str(), FALSE, kChangeFilter);
    if (change == INVALID_HANDLE_VALUE || change == nullptr) return nullptr;
    return std::make_unique<ChangeSource>(change);
  }

  explicit ChangeSource(HANDLE change) : change_(change) {}
  ~ChangeSource() { FindCloseChangeNotification(change_); }
  ChangeSource(const ChangeSource&) = delete;
  ChangeSource& operator=(const ChangeSource&) = delete;

  /// Waits up to `ms` for the notification and asks for the next one; it is gone when
  /// either fails (its folder was removed).
  base::SharedWait::Seen read(std::uint32_t ms) {
    using Seen = base::SharedWait::Seen;
    const DWORD woke = WaitForSingleObject(change_, ms);
    if (woke == WAIT_TIMEOUT) return Seen::nothing;
    if (woke != WAIT_OBJECT_0 || !FindNextChangeNotification(change_)) return Seen::gone;
    return Seen::change;
  }

 private:
  HANDLE change_;  // closed with FindCloseChangeNotification, not CloseHandle
};

}  // namespace

class Win32FolderWatches::Folders
    : public platform::SharedFolderWatches<ChangeSource, std::u16string> {
 public:
  using SharedFolderWatches::SharedFolderWatches;
};

Win32FolderWatches::Win32FolderWatches(platform::Clock& pollingClock)
    : folders_(std::make_unique<Folders>(pollingClock)) {}

Win32FolderWatches::~Win32FolderWatches() = default;

std::unique_ptr<platform::FolderWatch> Win32FolderWatches::watch(const std::u16string& folder) {
  return folders_->watch(folder);
}

}  // namespace win32
