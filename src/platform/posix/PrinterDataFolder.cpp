#include "platform/posix/PrinterDataFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/SystemErrors.h"

namespace platform::posix {
namespace {

/// Closes the descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

bool isValueName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::uint32_t openError(int error) {
  return error == ENOENT || error == ENOTDIR ? kErrorFileNotFound : kErrorAccessDenied;
}

/// Reads the whole file, or one byte more than `limit` to show that it does not fit.
bool readUpTo(int fd, std::size_t limit, std::vector<std::uint8_t>& bytes) {
  bytes.resize(limit + 1);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return true;
}

}  // namespace

std::uint32_t PrinterDataFolder::read(std::string_view name, std::span<std::uint8_t> dest) const {
  if (!hasDir_ || !isValueName(name)) return kErrorFileNotFound;
  const std::string path = dir_ + "/" + std::string(name);
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return openError(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return kErrorAccessDenied;
  if (!S_ISREG(info.st_mode)) return kErrorFileNotFound;  // a folder or device is no value

  // Read into a copy first, so that a failed read leaves `dest` as it was.
  std::vector<std::uint8_t> bytes;
  if (!readUpTo(fd.get(), dest.size(), bytes)) return kErrorAccessDenied;
  if (bytes.size() > dest.size()) return kErrorMoreData;
  std::copy(bytes.begin(), bytes.end(), dest.begin());
  return kErrorSuccess;
}

}  // namespace platform::posix
