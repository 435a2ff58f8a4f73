// The monotonic clock and sleeps on it.
#include "platform/posix/PosixClock.h"

#include <time.h>

#include <cerrno>

namespace posix {

std::uint64_t PosixClock::nowMs() {
  struct timespec now {};
  (void)::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}

void PosixClock::sleepMs(std::uint32_t ms) {
  // Sleeping to a deadline rather than for the time nanosleep() reports as left: under a
  // stream of signals, each restart of a relative sleep would lose the time spent between
  // the interruption and the restart, and the sleep might never end.
  struct timespec deadline {};
  (void)::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(ms / 1000);
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000;
  if (deadline.tv_nsec >= 1'000'000'000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1'000'000'000;
  }
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace posix
