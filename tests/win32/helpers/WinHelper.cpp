// win_helper.exe: a second process for the Win32 tests. It holds a mutex or a file
// until told to let go, or prints the relay's start-up message.
//   win_helper hold-mutex NAME READY_EVENT RELEASE_EVENT keep|abandon
//   win_helper hold-file PATH READY_EVENT RELEASE_EVENT
//   win_helper print-startup-error
#include <windows.h>

#include <cwchar>

#include "platform/win32/Win32Console.h"
#include "platform/win32/Win32Handle.h"

namespace {

/// Signals READY, then blocks until RELEASE is set.
bool signalAndWait(const wchar_t* ready, const wchar_t* release) {
  win32::UniqueHandle readyEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, ready));
  win32::UniqueHandle releaseEvent(OpenEventW(SYNCHRONIZE, FALSE, release));
  if (!readyEvent || !releaseEvent) return false;
  (void)SetEvent(readyEvent.get());
  return WaitForSingleObject(releaseEvent.get(), INFINITE) == WAIT_OBJECT_0;
}

int holdMutex(const wchar_t* name, const wchar_t* ready, const wchar_t* release, bool keep) {
  win32::UniqueHandle mutex(CreateMutexW(nullptr, TRUE, name));
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 2;
  if (!signalAndWait(ready, release)) return 3;
  if (!keep) ExitProcess(0);  // ends still owning it: the next waiter sees it abandoned
  (void)ReleaseMutex(mutex.get());
  return 0;
}

int holdFile(const wchar_t* path, const wchar_t* ready, const wchar_t* release) {
  win32::UniqueHandle file(
      CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 2;
  return signalAndWait(ready, release) ? 0 : 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 6 && std::wcscmp(argv[1], L"hold-mutex") == 0) {
    return holdMutex(argv[2], argv[3], argv[4], std::wcscmp(argv[5], L"keep") == 0);
  }
  if (argc == 5 && std::wcscmp(argv[1], L"hold-file") == 0) {
    return holdFile(argv[2], argv[3], argv[4]);
  }
  if (argc == 2 && std::wcscmp(argv[1], L"print-startup-error") == 0) {
    win32::consolePrint(L"심각한 오류: GetModuleHandle 실패\n");
    return 0;
  }
  return 64;
}
