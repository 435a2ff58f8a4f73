#include "platform/win32/Win32DebugOutput.h"

#include "platform/win32/Win32Handle.h"

namespace win32 {

void Win32DebugOutput::write(std::string_view line) {
  const std::wstring text = wideAscii(line);
  OutputDebugStringW(text.c_str());
}

}  // namespace win32
