// Named locks on flock().
#include "platform/posix/PosixNamedLocks.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "base/Sha256.h"
#include "base/Utf.h"
#include "platform/posix/Fd.h"

namespace posix {
namespace {

class FlockHandle : public platform::NamedLockHandle {
 public:
  explicit FlockHandle(Fd fd) : fd_(std::move(fd)) {}

  /// Blocks until the lock is ours. A holder that died without releasing gives nothing
  /// to detect here: the kernel has dropped its lock and the wait simply succeeds.
  bool wait() override {
    int rc;
    do {
      rc = ::flock(fd_.get(), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
  }

  void release() override { (void)::flock(fd_.get(), LOCK_UN); }

 private:
  Fd fd_;
};

bool plainFileName(std::u16string_view name, const std::string& utf8) {
  if (utf8.size() + 5 > NAME_MAX) return false;
  if (utf8.find('/') != std::string::npos || utf8.find('\0') != std::string::npos) return false;
  // Unpaired surrogates turn into U+FFFD, which could make two names one.
  return base::toUtf16(utf8) == name;
}

}  // namespace

PosixNamedLocks::PosixNamedLocks(std::string lockDir) : lockDir_(std::move(lockDir)) {}

std::string PosixNamedLocks::lockFileName(std::u16string_view name) {
  const std::string utf8 = base::toUtf8(name);
  if (plainFileName(name, utf8)) return utf8 + ".lock";
  std::vector<std::uint8_t> bytes;
  bytes.reserve(name.size() * 2);
  for (char16_t unit : name) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return base::sha256Hex(bytes) + ".sha256";
}

std::unique_ptr<platform::NamedLockHandle> PosixNamedLocks::create(std::u16string_view name,
                                                                   bool& alreadyExisted) {
  alreadyExisted = false;
  const std::string path = lockDir_ + "/" + lockFileName(name);
  // Read-only is enough for flock() and works on a lock file another user created.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd) return nullptr;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return nullptr;
    alreadyExisted = true;
  }
  return std::make_unique<FlockHandle>(std::move(fd));
}

}  // namespace posix
