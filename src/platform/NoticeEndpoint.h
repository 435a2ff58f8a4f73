// The notice endpoint (a mailslot on Windows): whole messages, one reader at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace platform {

enum class ReadResult {
  kMessage,  // one whole message was read (the bytes past the message are untouched)
  kFailed,   // the read failed; an oversized message has been dropped whole
  kClosed,   // the endpoint was closed: the reader ends
};

/// The open endpoint: only one reader of a name at a time. Destroying it closes it.
class NoticeReader {
 public:
  virtual ~NoticeReader() = default;
  /// Blocks until one whole message arrives and copies it into `dest` (at most
  /// dest.size() bytes). A longer message is dropped whole and gives kFailed once.
  /// With a message, `sender` is the account that posted it where the endpoint can tell
  /// (the kernel-checked uid on Linux); a mailslot can't, and leaves it empty.
  virtual ReadResult read(std::span<std::uint8_t> dest, std::optional<std::uint32_t>& sender) = 0;
};

class NoticeEndpoint {
 public:
  virtual ~NoticeEndpoint() = default;
  /// Creates the endpoint; null with `error` set (183 when the name is taken) on failure.
  virtual std::unique_ptr<NoticeReader> create(std::uint32_t& error) = 0;
};

}  // namespace platform
