// Whole reads and writes on descriptors.
#include "platform/posix/PosixIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
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

int openBeneath(int dirFd, const char* path, int flags, mode_t mode) {
  // Kernels before 5.6 lack openat2(); a seccomp filter may refuse it with EPERM.
  static std::atomic<bool> haveOpenat2{true};
  if (haveOpenat2.load(std::memory_order_relaxed)) {
    // openat2() refuses O_PATH with any flag besides O_CLOEXEC, O_DIRECTORY, O_NOFOLLOW.
    const int extra = (flags & O_PATH) != 0 ? O_CLOEXEC : O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    open_how how{};
    how.flags = static_cast<__u64>(static_cast<unsigned>(flags | extra));
    how.mode = (flags & O_CREAT) != 0 ? __u64{mode} : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, dirFd, path, &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno != ENOSYS && errno != EPERM) return -1;
    haveOpenat2.store(false, std::memory_order_relaxed);
  }
  return openBeneathStepwise(dirFd, path, flags, mode);
}

int openBeneathStepwise(int dirFd, const char* path, int flags, mode_t mode) {
  std::string_view rest(path);
  if (rest.empty() || rest.front() == '/') {
    errno = rest.empty() ? ENOENT : EXDEV;
    return -1;
  }
  Fd folder;  // the folder reached so far; dirFd itself is not ours to close
  for (;;) {
    const std::size_t slash = rest.find('/');
    const std::string name(rest.substr(0, slash));
    if (name == ".." || name == "." || name.empty()) {
      errno = EXDEV;
      return -1;
    }
    const int at = folder ? folder.get() : dirFd;
    if (slash == std::string_view::npos) {
      return ::openat(at, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                      mode);
    }
    Fd next(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return -1;
    folder = std::move(next);
    rest.remove_prefix(slash + 1);
  }
}

bool readSmallFile(int dirFd, const char* path, std::size_t limit, std::string& out, int& err,
                   std::uint32_t* owner) {
  Fd fd(openBeneath(dirFd, path, O_RDONLY));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    err = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    err = ENOENT;
    return false;
  }
  if (owner) *owner = st.st_uid;
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
  Fd fd(openBeneath(dirFd, path, O_RDONLY | O_DIRECTORY));
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

bool existsAt(int dirFd, const char* path) {
  return Fd(openBeneath(dirFd, path, O_PATH | O_NOFOLLOW)).valid();
}

}  // namespace posix
