// SpoolRelayer.exe: the process entry, the hidden session window and its message loop.
// The window starts the notice listener and keeps it across console connects and
// disconnects; closing the window from another program ends the process with code 0.
#include <windows.h>
#include <wtsapi32.h>

#include <memory>

#include "app/JobResume.h"
#include "app/NoticeListener.h"
#include "job/Journal.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32Console.h"
#include "platform/win32/Win32DebugOutput.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32JobJournal.h"
#include "platform/win32/Win32NamedLocks.h"
#include "platform/win32/Win32Notices.h"
#include "platform/win32/Win32Spooler.h"

namespace {

constexpr wchar_t kWindowName[] = L"TIVORAN SpoolRelayer";  // both class and title

/// The real platform operations and the listener bookkeeping, wired together.
struct Relay {
  win32::Win32Spooler spooler;
  win32::Win32NamedLocks locks;
  win32::Win32KnownFolders folders;
  win32::Win32PageFiles files;
  win32::Win32Clock clock;
  win32::Win32DebugOutput debug;
  win32::Win32NoticeEndpoint endpoint;
  win32::Win32Threads threads;
  win32::Win32JobJournal journalFile{win32::Win32JobJournal::defaultFolder()};
  job::Journal journal{journalFile, debug};
  job::JobPorts jobPorts{spooler, locks, folders, files, clock, debug};
  app::AppPorts appPorts{jobPorts, endpoint, threads, &journal};
  app::SessionController session{threads, [this] { app::noticeListener(appPorts); }};
};

/// The session controller travels as the window's creation data and is kept in its
/// user data from WM_NCCREATE on; messages before that go to DefWindowProcW.
LRESULT CALLBACK sessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* session =
      reinterpret_cast<app::SessionController*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (session == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_CREATE:
      (void)WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
      session->onCreate();
      return 0;
    case WM_DESTROY:
      session->onDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_WTSSESSION_CHANGE:
      if (wParam == WTS_CONSOLE_CONNECT) {
        session->onConsoleConnect();
      } else if (wParam == WTS_CONSOLE_DISCONNECT) {
        session->onConsoleDisconnect();
      }
      break;  // and on to the default handling, as for any other message
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

/// Registers the class, creates the never-shown window (WM_CREATE starts the listener
/// before this returns) and runs the message loop until the quit message. Returns 0
/// when the window can't be created, 1 after the loop.
int runSessionWindow(HINSTANCE instance, app::SessionController& session) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = sessionWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowName;
  (void)RegisterClassW(&windowClass);  // a failure shows in the creation below

  HWND window = CreateWindowExW(0, kWindowName, kWindowName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                instance, &session);
  if (window == nullptr) return 0;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 1;
}

}  // namespace

int wmain() {
  HMODULE instance = GetModuleHandleW(nullptr);
  if (instance == nullptr) {
    win32::consolePrint(L"심각한 오류: GetModuleHandle 실패\n");
    return 1;
  }
  // This build has no application framework to initialise, so there is no second
  // start-up step that can fail.
  (void)ShowWindow(GetConsoleWindow(), SW_HIDE);

  auto relay = std::make_unique<Relay>();
  // The jobs a previous process ended during go on before any new notice is read.
  (void)app::resumeJobs(relay->appPorts, true);
  (void)runSessionWindow(instance, relay->session);
  // Only a document whose end the spooler is being told of is given time to be recorded.
  (void)relay->journal.closeDocuments(1000);

  // The listener and any print threads still use the relay's ports; they end with the
  // process, so the ports are left to the process's end rather than destroyed here.
  (void)relay.release();
  return 0;
}
