// The job notice, the listener that reads notices, and the thread that runs each job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/HeapBlock.h"
#include "job/JobRunner.h"
#include "platform/NoticeEndpoint.h"
#include "platform/Threads.h"

namespace app {

/// A job notice is 552 bytes: printerName (260 UTF-16LE units) at 0, jobId at 520,
/// copyCount at 524, modelName (10 units) at 528 and cutMode at 548, little-endian.
inline constexpr std::size_t kNoticeSize = 552;
inline constexpr std::size_t kPrinterNameUnits = 260;

/// Reads the notice's fields. The printer name ends at its first NUL; a name without
/// one ends with its 260-unit field, never reading past it.
job::JobRequest readNotice(std::span<const std::uint8_t, kNoticeSize> notice,
                           std::u16string& printerName);

/// What the listener and its print threads use. Lives as long as the process.
struct AppPorts {
  job::JobPorts& job;
  platform::NoticeEndpoint& endpoint;
  platform::Threads& threads;
};

/// The listener's thread procedure: creates the endpoint, then reads notices one at a
/// time into fresh zeroed blocks and starts a detached print thread for each. Ends
/// only when the endpoint can't be created, a block can't be had, or it is closed.
void noticeListener(AppPorts& ports);

/// Runs the job of one notice block and frees the block. `sender` is the account that
/// posted the notice, where the endpoint told it.
void printThread(job::JobPorts& ports, std::unique_ptr<base::HeapBlock> notice,
                 std::optional<std::uint32_t> sender = std::nullopt);

/// Keeps the listener the main thread started last, across console connects and
/// disconnects, as the session window does.
class SessionController {
 public:
  SessionController(platform::Threads& threads, std::function<void()> listener)
      : threads_(threads), listener_(std::move(listener)) {}

  /// The window was created: start a listener.
  void onCreate() { start(); }
  /// A console connected: start a listener if none is kept.
  void onConsoleConnect() {
    if (!handle_) start();
  }
  /// A console disconnected: wait up to a second for the listener, then forget it.
  void onConsoleDisconnect() { forget(); }
  /// The window is being destroyed: the same wait, before the process ends.
  void onDestroy() { forget(); }

  [[nodiscard]] bool hasListener() const { return handle_ != nullptr; }

 private:
  void start() { handle_ = threads_.start(listener_); }
  void forget() {
    if (handle_) (void)handle_->waitFor(1000);
    handle_.reset();
  }

  platform::Threads& threads_;
  std::function<void()> listener_;
  std::unique_ptr<platform::ThreadHandle> handle_;
};

}  // namespace app
