// Notices over abstract AF_UNIX datagram sockets.
#include "platform/posix/SocketNoticeEndpoint.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/posix/PosixErrors.h"

namespace posix {
namespace {

using platform::ReadResult;

class SocketNoticeReader : public platform::NoticeReader {
 public:
  SocketNoticeReader(Fd socket, std::shared_ptr<const Fd> closed)
      : socket_(std::move(socket)), closed_(std::move(closed)) {}

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
};

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

std::unique_ptr<platform::NoticeReader> SocketNoticeEndpoint::create(std::uint32_t& error) {
  Fd socket;
  {
    std::lock_guard lock(reservedMutex_);
    socket = std::move(reserved_);
  }
  int cause = 0;
  if (!socket && !bindName(socket, error, cause)) return nullptr;
  return std::make_unique<SocketNoticeReader>(std::move(socket), closed_);
}

bool SocketNoticeEndpoint::reserve(std::uint32_t& error, int& cause) {
  Fd socket;
  if (!bindName(socket, error, cause)) return false;
  std::lock_guard lock(reservedMutex_);
  reserved_ = std::move(socket);
  return true;
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
  // Credentials are asked for before the name is bound, so no notice comes without them.
  const int on = 1;
  socket = Fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  // EADDRINUSE, the name held by another reader, maps to 183.
  if (!socket || ::setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
    cause = errno;
    error = systemError(cause);
    socket.reset();
    return false;
  }
  return true;
}

void SocketNoticeEndpoint::close() {
  const std::uint64_t one = 1;
  if (closed_->valid()) (void)::write(closed_->get(), &one, sizeof one);
}

bool postNotice(std::string_view name, std::span<const std::uint8_t> message) {
  sockaddr_un addr{};
  socklen_t length = 0;
  if (!abstractAddress(name, addr, length)) {
    errno = ENAMETOOLONG;
    return false;
  }
  Fd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) return false;
  ssize_t sent;
  do {
    sent = ::sendto(socket.get(), message.data(), message.size(), 0,
                    reinterpret_cast<const sockaddr*>(&addr), length);
  } while (sent < 0 && errno == EINTR);
  return sent >= 0 && static_cast<std::size_t>(sent) == message.size();
}

}  // namespace posix
