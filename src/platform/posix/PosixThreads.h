// Threads of the POSIX relay, started with pthread_create() and a 1 MiB stack.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/Threads.h"

namespace posix {

class PosixThreads : public platform::Threads {
 public:
  /// The stack every thread asks for. A pthread stack can't grow past what was asked,
  /// so this is the 1 MiB a Windows thread may grow to, not the 4096 bytes it starts with.
  static constexpr std::size_t kStackSize = std::size_t{1} << 20;

  bool startDetached(std::function<void()> body) override;
  /// The thread itself runs detached; the handle only watches for its end through a
  /// state both share, so the handle may be dropped while the thread still runs.
  std::unique_ptr<platform::ThreadHandle> start(std::function<void()> body) override;
};

}  // namespace posix
