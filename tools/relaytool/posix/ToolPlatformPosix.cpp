// relaytool on POSIX: the relay's page files and debug output, files with errno's
// reason, page files renamed into place, and notices on the abstract socket.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "ToolPlatform.h"
#include "base/Utf.h"
#include "platform/posix/Fd.h"
#include "platform/posix/PosixIo.h"
#include "platform/posix/PosixPageFiles.h"
#include "platform/posix/PrinterDataFolder.h"
#include "platform/posix/SocketNoticeEndpoint.h"
#include "platform/posix/StderrDebugOutput.h"

namespace relaytool {
namespace {

std::string reason(int err) {
  return std::strerror(err);
}

bool makeDir(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  error = "cannot create " + path + ": " + reason(errno);
  return false;
}

}  // namespace

std::unique_ptr<platform::PageFiles> relayPageFiles() {
  return std::make_unique<posix::PosixPageFiles>();
}

std::u16string pageFilePath(const std::string& utf8) {
  return base::toUtf16(utf8);
}

bool checkPageFile(const std::string& path, std::string& error) {
  struct stat st {};
  const char* why = nullptr;
  if (::lstat(path.c_str(), &st) != 0) {
    why = std::strerror(errno);
  } else if (S_ISLNK(st.st_mode)) {
    why = "a symbolic link (the relay opens none)";
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
  }
  if (why == nullptr) return true;
  error = "cannot read page file " + path + ": " + why;
  return false;
}

std::unique_ptr<platform::DebugOutput> stderrDebugOutput() {
  return std::make_unique<posix::StderrDebugOutput>();
}

std::uint32_t readPrinterData(const std::string& dir, std::string_view name,
                              std::span<std::uint8_t> dest) {
  return platform::posix::PrinterDataFolder(dir).read(name, dest);
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  bytes.clear();
  posix::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  int err = fd ? 0 : errno;
  struct stat st {};
  if (err == 0 && ::fstat(fd.get(), &st) != 0) err = errno;
  if (err == 0 && S_ISDIR(st.st_mode)) err = EISDIR;
  std::uint8_t chunk[65536];
  while (err == 0) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n == 0) return true;
    if (n > 0) {
      bytes.insert(bytes.end(), chunk, chunk + n);
    } else if (errno != EINTR) {
      err = errno;
    }
  }
  error = "cannot read " + path + ": " + reason(err);
  return false;
}

bool writeFile(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error) {
  posix::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd && posix::writeAll(fd.get(), bytes) && ::close(fd.release()) == 0) return true;
  error = "cannot write " + path + ": " + reason(errno);
  return false;
}

bool writeStandardOutput(std::span<const std::uint8_t> bytes, std::string& error) {
  if (posix::writeAll(STDOUT_FILENO, bytes)) return true;
  error = "cannot write standard output: " + reason(errno);
  return false;
}

bool defaultDriverSide(DriverSide& side, std::string&) {
  side.publicDir = "/var/spool/spoolrelayer";
  side.endpoint = "TIVORAN";
  return true;
}

bool makeSpoolFolder(const DriverSide& side, std::string& folder, std::string& error) {
  folder = side.publicDir + "/TIVORAN";
  return makeDir(side.publicDir, error) && makeDir(folder, error);
}

/// Written under a hidden temporary name beside the target and renamed into place, so
/// the relay sees either no file or the whole file.
bool writePageFile(const std::string& folder, const std::string& name,
                   std::span<const std::uint8_t> bytes, std::string& error) {
  const std::string target = folder + "/" + name;
  const std::string stem = folder + "/." + name + "." + std::to_string(::getpid());
  // The temporary name must not exist yet: never a file or a link someone else put there.
  std::string temp;
  posix::Fd fd;
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    temp = attempt == 0 ? stem : stem + "." + std::to_string(attempt);
    fd =
        posix::Fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd && errno != EEXIST) break;
  }
  if (!fd) {
    error = "cannot create " + temp + ": " + reason(errno);
    return false;
  }
  if (!posix::writeAll(fd.get(), bytes) || ::close(fd.release()) != 0) {
    error = "cannot write " + temp + ": " + reason(errno);
    (void)::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) == 0) return true;
  error = "cannot write " + target + ": " + reason(errno);
  (void)::unlink(temp.c_str());
  return false;
}

bool enterQueueJob(const std::string& root, const std::string& printer, std::uint32_t jobId,
                   std::uint32_t status, std::string& error) {
  const std::string queue = root + "/" + printer + "/queue";
  const std::string text = std::to_string(status) + "\n";
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  return makeDir(queue, error) && writePageFile(queue, std::to_string(jobId), bytes, error);
}

bool postNotice(const DriverSide& side, std::span<const std::uint8_t> notice, std::string& error) {
  const std::chrono::seconds patience(side.waitSeconds);
  if (posix::postNotice(side.endpoint, notice, patience)) return true;
  const int err = errno;
  if (err == ECONNREFUSED || err == ENOENT) {
    error = "no relay is listening on endpoint '" + side.endpoint + "'";
  } else if (err == EAGAIN || err == EWOULDBLOCK) {
    error = "the queue of endpoint '" + side.endpoint + "' stayed full for " +
            std::to_string(side.waitSeconds) + " s: the relay takes no notices";
  } else {
    error = "cannot post the notice to endpoint '" + side.endpoint + "': " + reason(err);
  }
  return false;
}

}  // namespace relaytool
