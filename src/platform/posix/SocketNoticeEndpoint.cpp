// Notices over abstract AF_UNIX datagram sockets.
#include "platform/posix/SocketNoticeEndpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/posix/PosixErrors.h"

#if SPR_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace posix {
namespace {

using platform::ReadResult;

class SocketNoticeReader : public platform::NoticeReader {
 public:
  /// `inUse`, when given, is the held socket's flag, cleared when this reader goes.
  SocketNoticeReader(Fd socket, std::shared_ptr<const Fd> closed,
                     std::shared_ptr<std::atomic<bool>> inUse)
      : socket_(std::move(socket)), closed_(std::move(closed)), inUse_(std::move(inUse)) {}
  ~SocketNoticeReader() override {
    socket_.reset();
    if (inUse_) inUse_->store(false);
  }
  SocketNoticeReader(const SocketNoticeReader&) = delete;
  SocketNoticeReader& operator=(const SocketNoticeReader&) = delete;

  ReadResult read(std::span<std::uint8_t> dest, std::optional<std::uint32_t>& sender) override {
    for (;;) {
      if (!waitReadable()) return ReadResult::kFailed;
      if (isClosed()) return ReadResult::kClosed;
      // MSG_PEEK | MSG_TRUNC gives the whole size of the next datagram and leaves it queued.
      const ssize_t size = ::recv(socket_.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
      if (size < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (size < 0) return ReadResult::kFailed;
      if (static_cast<std::size_t>(size) > dest.size()) return dropOne();
      return receive(dest, sender);
    }
  }

 private:
  /// Receives the waiting datagram with the credentials the kernel attached to it. A
  /// message without them (none should come, SO_PASSCRED being set before the bind) is
  /// dropped: who sent it decides which jobs it may reach.
  ReadResult receive(std::span<std::uint8_t> dest, std::optional<std::uint32_t>& sender) {
    iovec data{dest.data(), dest.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(socket_.get(), &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) < 0) {
      return ReadResult::kFailed;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
          c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
        ucred credentials{};
        std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
        sender = static_cast<std::uint32_t>(credentials.uid);
        return ReadResult::kMessage;
      }
    }
    return ReadResult::kFailed;
  }

  /// Blocks until a datagram waits or the endpoint is closed; false when poll() fails.
  bool waitReadable() {
    pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {closed_->get(), POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) > 0) return true;
      if (errno != EINTR) return false;
    }
  }

  bool isClosed() {
    pollfd fd{closed_->get(), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
  }

  /// Receiving one byte of a datagram discards the rest of it, so an oversized message
  /// fails one read and is never met again.
  ReadResult dropOne() {
    std::uint8_t byte = 0;
    (void)::recv(socket_.get(), &byte, 1, MSG_DONTWAIT);
    return ReadResult::kFailed;
  }

  Fd socket_;
  std::shared_ptr<const Fd> closed_;
  std::shared_ptr<std::atomic<bool>> inUse_;
};

/// Asks the kernel for each message's sender; set before the name is bound where this
/// process binds it, so that no notice comes without one.
bool askForCredentials(int fd) {
  const int on = 1;
  return ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
}

}  // namespace

bool abstractAddress(std::string_view name, sockaddr_un& addr, socklen_t& length) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return true;
}

SocketNoticeEndpoint::SocketNoticeEndpoint(std::string name) : name_(std::move(name)) {
  Fd closed(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!closed) closedError_ = errno;
  closed_ = std::make_shared<const Fd>(std::move(closed));
}

SocketNoticeEndpoint::SocketNoticeEndpoint(std::string name, Fd held)
    : SocketNoticeEndpoint(std::move(name)) {
  held_ = std::move(held);
}

std::unique_ptr<platform::NoticeReader> SocketNoticeEndpoint::create(std::uint32_t& error) {
  Fd socket;
  {
    std::lock_guard lock(reservedMutex_);
    socket = std::move(reserved_);
  }
  int cause = 0;
  if (!socket && !openSocket(socket, error, cause)) return nullptr;
  return std::make_unique<SocketNoticeReader>(std::move(socket), closed_,
                                              held_ ? heldInUse_ : nullptr);
}

