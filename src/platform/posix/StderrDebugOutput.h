// The debugger output of the POSIX relay: standard error, which a service manager's
// journal keeps.
#pragma once

#include "platform/DebugOutput.h"

namespace posix {

class StderrDebugOutput : public platform::DebugOutput {
 public:
  /// Writes to descriptor `fd`; standard error unless a test says otherwise.
  explicit StderrDebugOutput(int fd = 2) : fd_(fd) {}

  /// Sends the line in one write(2), so lines of concurrent runs never interleave (a
  /// write to a pipe of at most PIPE_BUF bytes is atomic, and lines are shorter). Should
  /// the kernel take only part of it, the rest follows in further writes.
  void write(std::string_view line) override;

 private:
  int fd_;
};

}  // namespace posix
