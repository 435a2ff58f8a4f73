// The start-up messages on standard output.
#pragma once

namespace win32 {

/// Prints `text` on standard output so that Hangul survives: WriteConsoleW when it is a
/// console, otherwise UTF-8 (a pipe or a file), flushed at once since the process is
/// about to end.
void consolePrint(const wchar_t* text);

}  // namespace win32
