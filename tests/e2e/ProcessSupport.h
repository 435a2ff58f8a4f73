// Helpers for tests that drive the built programs: temporary folders, files, and
// child processes with bounded waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "posix/TempDir.h"

namespace e2e {

using Bytes = std::vector<std::uint8_t>;

/// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at the end.
using TempDir = posixtest::TempDir;

/// The built program `relative` (e.g. "tools/relaytool") under the build folder.
std::string builtProgram(const std::string& relative);

/// A page file as a driver writes it: `length` and `State`, then the stream.
Bytes pageFile(const Bytes& stream, std::uint8_t state);

std::optional<Bytes> readFile(const std::string& path);
bool writeFile(const std::string& path, const Bytes& bytes);
bool exists(const std::string& path);
void makeDirs(const std::string& path);
/// The names in a folder, sorted; empty when it does not exist.
std::vector<std::string> listDir(const std::string& path);

/// Runs a program to its end and returns its exit code (-1 if it could not run),
/// with its standard output captured into `out` when given.
int runProgram(const std::vector<std::string>& argv, Bytes* out = nullptr,
               std::string* err = nullptr);

/// A program running beside the test.
class Child {
 public:
  /// `passedFd`, when given, is the child's descriptor 3, as a service manager passes a
  /// socket.
  explicit Child(const std::vector<std::string>& argv, const std::string& stderrPath = "",
                 int passedFd = -1);
  ~Child();  // kills the child if it still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool running() const { return pid_ > 0; }
  int pid() const { return pid_; }
  void signal(int sig);
  /// Waits up to `limit` for the child to end; its exit code, or nullopt on time-out.
  std::optional<int> waitExit(std::chrono::milliseconds limit);

 private:
  int pid_ = -1;
};

/// Starts the relay program `program` on `publicDir` with `spooler` ("dir:ROOT" or "cups")
/// and the notice endpoint `endpoint`, its standard error going to `logPath`. The public
/// folder's TIVORAN is made when missing, and the lock folder is `publicDir` + ".locks"
/// (made 0700 when missing); its job journal is in stateDir(publicDir). `wrapper` goes
/// before the program (setpriv, prlimit), `options` after the others. With `heldSocket`,
/// the relay is started as systemd's socket unit starts it: that socket is its
/// descriptor 3, named in LISTEN_FDS and LISTEN_PID.
std::unique_ptr<Child> startRelay(const std::string& program, const std::string& publicDir,
                                  const std::string& spooler, const std::string& endpoint,
                                  const std::string& logPath,
                                  const std::vector<std::string>& wrapper = {},
                                  const std::vector<std::string>& options = {},
                                  int heldSocket = -1);

/// The lock folder startRelay() gives the relay on `publicDir`.
std::string lockDirFor(const std::string& publicDir);

/// The state folder (the job journal's) startRelay() gives the relay on `publicDir`:
/// `publicDir` + ".state".
std::string stateDir(const std::string& publicDir);

/// A 552-byte job notice as a driver posts it.
Bytes notice(const std::string& printer, std::uint32_t jobId, std::uint32_t copies);

/// Sends `message` as one datagram to the abstract socket `endpoint`, waiting while the
/// reader's queue is full; false when no one reads there.
bool sendNotice(const std::string& endpoint, const Bytes& message);

/// The endpoint's name bound as systemd's socket unit binds it (ListenDatagram=@NAME,
/// PassCredentials=yes) and kept while this lives, whether a relay reads it or not.
class HeldEndpoint {
 public:
  explicit HeldEndpoint(const std::string& endpoint);
  ~HeldEndpoint();
  HeldEndpoint(const HeldEndpoint&) = delete;
  HeldEndpoint& operator=(const HeldEndpoint&) = delete;

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

/// Watches a folder, or a file, with inotify and waits for its events.
class Watch {
 public:
  /// `mask` is the inotify events to watch for (IN_CLOSE, IN_DELETE, ...).
  Watch(const std::string& path, std::uint32_t mask);
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  bool ok() const { return fd_ >= 0 && wd_ >= 0; }
  /// Waits up to `limit` for an event of `mask` (on the watched file itself, or on any
  /// name in the watched folder); true when one came.
  bool waitFor(std::uint32_t mask, std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  int fd_ = -1;
  int wd_ = -1;
};

/// Ends a running relay as its service manager would (SIGTERM) and returns its exit code,
/// or nullopt when it did not end within `limit`.
std::optional<int> stopRelay(Child& relay, std::chrono::milliseconds limit);

/// Polls `done` every few milliseconds until it holds or `limit` passes.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace e2e
