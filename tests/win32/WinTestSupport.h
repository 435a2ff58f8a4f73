// Helpers for the Win32 tests: other processes, named events, files, printers and the
// debug output monitor. Everything here lives in the one Wine prefix of the test run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/Win32Handle.h"

namespace wintest {

using Bytes = std::vector<std::uint8_t>;

/// The folder of the running test program, where the relay and the helpers are built.
std::wstring programFolder();
/// A name no other test of this run uses: `prefix` with the process id and a counter.
std::wstring uniqueName(std::wstring_view prefix);

/// A manual-reset named event another process can open.
class NamedEvent {
 public:
  explicit NamedEvent(std::wstring_view prefix);
  const std::wstring& name() const { return name_; }
  void set() { (void)SetEvent(event_.get()); }
  /// Waits up to `ms`; true when the event is set.
  bool waitFor(DWORD ms) { return WaitForSingleObject(event_.get(), ms) == WAIT_OBJECT_0; }

 private:
  std::wstring name_;
  win32::UniqueHandle event_;
};

/// A started program; terminated when dropped while still running.
class ChildProcess {
 public:
  /// Starts `program` (a file in programFolder()) with `arguments`. With `captureOutput`
  /// its standard output goes to a pipe read by output(), and with `captureErrors` its
  /// standard error too. `folder` is its current folder.
  ChildProcess(std::wstring_view program, std::wstring_view arguments, bool captureOutput = false,
               const std::wstring& folder = {}, bool captureErrors = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  [[nodiscard]] bool started() const { return process_.valid(); }
  [[nodiscard]] DWORD id() const { return id_; }
  /// Waits up to `ms` for the exit; its exit code, or none when it is still running.
  std::optional<DWORD> waitExit(DWORD ms);
  /// Reads the captured output up to its end (the program must close it or exit).
  std::string output();
  /// Ends the program as a user's Ctrl+C or a task manager would, and waits for the end.
  void terminate();

 private:
  win32::UniqueHandle process_;
  win32::UniqueHandle outputPipe_;
  DWORD id_ = 0;
};

Bytes readFileBytes(const std::wstring& path);
bool writeFileBytes(const std::wstring& path, const Bytes& bytes);
bool fileExists(const std::wstring& path);
/// A fresh empty folder under the prefix's temp folder.
std::wstring makeTempFolder(std::wstring_view prefix);

/// Adds a printer on the local spooler with Wine's PostScript driver and `port`
/// ("FILE:" or a file path). Printer data set here shows through GetPrinterDataW.
bool addPrinter(const std::wstring& name, const std::wstring& port);
/// Stores a REG_BINARY printer-data value through SetPrinterDataW; its result.
DWORD setPrinterData(const std::wstring& printer, const std::wstring& value, const Bytes& bytes);

/// One line caught by the debug output monitor.
struct DebugLine {
  DWORD pid = 0;
  std::string text;
};

/// Runs dbwin_monitor.exe, which catches every OutputDebugString of the session.
class DebugMonitor {
 public:
  DebugMonitor();
  /// True once the monitor has its buffer and events set up.
  [[nodiscard]] bool ready() const { return ready_; }
  /// The lines caught so far.
  std::vector<DebugLine> lines() const;
  /// Polls until a line of `pid` equal to `text` was caught, up to `ms`.
  bool waitForLine(DWORD pid, std::string_view text, DWORD ms) const;
  /// The texts of `pid`'s lines.
  std::vector<std::string> linesOf(DWORD pid) const;
  /// Stops the monitor once it has taken every line already sent, and waits for it.
  /// A sender's OutputDebugString returns only after its line is in the buffer, and the
  /// monitor takes a pending line before it looks at the stop request.
  bool stop();
  ~DebugMonitor();

 private:
  std::wstring file_;
  NamedEvent readyEvent_;
  NamedEvent stopEvent_;
  std::optional<ChildProcess> process_;
  bool ready_ = false;
};

}  // namespace wintest
