// Time for the relay's waits; tests use a clock that advances without sleeping.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  /// Milliseconds since an arbitrary start.
  virtual std::uint64_t nowMs() = 0;
  /// Sleeps (or, in a fake, advances nowMs()) by `ms`.
  virtual void sleepMs(std::uint32_t ms) = 0;
};

}  // namespace platform
