// The notice endpoint of the POSIX relay: a datagram socket in the abstract AF_UNIX
// namespace. Like a mailslot it is named, keeps message boundaries, lets one reader hold
// the name at a time, and takes messages from any local account (abstract names carry no
// file permissions).
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NoticeEndpoint.h"
#include "platform/posix/Fd.h"

namespace posix {

class SocketNoticeEndpoint : public platform::NoticeEndpoint {
 public:
  /// `name` is the abstract socket name, at most 107 bytes.
  explicit SocketNoticeEndpoint(std::string name = "TIVORAN");

  /// An endpoint over `held`, a datagram socket already bound to the name by someone who
  /// keeps it open (systemd's socket unit), which isNoticeSocket() accepts. Notices sent to it
  /// while no reader reads, even while the relay is not running, wait in it. Each reader reads a
  /// copy of it, and only one reader at a time is made, as if it held the name.
  SocketNoticeEndpoint(std::string name, Fd held);

  /// Binds the name (or takes the socket reserve() bound, or a copy of the held one).
  /// Null with `error` 183 when another reader holds it, 206 when the name is too long,
  /// otherwise the errno of socket(), bind() or the copy as posix::systemError() maps it
  /// (never 0). Each message read tells its sender's uid, which the kernel checked.
  std::unique_ptr<platform::NoticeReader> create(std::uint32_t& error) override;

  /// Binds the name now (or copies the held socket), so that a program can tell at its
  /// start whether it can serve; the next create() hands out this socket. False with `error` as
  /// create() sets it and `cause` the errno behind it.
  bool reserve(std::uint32_t& error, int& cause);

  /// Closes the readers this endpoint made, and those it makes from now on: their
  /// reads return kClosed, a read already blocked included. May be called from any
  /// thread, and from a signal handler (it is one write(2) on an eventfd).
  void close();

 private:
  /// A reader's socket: a copy of the held one, or the name bound afresh.
  bool openSocket(Fd& socket, std::uint32_t& error, int& cause);
  bool bindName(Fd& socket, std::uint32_t& error, int& cause);
  bool copyHeld(Fd& socket, std::uint32_t& error, int& cause);

  std::string name_;
  std::shared_ptr<const Fd> closed_;  // an eventfd that turns readable on close()
  int closedError_ = 0;               // errno of a failed eventfd()
  std::mutex reservedMutex_;
  Fd reserved_;  // bound by reserve(), not yet handed out
  Fd held_;      // the socket passed in, bound by its keeper
  // Whether a reader made from held_ still lives; its reader clears it when it goes.
  std::shared_ptr<std::atomic<bool>> heldInUse_ = std::make_shared<std::atomic<bool>>(false);
};

/// Whether `fd` is an AF_UNIX datagram socket bound to the abstract name `name` that asks
/// for the credentials of each message's sender (SO_PASSCRED).
bool isNoticeSocket(int fd, std::string_view name);

/// The sockets the service manager passed at start (LISTEN_FDS, socket activation), now
/// owned and closed on exec; the variables are removed. Empty when none were passed, and
/// in a build without libsystemd.
std::vector<Fd> passedSockets();

/// The address of the abstract name `name`: a NUL, then the name's bytes, no terminator.
/// False when the name is longer than 107 bytes.
bool abstractAddress(std::string_view name, sockaddr_un& addr, socklen_t& length);

/// Waiting for as long as it takes.
inline constexpr std::chrono::milliseconds kWaitForever{-1};

/// Sends `message` as one datagram to the endpoint `name`; true when all of it went.
/// While the endpoint's queue is full it waits for room up to `patience` (kWaitForever:
/// without end) and then fails with EAGAIN.
bool postNotice(std::string_view name, std::span<const std::uint8_t> message,
                std::chrono::milliseconds patience = kWaitForever);

}  // namespace posix
