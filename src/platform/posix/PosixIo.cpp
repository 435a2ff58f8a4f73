// Whole reads and writes on descriptors.
#include "platform/posix/PosixIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/posix/Fd.h"

namespace posix {

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool writeAll(int fd, std::string_view text) {
  return writeAll(fd, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

ssize_t readAt(int fd, std::span<std::uint8_t> dest, off_t offset) {
  std::size_t done = 0;
  while (done < dest.size()) {
    const ssize_t n =
        ::pread(fd, dest.data() + done, dest.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool readSmallFile(int dirFd, const char* path, std::size_t limit, std::string& out, int& err) {
  Fd fd(::openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    err = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    err = ENOENT;
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > limit) {
    err = EFBIG;
    return false;
  }
  // One byte more than allowed tells a file that grew past the limit from one that fits.
  std::string buffer(limit + 1, '\0');
  const ssize_t n =
      readAt(fd.get(), std::span(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size()), 0);
  if (n < 0) {
    err = errno;
    return false;
  }
  if (static_cast<std::size_t>(n) > limit) {
    err = EFBIG;
    return false;
  }
  buffer.resize(static_cast<std::size_t>(n));
  out = std::move(buffer);
  return true;
}

bool listFolder(int dirFd, const char* path, std::vector<std::string>& names, int& err) {
  // A descriptor of its own, so the listing starts at the top whatever else reads the folder.
  Fd fd(::openat(dirFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) {
    err = errno;
    return false;
  }
  struct Closer {
    void operator()(DIR* dir) const { (void)::closedir(dir); }
  };
  std::unique_ptr<DIR, Closer> dir(::fdopendir(fd.get()));
  if (!dir) {
    err = errno;
    return false;
  }
  (void)fd.release();  // the DIR owns it now
  names.clear();
  for (;;) {
    errno = 0;  // readdir() tells the end from a failure only through errno
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    const std::string_view name(entry->d_name);
    if (name != "." && name != "..") names.emplace_back(name);
  }
  err = errno;
  return err == 0;
}

bool existsAt(int dirFd, const char* name) {
  struct stat st {};
  return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace posix
