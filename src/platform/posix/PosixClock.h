// The monotonic clock and sleeps on it (clock_nanosleep).
#pragma once

#include "platform/Clock.h"

namespace posix {

class PosixClock : public platform::Clock {
 public:
  /// Milliseconds of CLOCK_MONOTONIC: steady, unaffected by changes of the wall clock.
  std::uint64_t nowMs() override;
  /// Sleeps the whole time even when signals interrupt it, however often.
  void sleepMs(std::uint32_t ms) override;
};

}  // namespace posix
