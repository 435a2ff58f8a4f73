// The relay's waits on Windows: Sleep, with GetTickCount64 as the time.
#pragma once

#include "platform/Clock.h"

namespace win32 {

class Win32Clock : public platform::Clock {
 public:
  std::uint64_t nowMs() override;
  void sleepMs(std::uint32_t ms) override;
};

}  // namespace win32
