#include "platform/win32/Win32MailslotRead.h"

#include <algorithm>

#include "base/HeapBlock.h"
#include "platform/SystemErrors.h"

namespace win32 {

NextRead decideNextRead(std::optional<std::uint32_t> nextSize, std::size_t capacity) {
  if (!nextSize) return NextRead::kWait;
  return *nextSize > capacity ? NextRead::kDrain : NextRead::kReadQueued;
}

platform::ReadResult readNotice(MailslotCalls& calls, std::span<std::uint8_t> dest) {
  std::size_t read = 0;
  std::uint32_t error = 0;
  for (;;) {
    const std::optional<std::uint32_t> next = calls.nextMessageSize();
    switch (decideNextRead(next, dest.size())) {
      case NextRead::kDrain: {
        // A block that can't be had leaves the message queued; it is met once more.
        base::HeapBlock block = base::HeapBlock::zeroed(*next);
        if (block.ok()) (void)calls.readMessage(block.span(), read, error);
        return platform::ReadResult::kFailed;
      }
      case NextRead::kReadQueued:
        return calls.readMessage(dest, read, error) ? platform::ReadResult::kMessage
                                                    : platform::ReadResult::kFailed;
      case NextRead::kWait:
        break;
    }
    base::HeapBlock landing = base::HeapBlock::zeroed(std::max(kLandingSize, dest.size()));
    if (!landing.ok()) return platform::ReadResult::kFailed;
    if (!calls.readMessage(landing.span(), read, error)) {
      // Still queued (Windows): the next round sees its size and drains it.
      if (error == platform::kErrorInsufficientBuffer) continue;
      return platform::ReadResult::kFailed;
    }
    if (read > dest.size()) return platform::ReadResult::kFailed;  // dropped whole
    std::copy_n(landing.data(), read, dest.begin());
    return platform::ReadResult::kMessage;
  }
}

}  // namespace win32
