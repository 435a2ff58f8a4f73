// Debug lines on standard error.
#include "platform/posix/StderrDebugOutput.h"

#include "platform/posix/PosixIo.h"

namespace posix {

void StderrDebugOutput::write(std::string_view line) {
  (void)writeAll(fd_, line);
}

}  // namespace posix
