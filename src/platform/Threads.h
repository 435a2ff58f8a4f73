// The threads the relay starts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

/// A thread whose handle is kept, to be waited for with a time limit.
class ThreadHandle {
 public:
  virtual ~ThreadHandle() = default;
  /// Waits up to `ms` milliseconds; true when the thread has ended.
  virtual bool waitFor(std::uint32_t ms) = 0;
};

class Threads {
 public:
  virtual ~Threads() = default;
  /// Starts a detached thread; false when it can't be started (the body is not run).
  virtual bool startDetached(std::function<void()> body) = 0;
  /// Starts a thread whose handle the caller keeps; null when it can't be started.
  virtual std::unique_ptr<ThreadHandle> start(std::function<void()> body) = 0;
};

}  // namespace platform
