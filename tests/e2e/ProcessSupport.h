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
  explicit Child(const std::vector<std::string>& argv, const std::string& stderrPath = "");
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
/// and the notice endpoint `endpoint`, its standard error going to `logPath`. Its job
/// journal is in stateDir(publicDir); `extra` are further options.
std::unique_ptr<Child> startRelay(const std::string& program, const std::string& publicDir,
                                  const std::string& spooler, const std::string& endpoint,
                                  const std::string& logPath,
                                  const std::vector<std::string>& extra = {});

/// The state folder startRelay() gives the relay of `publicDir`: "<publicDir>.state".
std::string stateDir(const std::string& publicDir);

/// Ends a running relay as its service manager would (SIGTERM) and returns its exit code,
/// or nullopt when it did not end within `limit`.
std::optional<int> stopRelay(Child& relay, std::chrono::milliseconds limit);

/// Polls `done` every few milliseconds until it holds or `limit` passes.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace e2e