bool SocketNoticeEndpoint::reserve(std::uint32_t& error, int& cause) {
  Fd socket;
  if (!openSocket(socket, error, cause)) return false;
  std::lock_guard lock(reservedMutex_);
  reserved_ = std::move(socket);
  return true;
}

bool SocketNoticeEndpoint::openSocket(Fd& socket, std::uint32_t& error, int& cause) {
  return held_ ? copyHeld(socket, error, cause) : bindName(socket, error, cause);
}

bool SocketNoticeEndpoint::bindName(Fd& socket, std::uint32_t& error, int& cause) {
  if (!closed_->valid()) {
    cause = closedError_;
    error = systemError(cause);
    return false;
  }
  sockaddr_un addr{};
  socklen_t length = 0;
  if (!abstractAddress(name_, addr, length)) {
    cause = ENAMETOOLONG;
    error = systemError(cause);
    return false;
  }
  socket = Fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  // EADDRINUSE, the name held by another reader, maps to 183.
  if (!socket || !askForCredentials(socket.get()) ||
      ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
    cause = errno;
    error = systemError(cause);
    socket.reset();
    return false;
  }
  return true;
}

bool SocketNoticeEndpoint::copyHeld(Fd& socket, std::uint32_t& error, int& cause) {
  cause = 0;
  bool idle = false;
  if (!closed_->valid()) {
    cause = closedError_;
  } else if (!heldInUse_->compare_exchange_strong(idle, true)) {
    cause = EADDRINUSE;  // the reader made before still reads
  } else {
    socket = Fd(::fcntl(held_.get(), F_DUPFD_CLOEXEC, 3));
    if (!socket) {
      cause = errno;
      heldInUse_->store(false);
    }
  }
  if (cause == 0) return true;
  error = systemError(cause);
  return false;
}

void SocketNoticeEndpoint::close() {
  const std::uint64_t one = 1;
  if (closed_->valid()) (void)::write(closed_->get(), &one, sizeof one);
}

bool isNoticeSocket(int fd, std::string_view name) {
  int domain = 0;
  int type = 0;
  socklen_t size = sizeof domain;
  if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 || domain != AF_UNIX) {
    return false;
  }
  size = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_DGRAM) return false;
  // The kernel notes a datagram's sender only while its receiver asks for it, so a
  // socket that did not ask from the start would give the notices that waited in it
  // without one.
  int passes = 0;
  size = sizeof passes;
  if (::getsockopt(fd, SOL_SOCKET, SO_PASSCRED, &passes, &size) != 0 || passes == 0) return false;
  sockaddr_un want{};
  socklen_t wantLength = 0;
  sockaddr_un bound{};
  socklen_t boundLength = sizeof bound;
  return abstractAddress(name, want, wantLength) &&
         ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0 &&
         boundLength == wantLength && std::memcmp(&bound, &want, wantLength) == 0;
}

std::vector<Fd> passedSockets() {
  std::vector<Fd> sockets;
#if SPR_HAVE_SYSTEMD
  // It also marks each one close-on-exec.
  const int count = sd_listen_fds(1);
  if (count > 0) sockets.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) sockets.emplace_back(SD_LISTEN_FDS_START + i);
#endif
  return sockets;
}

bool postNotice(std::string_view name, std::span<const std::uint8_t> message,
                std::chrono::milliseconds patience) {
  sockaddr_un addr{};
  socklen_t length = 0;
  if (!abstractAddress(name, addr, length)) {
    errno = ENAMETOOLONG;
    return false;
  }
  Fd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) return false;
  // Connected, the socket polls writable only while the endpoint's queue has room.
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) return false;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::max(patience, patience.zero());
  for (;;) {
    const ssize_t sent =
        ::send(socket.get(), message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent) == message.size();
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    int timeout = -1;
    if (patience >= patience.zero()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= left.zero()) {
        errno = EAGAIN;
        return false;
      }
      timeout = static_cast<int>(std::min<std::int64_t>(left.count(), 60'000));
    }
    pollfd writable{socket.get(), POLLOUT, 0};
    if (::poll(&writable, 1, timeout) < 0 && errno != EINTR) return false;
  }
}

}  // namespace posix
