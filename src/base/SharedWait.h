// Any number of threads waiting for the changes of one source that only one thread at a
// time can wait on (an inotify descriptor, a change notification handle).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace base {

/// Counts the changes of the source. The waiter that finds no one reading the source
/// reads it itself, so a lone waiter is woken by the source directly; the others wait for
/// the count, and one of them takes the reading over when the reader leaves.
class SharedWait {
 public:
  /// What one read of the source saw.
  enum class Seen { nothing, change, gone };

  std::uint64_t count() {
    const std::lock_guard lock(mutex_);
    return count_;
  }
  /// True once a read found the source gone: no change will be counted any more.
  bool gone() {
    const std::lock_guard lock(mutex_);
    return gone_;
  }

  /// Waits until the count differs from `seen` or `ms` milliseconds have passed on the
  /// steady clock, then sets `seen` to the count; true when the count differed.
  /// `readFor(ms)` waits up to `ms` milliseconds for the source and returns what it saw;
  /// it is called by one waiter at a time, without the lock.
  template <typename ReadFor>
  bool waitPast(std::uint64_t& seen, std::uint32_t ms, ReadFor&& readFor) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(mutex_);
    for (;;) {
      if (count_ != seen) {
        seen = count_;
        return true;
      }
      const Clock::time_point now = Clock::now();
      if (now >= deadline || gone_) return false;
      if (reading_) {
        changed_.wait_until(lock, deadline);
        continue;
      }
      reading_ = true;
      lock.unlock();
      const Seen read = readFor(static_cast<std::uint32_t>(
          std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
      lock.lock();
      reading_ = false;
      if (read != Seen::nothing) ++count_;
      if (read == Seen::gone) gone_ = true;
      changed_.notify_all();  // the count moved, or another waiter may take the reading over
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t count_ = 0;
  bool reading_ = false;
  bool gone_ = false;
};

}  // namespace base
