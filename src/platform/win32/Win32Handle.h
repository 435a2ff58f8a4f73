// Owning wrappers for Win32 handles, and UTF-16 text as the wide API takes it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace win32 {

/// Owns one kernel handle and closes it. Both NULL and INVALID_HANDLE_VALUE mean none,
/// since the API uses either for a failure depending on the call.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  [[nodiscard]] HANDLE get() const { return handle_; }
  [[nodiscard]] bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return valid(); }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

/// wchar_t is a UTF-16 unit on Windows, so the text passes unchanged.
inline std::wstring wide(std::u16string_view text) {
  return {text.begin(), text.end()};
}
inline std::u16string utf16(std::wstring_view text) {
  return {text.begin(), text.end()};
}

/// An ASCII line as UTF-16; other bytes pass as their Latin-1 code points.
inline std::wstring wideAscii(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

/// Text for a debug line: ASCII kept, every other unit as '?'.
inline std::string asciiOf(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return out;
}

/// The system's message for `error`, on one line, without its final period and newline.
inline std::string systemMessage(DWORD error) {
  wchar_t* raw = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  std::wstring text = n > 0 && raw != nullptr ? std::wstring(raw, n) : std::wstring();
  if (raw != nullptr) LocalFree(raw);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.' ||
                           text.back() == L' ')) {
    text.pop_back();
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(error));
  return text.empty() ? std::string("error ") + code : asciiOf(text) + " (" + code + ")";
}

}  // namespace win32
