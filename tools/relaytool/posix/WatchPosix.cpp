// relaytool watch on POSIX: connects to the relay's watch socket and shows each debug
// line as it comes, with the run's printer and job where the line belongs to one.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "Options.h"
#include "WatchFormat.h"
#include "platform/posix/DebugWatch.h"
#include "platform/posix/PosixIo.h"

namespace relaytool {

const std::string_view kWatchUsage = "watch [--endpoint NAME]";
const std::string_view kWatchHelp =
    "usage: relaytool watch [--endpoint NAME]\n"
    "\n"
    "Shows every debug line of the running relay as it sends it, one line each with the\n"
    "local time and, where the line belongs to a job's run, the printer and job id:\n"
    "  14:03:07.412 [Receipt job 42] pData->State : 0x00000000 \n"
    "Each line is written and flushed as it arrives; standard error says when the watch\n"
    "has begun. Any number of watchers may watch at\n"
    "once; one that falls behind is told how many lines it missed. Ends when the relay\n"
    "ends.\n"
    "\n"
    "  --endpoint NAME  the relay's notice endpoint (default TIVORAN); the lines come from\n"
    "                   NAME.watch\n"
    "\n"
    "Exit codes: 0 the relay ended, 1 no relay to watch or output failed, 2 a bad option.\n";

namespace {

constexpr std::string_view kCommand = "watch";
constexpr KnownOption kSpecs[] = {{"--endpoint", true}};
constexpr std::size_t kLargestMessage = std::size_t{64} * 1024;

std::string sourceOf(const posix::WatchMessage& message) {
  if (message.kind != posix::WatchMessage::Kind::kRunLine) return {};
  return message.printer + " job " + std::to_string(message.jobId);
}

std::string shown(const posix::WatchMessage& message) {
  if (message.kind == posix::WatchMessage::Kind::kLost) {
    return watchLine(localClockNow(), "relaytool",
                     std::to_string(message.jobId) + " lines missed: this watcher fell behind");
  }
  return watchLine(localClockNow(), sourceOf(message), message.line);
}

}  // namespace

int runWatch(Args args) {
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, kSpecs, parsed, error)) return complain(kCommand, error, kExitUsage);
  if (parsed.help) return printHelp(kWatchHelp);
  if (!parsed.operands.empty()) {
    return complain(kCommand, "unexpected argument '" + parsed.operands[0] + "'", kExitUsage);
  }
  std::string endpoint = "TIVORAN";
  for (const auto& [name, value] : parsed.options) endpoint = value;

  const posix::Fd socket = posix::connectWatcher(posix::watchEndpointName(endpoint));
  if (!socket) {
    if (errno == ECONNREFUSED || errno == ENOENT) {
      return complain(kCommand, "no relay is listening on endpoint '" + endpoint + "'",
                      kExitFailed);
    }
    return complain(kCommand, "cannot watch endpoint '" + endpoint + "': " + std::strerror(errno),
                    kExitFailed);
  }
  std::vector<char> buffer(kLargestMessage);
  for (;;) {
    const ssize_t n = ::recv(socket.get(), buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      return complain(kCommand, std::string("cannot read: ") + std::strerror(errno), kExitFailed);
    if (n == 0) {
      std::fputs("relaytool watch: the relay has ended\n", stderr);
      return 0;
    }
    posix::WatchMessage message;
    if (!posix::decodeWatchMessage(std::string_view(buffer.data(), static_cast<std::size_t>(n)),
                                   message)) {
      continue;  // not from a relay of this version
    }
    if (message.kind == posix::WatchMessage::Kind::kHello) {
      std::fprintf(stderr, "relaytool watch: watching endpoint '%s'\n", endpoint.c_str());
      continue;
    }
    if (!posix::writeAll(STDOUT_FILENO, shown(message))) {
      return complain(kCommand,
                      std::string("cannot write standard output: ") + std::strerror(errno),
                      kExitFailed);
    }
  }
}

}  // namespace relaytool
