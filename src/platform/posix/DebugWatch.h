// Watchers of the relay's debug lines: any number of `relaytool watch` processes
// connected to the abstract seqpacket socket "<endpoint>.watch". Each line goes to each
// watcher as one message, without ever waiting for one; nothing is done while nobody
// watches.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/posix/Fd.h"

namespace posix {

/// The run a debug line belongs to.
struct RunInfo {
  std::string printer;  // UTF-8
  std::uint32_t jobId = 0;
};

/// One message on the watch socket.
struct WatchMessage {
  /// kHello comes first, once the relay has taken the watcher on: every line sent after
  /// it reaches this watcher.
  enum class Kind : std::uint8_t { kLine = 0, kRunLine = 1, kLost = 2, kHello = 3 };
  Kind kind = Kind::kLine;
  std::uint32_t jobId = 0;  // the run's job (kRunLine), or the number of lines lost (kLost)
  std::string printer;      // the run's printer (kRunLine)
  std::string line;         // the debug line as sent (kLine, kRunLine)
};

/// Layout: kind (1 byte), job id or count (4 bytes, little-endian), printer length
/// (2 bytes, little-endian), printer (UTF-8), line.
std::string encodeWatchMessage(const WatchMessage& message);
/// False for a message shorter than its header or its printer length.
bool decodeWatchMessage(std::string_view bytes, WatchMessage& message);

/// The name watchers connect to for the notice endpoint `endpoint`.
std::string watchEndpointName(std::string_view endpoint);

/// The relay's side: listens on the watch name and sends lines to those connected.
class DebugWatchers {
 public:
  /// Listens on `name` and accepts watchers on a thread of its own. When the name can't
  /// be had, `error` is errno and no watcher ever connects.
  explicit DebugWatchers(const std::string& name);
  /// Stops taking watchers and lets go of those connected (they see the end).
  ~DebugWatchers();
  DebugWatchers(const DebugWatchers&) = delete;
  DebugWatchers& operator=(const DebugWatchers&) = delete;

  /// 0 when listening, otherwise the errno of socket(), bind() or listen().
  int error() const { return error_; }
  /// Whether anyone watches: one atomic load, the whole cost while nobody does. True for
  /// every watcher that has been greeted.
  bool anyone() const { return count_.load(std::memory_order_acquire) > 0; }
  /// Sends the line to every watcher, without blocking. A watcher whose socket is full
  /// misses the line and is told how many it missed once it keeps up again; one that
  /// has gone is dropped.
  void send(std::string_view line, const RunInfo* run);

 private:
  struct Watcher {
    Fd fd;
    std::uint32_t lost = 0;
  };
  void acceptLoop();
  bool deliver(Watcher& watcher, const std::string& message);

  Fd listener_;
  int error_ = 0;
  std::mutex mutex_;
  std::vector<Watcher> watchers_;
  std::atomic<int> count_{0};
  std::thread acceptor_;
};

/// The watcher's side: connects to the relay's watch name. Invalid, with errno set,
/// when no relay listens (ECONNREFUSED) or the socket can't be made.
Fd connectWatcher(const std::string& name);

}  // namespace posix
