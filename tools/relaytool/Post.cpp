// relaytool post: the driver's side of a job. Writes the page files into the spool
// folder, optionally enters the driver's own job in the directory spooler's queue, and
// posts the 552-byte job notice.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "base/Utf.h"
#include "platform/posix/SocketNoticeEndpoint.h"

namespace {

struct PostOptions {
  std::string printer;
  bool haveJobId = false;
  std::uint32_t jobId = 0;
  std::uint32_t copies = 1;
  std::string model;
  std::uint32_t cutMode = 0;
  std::string publicDir = "/var/spool/spoolrelayer";
  std::string endpoint = "TIVORAN";
  bool haveQueueStatus = false;
  std::uint32_t queueStatus = 0;
  std::string spoolerRoot;
  std::vector<std::string> pages;
};

int fail(const std::string& message) {
  std::fprintf(stderr, "relaytool post: %s\n", message.c_str());
  return 2;
}

bool parseU32(std::string_view text, std::uint32_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool parsePostOptions(relaytool::Args args, PostOptions& o, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg.size() < 2 || arg.substr(0, 2) != "--") {
      o.pages.emplace_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "option " + std::string(arg) + " needs a value";
      return false;
    }
    const std::string value(args[++i]);
    bool ok = true;
    if (arg == "--printer") {
      o.printer = value;
    } else if (arg == "--job-id") {
      ok = o.haveJobId = parseU32(value, o.jobId);
    } else if (arg == "--copies") {
      ok = parseU32(value, o.copies);
    } else if (arg == "--model") {
      o.model = value;
    } else if (arg == "--cut-mode") {
      ok = parseU32(value, o.cutMode);
    } else if (arg == "--public-dir") {
      o.publicDir = value;
    } else if (arg == "--endpoint") {
      o.endpoint = value;
    } else if (arg == "--queue-status") {
      ok = o.haveQueueStatus = parseU32(value, o.queueStatus);
    } else if (arg == "--spooler") {
      if (value.rfind("dir:", 0) != 0 || value.size() <= 4) {
        error = "--queue-status works with the directory spooler only (--spooler dir:ROOT)";
        return false;
      }
      o.spoolerRoot = value.substr(4);
    } else {
      error = "unknown option " + std::string(arg);
      return false;
    }
    if (!ok) {
      error = "bad value for " + std::string(arg) + ": " + value;
      return false;
    }
  }
  if (o.printer.empty() || !o.haveJobId) {
    error = "--printer and --job-id are required";
    return false;
  }
  if (o.haveQueueStatus && o.spoolerRoot.empty()) {
    error = "--queue-status needs --spooler dir:ROOT";
    return false;
  }
  return true;
}

bool readWhole(const std::string& path, std::vector<std::uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::array<std::uint8_t, 65536> chunk{};
  std::size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
  }
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

/// Creates a temporary file beside `path` that did not exist before: never a file or a
/// link someone else put there. -1 when none can be made.
int createTemporary(const std::string& path, std::string& temp) {
  const std::size_t slash = path.rfind('/');
  const std::string stem =
      path.substr(0, slash + 1) + "." + path.substr(slash + 1) + "." + std::to_string(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = attempt == 0 ? stem : stem + "." + std::to_string(attempt);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

/// Writes `bytes` to a temporary name beside `path` and renames it into place, so the
/// relay never opens half a file.
bool writeInPlace(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string temp;
  const int fd = createTemporary(path, temp);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (done != bytes.size() || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool makeDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string pageFileName(std::uint32_t jobId, std::uint32_t page) {
  char name[64];
  std::snprintf(name, sizeof name, "TIVORAN_%08X_%08X.bin", jobId, page);
  return name;
}

void putU32(std::vector<std::uint8_t>& notice, std::size_t at, std::uint32_t value) {
  for (std::size_t k = 0; k < 4; ++k) notice[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

void putUnits(std::vector<std::uint8_t>& notice, std::size_t at, std::size_t units,
              const std::u16string& text) {
  for (std::size_t i = 0; i < text.size() && i < units; ++i) {
    notice[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
    notice[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
}

std::vector<std::uint8_t> buildNotice(const PostOptions& o) {
  std::vector<std::uint8_t> notice(552, 0);
  putUnits(notice, 0, 259, base::toUtf16(o.printer));  // the name keeps its NUL
  putU32(notice, 520, o.jobId);
  putU32(notice, 524, o.copies);
  putUnits(notice, 528, 10, base::toUtf16(o.model));
  putU32(notice, 548, o.cutMode);
  return notice;
}

}  // namespace

namespace relaytool {

int runPost(Args args) {
  PostOptions o;
  std::string error;
  if (!parsePostOptions(args, o, error)) return fail(error);

  const std::string spoolDir = o.publicDir + "/TIVORAN";
  if (!o.pages.empty() && !(makeDir(o.publicDir) && makeDir(spoolDir))) {
    return fail("cannot create " + spoolDir + ": " + std::strerror(errno));
  }
  for (std::size_t i = 0; i < o.pages.size(); ++i) {
    std::vector<std::uint8_t> bytes;
    if (!readWhole(o.pages[i], bytes)) return fail("cannot read " + o.pages[i]);
    const std::string target =
        spoolDir + "/" + pageFileName(o.jobId, static_cast<std::uint32_t>(i + 1));
    if (!writeInPlace(target, bytes)) return fail("cannot write " + target);
  }
  if (o.haveQueueStatus) {
    const std::string queue = o.spoolerRoot + "/" + o.printer + "/queue";
    const std::string status = std::to_string(o.queueStatus) + "\n";
    if (!makeDir(queue) || !writeInPlace(queue + "/" + std::to_string(o.jobId),
                                         std::vector<std::uint8_t>(status.begin(), status.end()))) {
      return fail("cannot enter job " + std::to_string(o.jobId) + " in " + queue);
    }
  }
  if (!posix::postNotice(o.endpoint, buildNotice(o))) {
    return fail("cannot post the notice to endpoint '" + o.endpoint + "'");
  }
  return 0;
}

}  // namespace relaytool
