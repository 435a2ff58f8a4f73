// The debugger output on Windows: OutputDebugStringW.
#pragma once

#include "platform/DebugOutput.h"

namespace win32 {

class Win32DebugOutput : public platform::DebugOutput {
 public:
  /// Sends the ASCII line as UTF-16, unchanged otherwise.
  void write(std::string_view line) override;
};

}  // namespace win32
