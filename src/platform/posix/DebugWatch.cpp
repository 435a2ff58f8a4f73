// The watch socket of the relay's debug lines.
#include "platform/posix/DebugWatch.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/SocketNoticeEndpoint.h"

namespace posix {
namespace {

constexpr std::size_t kHeaderSize = 7;
constexpr int kBacklog = 16;

void putLe(std::string& out, std::uint32_t value, int bytes) {
  for (int k = 0; k < bytes; ++k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
}

std::uint32_t getLe(std::string_view in, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int k = 0; k < bytes; ++k) {
    value |= std::uint32_t{static_cast<unsigned char>(in[at + static_cast<std::size_t>(k)])}
             << (8 * k);
  }
  return value;
}

}  // namespace

std::string encodeWatchMessage(const WatchMessage& message) {
  const std::size_t printerSize = std::min<std::size_t>(message.printer.size(), 0xFFFF);
  std::string out;
  out.reserve(kHeaderSize + printerSize + message.line.size());
  out += static_cast<char>(message.kind);
  putLe(out, message.jobId, 4);
  putLe(out, static_cast<std::uint32_t>(printerSize), 2);
  out.append(message.printer, 0, printerSize);
  out += message.line;
  return out;
}

bool decodeWatchMessage(std::string_view bytes, WatchMessage& message) {
  if (bytes.size() < kHeaderSize) return false;
  const auto kind = static_cast<std::uint8_t>(bytes[0]);
  const std::size_t printerSize = getLe(bytes, 5, 2);
  if (kind > 3 || bytes.size() < kHeaderSize + printerSize) return false;
  message.kind = static_cast<WatchMessage::Kind>(kind);
  message.jobId = getLe(bytes, 1, 4);
  message.printer = std::string(bytes.substr(kHeaderSize, printerSize));
  message.line = std::string(bytes.substr(kHeaderSize + printerSize));
  return true;
}

std::string watchEndpointName(std::string_view endpoint) {
  return std::string(endpoint) + ".watch";
}

DebugWatchers::DebugWatchers(const std::string& name) {
  sockaddr_un addr{};
  socklen_t length = 0;
  if (!abstractAddress(name, addr, length)) {
    error_ = ENAMETOOLONG;
    return;
  }
  listener_.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!listener_ ||
      ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0 ||
      ::listen(listener_.get(), kBacklog) != 0) {
    error_ = errno;
    listener_.reset();
    return;
  }
  acceptor_ = std::thread([this] { acceptLoop(); });
}

DebugWatchers::~DebugWatchers() {
  if (acceptor_.joinable()) {
    // shutdown() wakes the blocked accept(), which then fails and ends the loop.
    (void)::shutdown(listener_.get(), SHUT_RDWR);
    acceptor_.join();
  }
}

void DebugWatchers::acceptLoop() {
  for (;;) {
    Fd watcher(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!watcher) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // The listener was shut down, or the process is out of descriptors or memory:
      // no more watchers, rather than a loop that spins on the failure.
      return;
    }
    // A watcher only reads; what it might send is never looked at.
    (void)::shutdown(watcher.get(), SHUT_RD);
    const std::string hello = encodeWatchMessage({WatchMessage::Kind::kHello, 0, {}, {}});
    const std::lock_guard<std::mutex> lock(mutex_);
    // Counted before it is greeted: a watcher that has read the greeting may have the
    // relay write a line at once, and that line must find it counted.
    watchers_.push_back(Watcher{std::move(watcher), 0});
    count_.store(static_cast<int>(watchers_.size()), std::memory_order_release);
    const int greeted = watchers_.back().fd.get();
    if (::send(greeted, hello.data(), hello.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
      watchers_.pop_back();
      count_.store(static_cast<int>(watchers_.size()), std::memory_order_release);
    }
  }
}

bool DebugWatchers::deliver(Watcher& watcher, const std::string& message) {
  if (watcher.lost > 0) {
    const std::string lost = encodeWatchMessage({WatchMessage::Kind::kLost, watcher.lost, {}, {}});
    if (::send(watcher.fd.get(), lost.data(), lost.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
      if (errno != EAGAIN && errno != ENOBUFS) return false;
      ++watcher.lost;
      return true;
    }
    watcher.lost = 0;
  }
  if (::send(watcher.fd.get(), message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
    return true;
  }
  if (errno != EAGAIN && errno != ENOBUFS) return false;  // gone
  ++watcher.lost;
  return true;
}

void DebugWatchers::send(std::string_view line, const RunInfo* run) {
  WatchMessage message;
  message.line = line;
  if (run != nullptr) {
    message.kind = WatchMessage::Kind::kRunLine;
    message.printer = run->printer;
    message.jobId = run->jobId;
  }
  const std::string bytes = encodeWatchMessage(message);
  const std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(watchers_, [&](Watcher& watcher) { return !deliver(watcher, bytes); });
  count_.store(static_cast<int>(watchers_.size()), std::memory_order_release);
}

Fd connectWatcher(const std::string& name) {
  sockaddr_un addr{};
  socklen_t length = 0;
  if (!abstractAddress(name, addr, length)) {
    errno = ENAMETOOLONG;
    return Fd();
  }
  Fd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!socket || ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
    return Fd();
  }
  return socket;
}

}  // namespace posix
