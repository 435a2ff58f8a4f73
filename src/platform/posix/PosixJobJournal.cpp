#include "platform/posix/PosixJobJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/PosixErrors.h"
#include "platform/posix/PosixIo.h"

namespace posix {
namespace {

constexpr const char* kFileName = "jobs.journal";
constexpr const char* kNewFileName = "jobs.journal.new";

}  // namespace

PosixJobJournal::PosixJobJournal(std::string stateDir)
    : dir_(std::move(stateDir)), path_(dir_ + "/" + kFileName) {}

std::string PosixJobJournal::failure(const char* what, int err) const {
  return "spoolrelayer: journal " + path_ + " " + what + ": " + errorText(err) + " \n";
}

bool PosixJobJournal::take(std::string& why) {
  if (::mkdir(dir_.c_str(), 0750) != 0 && errno != EEXIST) {
    why = failure("can't be used", errno);
    return false;
  }
  dirFd_.reset(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd_) {
    why = failure("can't be used", errno);
    return false;
  }
  if (::flock(dirFd_.get(), LOCK_EX | LOCK_NB) != 0) {
    why = errno == EWOULDBLOCK ? "spoolrelayer: journal " + path_ + " is in use by another relay \n"
                               : failure("can't be used", errno);
    dirFd_.reset();
    return false;
  }
  return openForAppend(why);
}

bool PosixJobJournal::openForAppend(std::string& why) {
  file_.reset(::openat(dirFd_.get(), kFileName, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
  if (!file_ && errno == ENOENT) {
    // A new journal: its name is made durable too.
    file_.reset(::openat(dirFd_.get(), kFileName,
                         O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0640));
    if (file_) (void)::fsync(dirFd_.get());
  }
  struct stat st {};
  if (!file_ || ::fstat(file_.get(), &st) != 0) {
    why = failure("can't be used", errno);
    file_.reset();
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    why = "spoolrelayer: journal " + path_ + " can't be used: not a regular file \n";
    file_.reset();
    return false;
  }
  size_ = st.st_size;
  return true;
}

bool PosixJobJournal::read(std::vector<std::uint8_t>& bytes, std::string& why) {
  bytes.clear();
  Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) {
    if (errno == ENOENT) return true;
    why = failure("can't be read", errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    why = failure("can't be read", errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    why = "spoolrelayer: journal " + path_ + " can't be read: not a regular file \n";
    return false;
  }
  // Read to the end, however far that is now: a relay may be appending.
  bytes.resize(static_cast<std::size_t>(st.st_size) + 4096);
  std::size_t have = 0;
  for (;;) {
    const ssize_t n =
        readAt(fd.get(), std::span<std::uint8_t>(bytes).subspan(have), static_cast<off_t>(have));
    if (n < 0) {
      why = failure("can't be read", errno);
      return false;
    }
    have += static_cast<std::size_t>(n);
    if (have < bytes.size()) break;
    bytes.resize(bytes.size() * 2);
  }
  bytes.resize(have);
  return true;
}

bool PosixJobJournal::append(std::span<const std::uint8_t> bytes, std::string& why) {
  if (!file_) {
    why = "spoolrelayer: journal " + path_ + " not written: it was not opened \n";
    return false;
  }
  if (writeAll(file_.get(), bytes)) {
    size_ += static_cast<off_t>(bytes.size());
    return true;
  }
  const int err = errno;
  why = failure("not written", err);
  // Whatever part of the entry got there goes again, so that later entries can be read.
  (void)::ftruncate(file_.get(), size_);
  return false;
}

bool PosixJobJournal::sync(std::string& why) {
  if (file_ && ::fdatasync(file_.get()) == 0) return true;
  why = failure("not written", file_ ? errno : EBADF);
  return false;
}

bool PosixJobJournal::replace(std::span<const std::uint8_t> bytes, std::string& why) {
  if (!dirFd_) {
    why = "spoolrelayer: journal " + path_ + " not rewritten: it was not opened \n";
    return false;
  }
  Fd fresh(::openat(dirFd_.get(), kNewFileName,
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640));
  if (!fresh || !writeAll(fresh.get(), bytes) || ::fsync(fresh.get()) != 0 ||
      ::renameat(dirFd_.get(), kNewFileName, dirFd_.get(), kFileName) != 0) {
    why = failure("not rewritten", errno);
    (void)::unlinkat(dirFd_.get(), kNewFileName, 0);
    return false;
  }
  (void)::fsync(dirFd_.get());
  return openForAppend(why);
}

std::int64_t PosixJobJournal::nowUnixMs() {
  struct timespec now {};
  (void)::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace posix
