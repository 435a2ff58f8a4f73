// win_helper.exe: a second process for the Win32 tests. It holds a mutex or a file
// until told to let go, or prints the relay's start-up message. For the tests of the
// installed package it also adds a printer and posts a job notice.
//   win_helper hold-mutex NAME READY_EVENT RELEASE_EVENT keep|abandon
//   win_helper hold-file PATH READY_EVENT RELEASE_EVENT
//   win_helper print-startup-error
//   win_helper add-printer NAME PORT [VALUE HEXBYTES]...
//   win_helper post-notice PRINTER JOB_ID COPIES MODEL CUT_MODE
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <string>

#include "WinTestSupport.h"
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

/// "14000000" -> {0x14, 0, 0, 0}; false on an odd length or a non-hex digit.
bool parseHex(const wchar_t* text, wintest::Bytes& bytes) {
  const std::size_t n = std::wcslen(text);
  if (n % 2 != 0) return false;
  for (std::size_t i = 0; i < n; i += 2) {
    if (!std::iswxdigit(static_cast<wint_t>(text[i])) ||
        !std::iswxdigit(static_cast<wint_t>(text[i + 1]))) {
      return false;
    }
    const std::wstring pair(text + i, 2);
    bytes.push_back(static_cast<std::uint8_t>(std::wcstoul(pair.c_str(), nullptr, 16)));
  }
  return true;
}

/// A printer on Wine's PostScript driver with its printer-data values (REG_BINARY).
int addPrinterWithData(int argc, wchar_t** argv) {
  if (!wintest::addPrinter(argv[2], argv[3])) return 2;
  for (int i = 4; i + 1 < argc; i += 2) {
    wintest::Bytes bytes;
    if (!parseHex(argv[i + 1], bytes)) return 64;
    if (wintest::setPrinterData(argv[2], argv[i], bytes) != ERROR_SUCCESS) return 3;
  }
  return 0;
}

bool parseU32(const wchar_t* text, std::uint32_t& value) {
  wchar_t* end = nullptr;
  const unsigned long long v = std::wcstoull(text, &end, 0);
  if (end == text || *end != L'\0' || v > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

/// The 552-byte notice into \\.\mailslot\TIVORAN; 2 when no relay holds the mailslot.
int postNotice(wchar_t** argv) {
  const std::wstring printer = argv[2];
  const std::wstring model = argv[5];
  std::uint32_t numbers[3] = {};  // job id, copies, cut mode
  if (!parseU32(argv[3], numbers[0]) || !parseU32(argv[4], numbers[1]) ||
      !parseU32(argv[6], numbers[2]) || printer.size() > 259 || model.size() > 10) {
    return 64;
  }
  wintest::Bytes notice(552, 0);
  const auto putUnits = [&notice](std::size_t at, const std::wstring& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      notice[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
      notice[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
  };
  const auto putU32 = [&notice](std::size_t at, std::uint32_t value) {
    for (std::size_t k = 0; k < 4; ++k)
      notice[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
  };
  putUnits(0, printer);
  putU32(520, numbers[0]);
  putU32(524, numbers[1]);
  putUnits(528, model);
  putU32(548, numbers[2]);
  win32::UniqueHandle slot(CreateFileW(L"\\\\.\\mailslot\\TIVORAN", GENERIC_WRITE, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!slot) return 2;
  DWORD written = 0;
  const bool sent =
      WriteFile(slot.get(), notice.data(), static_cast<DWORD>(notice.size()), &written, nullptr);
  return sent && written == notice.size() ? 0 : 3;
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
  if (argc >= 4 && argc % 2 == 0 && std::wcscmp(argv[1], L"add-printer") == 0) {
    return addPrinterWithData(argc, argv);
  }
  if (argc == 7 && std::wcscmp(argv[1], L"post-notice") == 0) {
    return postNotice(argv);
  }
  return 64;
}
