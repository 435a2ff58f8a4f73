// dbwin_monitor.exe: captures OutputDebugString lines of every process of the session
// through the DBWIN_BUFFER protocol that debug viewers use, and appends each to a file
// as "<pid>\t<length>\t<text>" in binary, so the text arrives exactly as sent.
//   dbwin_monitor OUTPUT_FILE READY_EVENT STOP_EVENT
#include <windows.h>

#include <cstring>
#include <memory>

#include "platform/win32/Win32Handle.h"

namespace {

constexpr DWORD kBufferSize = 4096;  // a DWORD process id, then the NUL-terminated text

struct Unmap {
  void operator()(const void* view) const { (void)UnmapViewOfFile(view); }
};

bool appendLine(HANDLE out, DWORD pid, const char* text, std::size_t length) {
  char prefix[32];
  const int n = wsprintfA(prefix, "%lu\t%lu\t", static_cast<unsigned long>(pid),
                          static_cast<unsigned long>(length));
  DWORD written = 0;
  return WriteFile(out, prefix, static_cast<DWORD>(n), &written, nullptr) &&
         WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr) &&
         FlushFileBuffers(out);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 64;
  win32::UniqueHandle out(CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  win32::UniqueHandle bufferReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
  win32::UniqueHandle dataReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
  win32::UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 kBufferSize, L"DBWIN_BUFFER"));
  win32::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
  win32::UniqueHandle stop(OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
  if (!out || !bufferReady || !dataReady || !mapping || !ready || !stop) return 2;

  // Only the writers write into the buffer; the monitor maps it read-only.
  std::unique_ptr<const void, Unmap> view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return 2;
  const auto* bytes = static_cast<const char*>(view.get());

  (void)SetEvent(ready.get());
  const HANDLE waits[] = {dataReady.get(), stop.get()};
  for (;;) {
    (void)SetEvent(bufferReady.get());
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) break;
    DWORD pid = 0;
    std::memcpy(&pid, bytes, sizeof pid);
    const char* text = bytes + sizeof pid;
    const std::size_t length = strnlen(text, kBufferSize - sizeof pid);
    if (!appendLine(out.get(), pid, text, length)) return 3;
  }
  return 0;
}
