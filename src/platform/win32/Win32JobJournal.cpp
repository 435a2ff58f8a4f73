#include "platform/win32/Win32JobJournal.h"

#include <shlobj.h>

#include <algorithm>
#include <memory>

namespace win32 {
namespace {

struct CoTaskFree {
  void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

bool writeWhole(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

}  // namespace

Win32JobJournal::Win32JobJournal(std::wstring folder)
    : folder_(std::move(folder)), path_(folder_ + L"\\jobs.journal") {}

std::wstring Win32JobJournal::defaultFolder() {
  wchar_t* raw = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &raw);
  std::unique_ptr<wchar_t, CoTaskFree> owned(raw);
  if (FAILED(result) || !owned) return {};
  return std::wstring(owned.get()) + L"\\SpoolRelayer";
}

std::string Win32JobJournal::failure(const char* what, DWORD error) const {
  return "SpoolRelayer: journal " + asciiOf(path_) + " " + what + ": " + systemMessage(error) +
         " \n";
}

bool Win32JobJournal::take(std::string& why) {
  if (folder_.empty()) {
    why = "SpoolRelayer: journal can't be used: the local application data folder is unknown \n";
    return false;
  }
  if (!CreateDirectoryW(folder_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    why = failure("can't be used", GetLastError());
    return false;
  }
  return openForAppend(why);
}

bool Win32JobJournal::openForAppend(std::string& why) {
  // No write sharing: a second relay can't open it for writing; readers can read it, and
  // delete sharing lets replace() move a new journal over it.
  file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) {
    const DWORD error = GetLastError();
    why = error == ERROR_SHARING_VIOLATION
              ? "SpoolRelayer: journal " + asciiOf(path_) + " is in use by another relay \n"
              : failure("can't be used", error);
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_.get(), &size)) {
    why = failure("can't be used", GetLastError());
    file_.reset();
    return false;
  }
  size_ = size.QuadPart;
  return true;
}

bool Win32JobJournal::read(std::vector<std::uint8_t>& bytes, std::string& why) {
  bytes.clear();
  UniqueHandle file(CreateFileW(path_.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    why = failure("can't be read", error);
    return false;
  }
  std::uint8_t chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr)) {
      why = failure("can't be read", GetLastError());
      return false;
    }
    if (n == 0) return true;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
}

bool Win32JobJournal::append(std::span<const std::uint8_t> bytes, std::string& why) {
  if (!file_) {
    why = "SpoolRelayer: journal " + asciiOf(path_) + " not written: it was not opened \n";
    return false;
  }
  LARGE_INTEGER end{};
  end.QuadPart = size_;
  if (SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) && writeWhole(file_.get(), bytes)) {
    size_ += static_cast<std::int64_t>(bytes.size());
    return true;
  }
  why = failure("not written", GetLastError());
  // Whatever part of the entry got there goes again, so that later entries can be read.
  if (SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN)) (void)SetEndOfFile(file_.get());
  return false;
}

bool Win32JobJournal::sync(std::string& why) {
  if (file_ && FlushFileBuffers(file_.get())) return true;
  why = failure("not written", file_ ? GetLastError() : ERROR_INVALID_HANDLE);
  return false;
}

bool Win32JobJournal::replace(std::span<const std::uint8_t> bytes, std::string& why) {
  if (!file_) {
    why = "SpoolRelayer: journal " + asciiOf(path_) + " not rewritten: it was not opened \n";
    return false;
  }
  const std::wstring fresh = folder_ + L"\\jobs.journal.new";
  {
    UniqueHandle out(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out || !writeWhole(out.get(), bytes) || !FlushFileBuffers(out.get())) {
      why = failure("not rewritten", GetLastError());
      out.reset();
      (void)DeleteFileW(fresh.c_str());
      return false;
    }
  }
  // The journal is closed for the move and opened again after it.
  file_.reset();
  if (!MoveFileExW(fresh.c_str(), path_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    why = failure("not rewritten", GetLastError());
    (void)DeleteFileW(fresh.c_str());
    std::string reopened;
    (void)openForAppend(reopened);
    return false;
  }
  return openForAppend(why);
}

std::int64_t Win32JobJournal::nowUnixMs() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  // 100 ns ticks since 1601-01-01; 11644473600 s lie between 1601 and 1970.
  return static_cast<std::int64_t>(ticks / 10'000) - 11'644'473'600'000LL;
}

}  // namespace win32
