// Named locks on flock(), behind a table of this process's handles per name.
#include "platform/posix/PosixNamedLocks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "base/Sha256.h"
#include "base/Utf.h"
#include "platform/posix/Fd.h"

namespace posix {
namespace {

using Slot = PosixNamedLocks::Slot;
using Table = PosixNamedLocks::Table;

enum class FileLock { kAcquired, kBusy, kFailed };

/// Opens the lock file at `path`, created 0600 when missing; never through a link, and
/// never a FIFO or a device (O_NONBLOCK keeps a FIFO from blocking the open).
Fd openLockFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
               0600));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Fd();
  return fd;
}

/// True when `fd` is still the file named `path`. A holder removes its lock file before
/// it lets the lock go, so a lock got on a file that has lost its name is no lock.
bool stillNamed(int fd, const std::string& path) {
  struct stat held {
  }, named{};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

class FlockHandle : public platform::NamedLockHandle {
 public:
  /// `hasTurn`: the handle is first in this process and may go for the file lock; else
  /// it stands in the slot's line with `ticket`.
  FlockHandle(std::shared_ptr<Table> table, Slot& slot, std::string key, std::string path,
              std::uint64_t ticket, bool hasTurn)
      : table_(std::move(table)),
        slot_(slot),
        key_(std::move(key)),
        path_(std::move(path)),
        ticket_(ticket),
        hasTurn_(hasTurn),
        inLine_(!hasTurn) {}

  ~FlockHandle() override {
    release();
    std::lock_guard lock(table_->mutex);
    if (inLine_) {
      slot_.line.erase(std::find(slot_.line.begin(), slot_.line.end(), ticket_));
      slot_.turn.notify_all();  // the next in line may be at the front now
    }
    if (--slot_.handles == 0) table_->slots.erase(key_);
  }

  /// The first try of a handle that has the turn at once: the file lock without waiting.
  FileLock tryFirst() { return lockFile(false); }

  /// Waits for this handle's turn in the process, then for the file lock. A holder that
  /// died without releasing gives nothing to detect here: the kernel dropped its lock.
  bool wait() override {
    if (!hasTurn_) {
      if (!inLine_) return false;  // released already
      std::unique_lock lock(table_->mutex);
      slot_.turn.wait(lock, [this] {
        return !slot_.taken && !slot_.line.empty() && slot_.line.front() == ticket_;
      });
      slot_.line.pop_front();
      slot_.taken = hasTurn_ = true;
      inLine_ = false;
    }
    return locked_ || lockFile(true) == FileLock::kAcquired;
  }

  /// Removes the lock file while the lock is still held, lets the lock go, and passes
  /// the turn to the next handle in line.
  void release() override {
    if (!hasTurn_) return;
    if (locked_) (void)::unlink(path_.c_str());
    locked_ = false;
    fd_.reset();
    hasTurn_ = false;
    std::lock_guard lock(table_->mutex);
    slot_.taken = false;
    slot_.turn.notify_all();
  }

 private:
  FileLock lockFile(bool wait) {
    for (;;) {
      if (!fd_) fd_ = openLockFile(path_);
      if (!fd_) return FileLock::kFailed;
      int rc;
      do {
        rc = ::flock(fd_.get(), LOCK_EX | (wait ? 0 : LOCK_NB));
      } while (rc != 0 && errno == EINTR);
      if (rc != 0) {
        if (!wait && errno == EWOULDBLOCK) return FileLock::kBusy;  // the fd stays for wait()
        fd_.reset();
        return FileLock::kFailed;
      }
      if (stillNamed(fd_.get(), path_)) {
        locked_ = true;
        return FileLock::kAcquired;
      }
      fd_.reset();  // its holder removed it meanwhile: go for the file of that name now
    }
  }

  std::shared_ptr<Table> table_;
  Slot& slot_;  // map nodes stay put; the slot goes only with its last handle
  std::string key_;
  std::string path_;
  std::uint64_t ticket_;
  bool hasTurn_;
  bool inLine_;
  bool locked_ = false;
  Fd fd_;  // the lock file, open only while this handle has the turn
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
  const std::string key = lockFileName(name);
  std::unique_ptr<FlockHandle> handle;
  bool hasTurn = false;
  {
    std::lock_guard lock(table_->mutex);
    Slot& slot = table_->slots[key];
    ++slot.handles;
    hasTurn = !slot.taken && slot.line.empty();
    const std::uint64_t ticket = table_->nextTicket++;
    if (hasTurn) {
      slot.taken = true;
    } else {
      slot.line.push_back(ticket);
    }
    handle =
        std::make_unique<FlockHandle>(table_, slot, key, lockDir_ + "/" + key, ticket, hasTurn);
  }
  if (!hasTurn) {
    alreadyExisted = true;
    return handle;
  }
  switch (handle->tryFirst()) {
    case FileLock::kFailed:
      return nullptr;  // the handle gives its turn back as it goes
    case FileLock::kBusy:
      alreadyExisted = true;  // another process holds it
      break;
    case FileLock::kAcquired:
      break;
  }
  return handle;
}

std::size_t PosixNamedLocks::namesInUse() const {
  std::lock_guard lock(table_->mutex);
  return table_->slots.size();
}

}  // namespace posix
