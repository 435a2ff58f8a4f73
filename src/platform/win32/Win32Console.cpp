#include "platform/win32/Win32Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace win32 {

void consolePrint(const wchar_t* text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
    DWORD written = 0;
    (void)WriteConsoleW(out, text, static_cast<DWORD>(std::wcslen(text)), &written, nullptr);
    return;
  }
  // In the "C" locale the C runtime would drop the Hangul; in U8TEXT mode it writes UTF-8.
  (void)_setmode(_fileno(stdout), _O_U8TEXT);
  (void)std::fputws(text, stdout);
  (void)std::fflush(stdout);
}

}  // namespace win32
