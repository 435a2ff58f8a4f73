#include "platform/win32/Win32FolderWatches.h"

#include <windows.h>

#include "base/SharedWait.h"
#include "platform/win32/Win32Handle.h"

namespace win32 {

/// A file created, renamed or deleted, or its last write time changed (when its writer
/// has written and closed it).
constexpr DWORD kChangeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

class Win32FolderWatches::Watched {
 public:
  /// Null when the folder cannot be watched.
  static std::shared_ptr<Watched> start(const std::u16string& folder) {
    const std::wstring name = wide(folder);
    const HANDLE change = FindFirstChangeNotificationW(name.c_str(), FALSE, kChangeFilter);
    if (change == INVALID_HANDLE_VALUE || change == nullptr) return nullptr;
    return std::make_shared<Watched>(change);
  }

  explicit Watched(HANDLE change) : change_(change) {}
  ~Watched() { FindCloseChangeNotification(change_); }
  Watched(const Watched&) = delete;
  Watched& operator=(const Watched&) = delete;

  std::uint64_t changes() { return wait_.count(); }
  bool gone() { return wait_.gone(); }
  bool waitPast(std::uint64_t& seen, std::uint32_t ms) {
    return wait_.waitPast(seen, ms, [this](std::uint32_t limit) { return read(limit); });
  }

 private:
  /// Waits up to `ms` for the notification and asks for the next one; it is gone when
  /// either fails (its folder was removed).
  base::SharedWait::Seen read(std::uint32_t ms) {
    using Seen = base::SharedWait::Seen;
    const DWORD woke = WaitForSingleObject(change_, ms);
    if (woke == WAIT_TIMEOUT) return Seen::nothing;
    if (woke != WAIT_OBJECT_0 || !FindNextChangeNotification(change_)) return Seen::gone;
    return Seen::change;
  }

  HANDLE change_;  // closed with FindCloseChangeNotification, not CloseHandle
  base::SharedWait wait_;
};

namespace {

class Win32FolderWatch : public platform::FolderWatch {
 public:
  Win32FolderWatch(std::shared_ptr<Win32FolderWatches::Watched> watched,
                   platform::Clock& pollingClock)
      : watched_(std::move(watched)),
        pollingClock_(pollingClock),
        seen_(watched_ ? watched_->changes() : 0) {}

  bool waitForChange(std::uint32_t ms) override {
    if (!watched_ || watched_->gone()) {
      pollingClock_.sleepMs(ms);
      return false;
    }
    return watched_->waitPast(seen_, ms);
  }

 private:
  std::shared_ptr<Win32FolderWatches::Watched> watched_;
  platform::Clock& pollingClock_;
  std::uint64_t seen_;
};

}  // namespace

Win32FolderWatches::~Win32FolderWatches() = default;

std::unique_ptr<platform::FolderWatch> Win32FolderWatches::watch(const std::u16string& folder) {
  std::shared_ptr<Watched> watched;
  {
    const std::lock_guard lock(mutex_);
    std::shared_ptr<Watched>& slot = folders_[folder];
    if (!slot || slot->gone()) slot = Watched::start(folder);
    watched = slot;
  }
  return std::make_unique<Win32FolderWatch>(std::move(watched), pollingClock_);
}

}  // namespace win32
