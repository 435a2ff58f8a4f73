#include "platform/win32/Win32Clock.h"

#include <windows.h>

namespace win32 {

std::uint64_t Win32Clock::nowMs() {
  return GetTickCount64();
}

void Win32Clock::sleepMs(std::uint32_t ms) {
  Sleep(ms);
}

}  // namespace win32
