// Waiting for the folder of the page files to change.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "base/SharedWait.h"
#include "platform/Clock.h"

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

/// The one watch per folder that both platform layers keep, over their own kind of change
/// notification. `Source::start(folder)` starts one on a folder (a std::unique_ptr, null
/// where the folder cannot be watched); `source.read(ms)` waits up to `ms` milliseconds
/// and says what it saw, `gone` once the notification has failed for good (its folder was
/// removed). The first watch() of a folder starts its source and the later ones share it;
/// no thread serves it: a waiting run reads it. Where no source can be started, or once
/// it is gone, each wait sleeps its whole time on the polling clock, and the next watch()
/// of the folder tries to start it again.
template <typename Source, typename Path>
class SharedFolderWatches {
 public:
  /// `pollingClock` sleeps the waits on a folder that cannot be watched.
  explicit SharedFolderWatches(Clock& pollingClock) : pollingClock_(pollingClock) {}

  std::unique_ptr<FolderWatch> watch(const Path& folder) {
    std::shared_ptr<Watched> watched;
    {
      const std::lock_guard lock(mutex_);
      std::shared_ptr<Watched>& slot = folders_[folder];
      if (!slot || slot->changes.gone()) {
        std::unique_ptr<Source> source = Source::start(folder);
        slot = source ? std::make_shared<Watched>(std::move(source)) : nullptr;
      }
      watched = slot;
    }
    return std::make_unique<RunWatch>(std::move(watched), pollingClock_);
  }

 private:
  /// One folder's change notification and its count of changes.
  struct Watched {
    explicit Watched(std::unique_ptr<Source> started) : source(std::move(started)) {}
    std::unique_ptr<Source> source;
    base::SharedWait changes;
  };

  class RunWatch final : public FolderWatch {
   public:
    RunWatch(std::shared_ptr<Watched> watched, Clock& pollingClock)
        : watched_(std::move(watched)),
          pollingClock_(pollingClock),
          seen_(watched_ ? watched_->changes.count() : 0) {}

    bool waitForChange(std::uint32_t ms) override {
      if (!watched_ || watched_->changes.gone()) {
        pollingClock_.sleepMs(ms);
        return false;
      }
      Source& source = *watched_->source;
      return watched_->changes.waitPast(
          seen_, ms, [&source](std::uint32_t limit) { return source.read(limit); });
    }

   private:
    std::shared_ptr<Watched> watched_;
    Clock& pollingClock_;
    std::uint64_t seen_;
  };

  Clock& pollingClock_;
  std::mutex mutex_;
  std::map<Path, std::shared_ptr<Watched>> folders_;
};

}  // namespace platform
