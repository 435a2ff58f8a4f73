#include "platform/posix/PosixFolderWatches.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "base/SharedWait.h"
#include "platform/posix/Fd.h"

namespace posix {

/// A file closed after writing, or renamed into the folder.
constexpr std::uint32_t kChangeEvents = IN_CLOSE_WRITE | IN_MOVED_TO;

namespace {

/// One folder's inotify descriptor.
class InotifySource {
 public:
  /// Null when the folder cannot be watched.
  static std::unique_ptr<InotifySource> start(const std::string& folder) {
    Fd inotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!inotify ||
        ::inotify_add_watch(inotify.get(), folder.c_str(), kChangeEvents | IN_ONLYDIR) < 0) {
      return nullptr;
    }
    return std::make_unique<InotifySource>(std::move(inotify));
  }

  explicit InotifySource(Fd inotify) : inotify_(std::move(inotify)) {}

  /// Waits up to `ms` for events and reads all there are. The watch is gone when the
  /// kernel dropped it (IN_IGNORED) or the descriptor fails; a lost event (the queue's
  /// overflow) counts as a change.
  base::SharedWait::Seen read(std::uint32_t ms) {
    using Seen = base::SharedWait::Seen;
    pollfd ready{inotify_.get(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(ms));
    if (polled == 0 || (polled < 0 && errno == EINTR)) return Seen::nothing;
    if (polled < 0) return Seen::gone;
    Seen seen = Seen::nothing;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((event->mask & IN_IGNORED) != 0) return Seen::gone;
        if ((event->mask & (kChangeEvents | IN_Q_OVERFLOW)) != 0) seen = Seen::change;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return seen;
  }

 private:
  Fd inotify_;
};

}  // namespace

class PosixFolderWatches::Folders
    : public platform::SharedFolderWatches<InotifySource, std::string> {
 public:
  using SharedFolderWatches::SharedFolderWatches;
};

PosixFolderWatches::PosixFolderWatches(platform::Clock& pollingClock)
    : folders_(std::make_unique<Folders>(pollingClock)) {}

PosixFolderWatches::~PosixFolderWatches() = default;

std::unique_ptr<platform::FolderWatch> PosixFolderWatches::watch(const std::string& folder) {
  return folders_->watch(folder);
}

}  // namespace posix
