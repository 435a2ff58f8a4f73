// How one notice is read from a mailslot without ever meeting an oversized message twice.
// Kept free of OS headers so that the decisions can be tested against scripted mailslots
// that behave as Windows does and as Wine does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/NoticeEndpoint.h"

namespace win32 {

/// The two mailslot calls the reader makes; the real ones are GetMailslotInfo and ReadFile.
class MailslotCalls {
 public:
  virtual ~MailslotCalls() = default;
  /// The size of the next queued message; none when nothing is queued or the query fails.
  virtual std::optional<std::uint32_t> nextMessageSize() = 0;
  /// One blocking read into `dest`. On failure `error` is the system error code.
  virtual bool readMessage(std::span<std::uint8_t> dest, std::size_t& read,
                           std::uint32_t& error) = 0;
};

/// The buffer a read waits with when no message is queued yet, so that a message that
/// arrives during the wait lands whole on Windows and Wine alike up to this size.
inline constexpr std::size_t kLandingSize = 64 * 1024;

enum class NextRead {
  kDrain,       // a queued message is larger than the notice: read it whole and drop it
  kReadQueued,  // a queued message fits: read it straight into the notice
  kWait,        // nothing queued: wait for the next message with the landing buffer
};

/// Decides the next read from the size GetMailslotInfo reported, before reading.
NextRead decideNextRead(std::optional<std::uint32_t> nextSize, std::size_t capacity);

/// Reads one message into `dest`. A message longer than `dest` is read whole and
/// dropped, giving kFailed exactly once:
/// - queued before the read: GetMailslotInfo shows its size and it is drained with a
///   block of that size;
/// - arriving during the wait and larger than the landing buffer: Windows fails the read
///   with ERROR_INSUFFICIENT_BUFFER and keeps it queued, so it is drained on the next
///   round; Wine cuts it to the buffer and discards the rest, so it is gone already.
platform::ReadResult readNotice(MailslotCalls& calls, std::span<std::uint8_t> dest);

}  // namespace win32
