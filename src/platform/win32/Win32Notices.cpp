#include "platform/win32/Win32Notices.h"

#include <process.h>

#include "platform/win32/Win32Handle.h"
#include "platform/win32/Win32MailslotRead.h"

namespace win32 {
namespace {

class MailslotReader : public platform::NoticeReader, private MailslotCalls {
 public:
  explicit MailslotReader(UniqueHandle slot) : slot_(std::move(slot)) {}

  /// A mailslot does not tell who posted a message: the sender stays unknown.
  platform::ReadResult read(std::span<std::uint8_t> dest, std::optional<std::uint32_t>&) override {
    return readNotice(*this, dest);
  }

 private:
  std::optional<std::uint32_t> nextMessageSize() override {
    DWORD next = MAILSLOT_NO_MESSAGE;
    if (!GetMailslotInfo(slot_.get(), nullptr, &next, nullptr, nullptr)) return std::nullopt;
    if (next == MAILSLOT_NO_MESSAGE) return std::nullopt;
    return next;
  }

  bool readMessage(std::span<std::uint8_t> dest, std::size_t& read, std::uint32_t& error) override {
    DWORD count = 0;
    if (!ReadFile(slot_.get(), dest.data(), static_cast<DWORD>(dest.size()), &count, nullptr)) {
      error = GetLastError();
      return false;
    }
    read = count;
    return true;
  }

  UniqueHandle slot_;
};

class Win32ThreadHandle : public platform::ThreadHandle {
 public:
  explicit Win32ThreadHandle(UniqueHandle thread) : thread_(std::move(thread)) {}
  bool waitFor(std::uint32_t ms) override {
    return WaitForSingleObject(thread_.get(), ms) == WAIT_OBJECT_0;
  }

 private:
  UniqueHandle thread_;
};

using Body = std::function<void()>;

unsigned __stdcall runBody(void* argument) {
  std::unique_ptr<Body> body(static_cast<Body*>(argument));
  (*body)();
  return 0;
}

/// Starts the thread; the body passes to it, or is freed here when it can't start.
UniqueHandle startThread(Body body) {
  auto owned = std::make_unique<Body>(std::move(body));
  const std::uintptr_t thread =
      _beginthreadex(nullptr, Win32Threads::kStackRequest, runBody, owned.get(), 0, nullptr);
  if (thread == 0) return UniqueHandle();
  (void)owned.release();  // runBody owns it now
  return UniqueHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace

std::unique_ptr<platform::NoticeReader> Win32NoticeEndpoint::create(std::uint32_t& error) {
  // Revision 1, a DACL that is present and null: every account may post notices.
  SECURITY_DESCRIPTOR descriptor{};
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    error = GetLastError();
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  UniqueHandle slot(CreateMailslotW(name_.c_str(), 0, MAILSLOT_WAIT_FOREVER, &attributes));
  if (!slot) {
    error = GetLastError();
    return nullptr;
  }
  return std::make_unique<MailslotReader>(std::move(slot));
}

bool Win32Threads::startDetached(std::function<void()> body) {
  return startThread(std::move(body)).valid();  // the handle closes here; the thread runs on
}

std::unique_ptr<platform::ThreadHandle> Win32Threads::start(std::function<void()> body) {
  UniqueHandle thread = startThread(std::move(body));
  if (!thread) return nullptr;
  return std::make_unique<Win32ThreadHandle>(std::move(thread));
}

}  // namespace win32
