#include "WinTestSupport.h"

#include <winspool.h>

#include <atomic>

namespace wintest {
namespace {

constexpr wchar_t kTestDriver[] = L"SpoolRelayer Test Driver";

std::wstring folderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

/// Wine's PostScript driver, registered once per prefix. Its data file need not exist.
bool ensureTestDriver() {
  std::wstring name = kTestDriver;
  std::wstring driver = L"wineps.drv";
  std::wstring data = L"generic.ppd";
  DRIVER_INFO_3W info{};
  info.cVersion = 3;
  info.pName = name.data();
  info.pDriverPath = driver.data();
  info.pDataFile = data.data();
  info.pConfigFile = driver.data();
  if (AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&info), APD_COPY_NEW_FILES)) {
    return true;
  }
  return GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

}  // namespace

std::wstring programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return folderOf(path);
}

std::wstring uniqueName(std::wstring_view prefix) {
  static std::atomic<unsigned> counter{0};
  return std::wstring(prefix) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(++counter);
}

NamedEvent::NamedEvent(std::wstring_view prefix)
    : name_(uniqueName(prefix)), event_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}

ChildProcess::ChildProcess(std::wstring_view program, std::wstring_view arguments,
                           bool captureOutput, const std::wstring& folder, bool captureErrors) {
  const std::wstring path = programFolder() + L"\\" + std::wstring(program);
  std::wstring commandLine = L"\"" + path + L"\" " + std::wstring(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  win32::UniqueHandle writeEnd;
  if (captureOutput) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readHandle = nullptr;
    HANDLE writeHandle = nullptr;
    if (!CreatePipe(&readHandle, &writeHandle, &inherit, 0)) return;
    outputPipe_.reset(readHandle);
    writeEnd.reset(writeHandle);
    (void)SetHandleInformation(readHandle, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeHandle;
    startup.hStdError = captureErrors ? writeHandle : GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, captureOutput, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    return;
  }
  win32::UniqueHandle thread(info.hThread);
  process_.reset(info.hProcess);
  id_ = info.dwProcessId;
}

ChildProcess::~ChildProcess() {
  if (process_ && !waitExit(0)) {
    (void)TerminateProcess(process_.get(), 99);
    (void)WaitForSingleObject(process_.get(), 5000);
  }
}

void ChildProcess::terminate() {
  if (process_ && !waitExit(0)) {
    (void)TerminateProcess(process_.get(), 99);
    (void)WaitForSingleObject(process_.get(), 5000);
  }
}

std::optional<DWORD> ChildProcess::waitExit(DWORD ms) {
  if (WaitForSingleObject(process_.get(), ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
  return code;
}

std::string ChildProcess::output() {
  std::string text;
  char chunk[4096];
  DWORD n = 0;
  while (outputPipe_ && ReadFile(outputPipe_.get(), chunk, sizeof chunk, &n, nullptr) && n > 0) {
    text.append(chunk, n);
  }
  return text;
}

Bytes readFileBytes(const std::wstring& path) {
  win32::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  Bytes bytes;
  if (!file) return bytes;
  std::uint8_t chunk[4096];
  DWORD n = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr) && n > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

bool writeFileBytes(const std::wstring& path, const Bytes& bytes) {
  win32::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file &&
         WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring makeTempFolder(std::wstring_view prefix) {
  wchar_t temp[MAX_PATH + 1] = {};
  (void)GetTempPathW(MAX_PATH, temp);
  // Wine reuses process ids, so a name made of one may be left from an earlier run with
  // its files: the next names are tried until the folder is a new one.
  std::wstring folder;
  for (int tries = 0; tries < 1000; ++tries) {
    folder = std::wstring(temp) + uniqueName(prefix);
    if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return folder;
}

bool addPrinter(const std::wstring& name, const std::wstring& port) {
  if (!ensureTestDriver()) return false;
  std::wstring printerName = name;
  std::wstring portName = port;
  std::wstring driver = kTestDriver;
  std::wstring processor = L"winprint";
  std::wstring dataType = L"RAW";
  PRINTER_INFO_2W info{};
  info.pPrinterName = printerName.data();
  info.pPortName = portName.data();
  info.pDriverName = driver.data();
  info.pPrintProcessor = processor.data();
  info.pDatatype = dataType.data();
  HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
  if (printer == nullptr) return false;
  (void)ClosePrinter(printer);
  return true;
}

DWORD setPrinterData(const std::wstring& printer, const std::wstring& value, const Bytes& bytes) {
  HANDLE handle = nullptr;
  std::wstring name = printer;
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (!OpenPrinterW(name.data(), &handle, &defaults)) return GetLastError();
  std::wstring valueName = value;
  const DWORD result =
      SetPrinterDataW(handle, valueName.data(), REG_BINARY, const_cast<std::uint8_t*>(bytes.data()),
                      static_cast<DWORD>(bytes.size()));
  (void)ClosePrinter(handle);
  return result;
}

DebugMonitor::DebugMonitor()
    : file_(makeTempFolder(L"dbwin") + L"\\lines.bin"),
      readyEvent_(L"spr_dbwin_ready"),
      stopEvent_(L"spr_dbwin_stop") {
  process_.emplace(L"dbwin_monitor.exe",
                   L"\"" + file_ + L"\" " + readyEvent_.name() + L" " + stopEvent_.name());
  ready_ = process_->started() && readyEvent_.waitFor(10000);
}

bool DebugMonitor::stop() {
  stopEvent_.set();
  return process_ && process_->waitExit(10000) == DWORD{0};
}

DebugMonitor::~DebugMonitor() {
  (void)stop();
}

std::vector<DebugLine> DebugMonitor::lines() const {
  // Records are "<pid>\t<length>\t<text>", back to back.
  const Bytes bytes = readFileBytes(file_);
  const std::string all(bytes.begin(), bytes.end());
  std::vector<DebugLine> result;
  std::size_t at = 0;
  while (at < all.size()) {
    const std::size_t tab1 = all.find('\t', at);
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : all.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) break;
    DebugLine line;
    line.pid = static_cast<DWORD>(std::stoul(all.substr(at, tab1 - at)));
    const std::size_t length = std::stoul(all.substr(tab1 + 1, tab2 - tab1 - 1));
    if (tab2 + 1 + length > all.size()) break;
    line.text = all.substr(tab2 + 1, length);
    result.push_back(std::move(line));
    at = tab2 + 1 + length;
  }
  return result;
}

std::vector<std::string> DebugMonitor::linesOf(DWORD pid) const {
  std::vector<std::string> texts;
  for (const DebugLine& line : lines()) {
    if (line.pid == pid) texts.push_back(line.text);
  }
  return texts;
}

bool DebugMonitor::waitForLine(DWORD pid, std::string_view text, DWORD ms) const {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    for (const std::string& line : linesOf(pid)) {
      if (line == text) return true;
    }
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
}

}  // namespace wintest
