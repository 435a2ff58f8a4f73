// The notice mailslot and the relay's threads on Windows.
#pragma once

#include <string>

#include "platform/NoticeEndpoint.h"
#include "platform/Threads.h"

namespace win32 {

inline constexpr wchar_t kNoticeMailslot[] = L"\\\\.\\mailslot\\TIVORAN";

/// A mailslot that any account may write to (a present, null DACL), with no limit on
/// the message size and reads that wait forever. Its reader has no way to be closed
/// from outside: it serves until the process ends, as the relay needs.
class Win32NoticeEndpoint : public platform::NoticeEndpoint {
 public:
  explicit Win32NoticeEndpoint(std::wstring name = kNoticeMailslot) : name_(std::move(name)) {}
  std::unique_ptr<platform::NoticeReader> create(std::uint32_t& error) override;

 private:
  std::wstring name_;
};

/// Threads started with _beginthreadex and a 4096-byte stack request. The request is a
/// commit size: the stack still grows on demand up to the program's 1 MiB reserve.
class Win32Threads : public platform::Threads {
 public:
  static constexpr unsigned kStackRequest = 4096;
  bool startDetached(std::function<void()> body) override;
  std::unique_ptr<platform::ThreadHandle> start(std::function<void()> body) override;
};

}  // namespace win32
