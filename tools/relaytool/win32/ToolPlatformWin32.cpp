// relaytool on Windows: the relay's page files (share mode 0), debug lines on standard
// error, files with the system's message as the reason, page files held open without
// sharing until whole, and notices through the mailslot.
#include <windows.h>

#include <algorithm>

#include "ToolPlatform.h"
#include "base/Utf.h"
#include "platform/Spooler.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32Handle.h"

namespace relaytool {
namespace {

std::wstring widePath(const std::string& utf8) {
  return win32::wide(base::toUtf16(utf8));
}

/// The system's message for `code`, without its line end, in UTF-8.
std::string reason(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string message = n > 0 ? win32::utf16(std::wstring_view(text, n)) : u"";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' ||
                              message.back() == u' ' || message.back() == u'.')) {
    message.pop_back();
  }
  std::string out = message.empty() ? "error " + std::to_string(code) : base::toUtf8(message);
  return out;
}

bool writeHandle(HANDLE handle, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

/// Debug lines on standard error, each in one write.
class StderrDebugOutput : public platform::DebugOutput {
 public:
  void write(std::string_view line) override {
    (void)writeHandle(GetStdHandle(STD_ERROR_HANDLE),
                      std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
  }
};

bool isValueName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\:*?\"<>|\0", 10)) == std::string_view::npos;
}

std::wstring mailslotName(const std::string& endpoint) {
  const std::wstring name = widePath(endpoint);
  return name.rfind(L"\\\\", 0) == 0 ? name : L"\\\\.\\mailslot\\" + name;
}

}  // namespace

std::unique_ptr<platform::PageFiles> relayPageFiles() {
  return std::make_unique<win32::Win32PageFiles>();
}

std::u16string pageFilePath(const std::string& utf8) {
  return base::toUtf16(utf8);
}

bool checkPageFile(const std::string& path, std::string& error) {
  const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = "cannot read page file " + path + ": " + reason(GetLastError());
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = "cannot read page file " + path + ": not a regular file";
    return false;
  }
  return true;
}

std::unique_ptr<platform::DebugOutput> stderrDebugOutput() {
  return std::make_unique<StderrDebugOutput>();
}

std::uint32_t readPrinterData(const std::string& dir, std::string_view name,
                              std::span<std::uint8_t> dest) {
  if (!isValueName(name)) return platform::kErrorFileNotFound;
  const std::wstring path = widePath(dir + "\\" + std::string(name));
  win32::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? platform::kErrorFileNotFound
               : 5u;  // access denied, or anything else that keeps it from being read
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return 5;
  if (static_cast<std::uint64_t>(size.QuadPart) > dest.size()) return platform::kErrorMoreData;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size())) {
    return 5;
  }
  std::copy(bytes.begin(), bytes.end(), dest.begin());
  return platform::kErrorSuccess;
}

bool isFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  bytes.clear();
  win32::UniqueHandle file(CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::uint8_t chunk[65536];
  DWORD read = 0;
  while (file && ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) {
    if (read == 0) return true;
    bytes.insert(bytes.end(), chunk, chunk + read);
  }
  error = "cannot read " + path + ": " + reason(GetLastError());
  return false;
}

bool writeFile(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error) {
  win32::UniqueHandle file(CreateFileW(widePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file && writeHandle(file.get(), bytes)) return true;
  error = "cannot write " + path + ": " + reason(GetLastError());
  return false;
}

bool writeStandardOutput(std::span<const std::uint8_t> bytes, std::string& error) {
  // Straight to the handle: no text-mode translation of 0x0A on the way.
  if (writeHandle(GetStdHandle(STD_OUTPUT_HANDLE), bytes)) return true;
  error = "cannot write standard output: " + reason(GetLastError());
  return false;
}

bool defaultDriverSide(DriverSide& side, std::string& error) {
  std::u16string folder;
  std::uint32_t code = 0;
  if (!win32::Win32KnownFolders().publicFolder(folder, code)) {
    error = "cannot find the Public folder: " + reason(code);
    return false;
  }
  side.publicDir = base::toUtf8(folder);
  side.endpoint = "TIVORAN";
  return true;
}

bool makeSpoolFolder(const DriverSide& side, std::string& folder, std::string& error) {
  folder = side.publicDir + "\\TIVORAN";
  for (const std::string& path : {side.publicDir, folder}) {
    if (!CreateDirectoryW(widePath(path).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      error = "cannot create " + path + ": " + reason(GetLastError());
      return false;
    }
  }
  return true;
}

/// Held open with share mode 0 from creation until the last byte is written, so the
/// relay's own open (also share mode 0) fails until the file is whole.
bool writePageFile(const std::string& folder, const std::string& name,
                   std::span<const std::uint8_t> bytes, std::string& error) {
  return writeFile(folder + "\\" + name, bytes, error);
}

bool enterQueueJob(const std::string&, const std::string&, std::uint32_t, std::uint32_t,
                   std::string& error) {
  error = "Windows has no directory spooler";
  return false;
}

bool postNotice(const DriverSide& side, std::span<const std::uint8_t> notice, std::string& error) {
  const std::wstring name = mailslotName(side.endpoint);
  win32::UniqueHandle slot(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string shown = base::toUtf8(win32::utf16(name));
  if (!slot) {
    const DWORD code = GetLastError();
    error = code == ERROR_FILE_NOT_FOUND ? "no relay is listening on mailslot '" + shown + "'"
                                         : "cannot open mailslot '" + shown + "': " + reason(code);
    return false;
  }
  DWORD written = 0;
  if (WriteFile(slot.get(), notice.data(), static_cast<DWORD>(notice.size()), &written, nullptr) &&
      written == notice.size()) {
    return true;
  }
  error = "cannot post the notice to mailslot '" + shown + "': " + reason(GetLastError());
  return false;
}

}  // namespace relaytool
