// relaytool watch on Windows: the debugger-output protocol that debug viewers speak.
// The reader owns the DBWIN_BUFFER section and the DBWIN_BUFFER_READY and
// DBWIN_DATA_READY events; each OutputDebugString waits for BUFFER_READY, puts its
// process id and text into the section and sets DATA_READY.
#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "Commands.h"
#include "Options.h"
#include "WatchFormat.h"
#include "base/Utf.h"
#include "platform/win32/Win32Handle.h"

namespace relaytool {

const std::string_view kWatchUsage = "watch [--all]";
const std::string_view kWatchHelp =
    "usage: relaytool watch [--all]\n"
    "\n"
    "Shows the relay's debug lines as SpoolRelayer.exe sends them, one line each with the\n"
    "local time and the process id:\n"
    "  14:03:07.412 [pid 1234] pData->State : 0x00000000 \n"
    "Each line is written and flushed as it arrives, into a console, a pipe or a file\n"
    "alike. Runs until it is stopped (Ctrl+C). Only one debug viewer can read the debug\n"
    "output at a time: while another holds it, watch says so and exits with 1.\n"
    "\n"
    "  --all   show the lines of every process, each with its program's name\n"
    "\n"
    "Exit codes: 1 another viewer holds the debug output or output failed, 2 a bad option.\n";

namespace {

constexpr std::string_view kCommand = "watch";
constexpr KnownOption kSpecs[] = {{"--all", false}};
constexpr DWORD kBufferSize = 4096;  // a DWORD process id, then the NUL-terminated text
constexpr wchar_t kRelayProgram[] = L"SpoolRelayer.exe";

struct Unmap {
  void operator()(const void* view) const { (void)UnmapViewOfFile(view); }
};

/// The file name of the program running as `pid`, or "" when it can't be told.
std::wstring programOf(DWORD pid) {
  win32::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
  const std::wstring full(path, size);
  const std::size_t slash = full.find_last_of(L"\\/");
  return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

/// Remembers each process's program name, looked up once while the process runs.
class Programs {
 public:
  const std::wstring& of(DWORD pid) {
    auto found = names_.find(pid);
    if (found == names_.end() || found->second.empty()) {
      found = names_.insert_or_assign(pid, programOf(pid)).first;
    }
    return found->second;
  }

 private:
  std::map<DWORD, std::wstring> names_;
};

bool writeOut(const std::string& text) {
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                   &written, nullptr) &&
         written == text.size();
}

/// Creates one of the protocol's objects; false when it exists already, i.e. another
/// viewer holds it.
bool createOwned(win32::UniqueHandle& handle, HANDLE created) {
  const DWORD error = GetLastError();
  handle.reset(created);
  return handle && error != ERROR_ALREADY_EXISTS;
}

}  // namespace

int runWatch(Args args) {
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, kSpecs, parsed, error)) return complain(kCommand, error, kExitUsage);
  if (parsed.help) return printHelp(kWatchHelp);
  if (!parsed.operands.empty()) {
    return complain(kCommand, "unexpected argument '" + parsed.operands[0] + "'", kExitUsage);
  }
  const bool all = !parsed.options.empty();

  win32::UniqueHandle bufferReady;
  win32::UniqueHandle dataReady;
  win32::UniqueHandle section;
  const bool owned =
      createOwned(bufferReady, CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY")) &&
      createOwned(dataReady, CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")) &&
      createOwned(section, CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              kBufferSize, L"DBWIN_BUFFER"));
  if (!owned) {
    return complain(kCommand, "another debug output viewer is running; close it and try again",
                    kExitFailed);
  }
  // Only the writers write into the section; the reader maps it read-only.
  const std::unique_ptr<const void, Unmap> view(
      MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return complain(kCommand, "cannot map the debug output buffer", kExitFailed);
  const auto* bytes = static_cast<const char*>(view.get());

  Programs programs;
  for (;;) {
    (void)SetEvent(bufferReady.get());
    if (WaitForSingleObject(dataReady.get(), INFINITE) != WAIT_OBJECT_0) {
      return complain(kCommand, "the wait for debug output failed", kExitFailed);
    }
    DWORD pid = 0;
    std::memcpy(&pid, bytes, sizeof pid);
    const std::string text(bytes + sizeof pid,
                           strnlen(bytes + sizeof pid, kBufferSize - sizeof pid));
    const std::wstring& program = programs.of(pid);
    const bool relay = _wcsicmp(program.c_str(), kRelayProgram) == 0;
    if (!all && !relay) continue;
    std::string source = "pid " + std::to_string(pid);
    if (all)
      source += " " + (program.empty() ? std::string("?") : base::toUtf8(win32::utf16(program)));
    if (!writeOut(watchLine(localClockNow(), source, text))) {
      return complain(kCommand, "cannot write standard output", kExitFailed);
    }
  }
}

}  // namespace relaytool
