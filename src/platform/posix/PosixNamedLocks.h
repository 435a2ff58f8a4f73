// Named locks as flock() locks on files in a lock folder that only the relay may use: the
// kernel lets a lock go when the process that held it ends, however it ends.
//
// In front of the files stands a table of this process's handles per name: of the
// handles of one name only the first in line opens the lock file, so runs that wait for
// a printer hold no descriptor. A lock file exists only while its lock is held; the last
// holder removes it, and whoever gets a lock checks that its file still has that name.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/NamedLock.h"

namespace posix {

class PosixNamedLocks : public platform::NamedLocks {
 public:
  /// Lock files are created in `lockDir`, which must exist.
  explicit PosixNamedLocks(std::string lockDir);

  /// Takes the lock of `name` at once when no other handle of this process is in line
  /// for it and no other process holds it; otherwise `alreadyExisted` is set and the
  /// handle waits in wait(). Two handles of one process exclude each other as handles
  /// of two processes do; in this process they get the lock in the order created. Null
  /// when the lock file can't be opened, or is not a regular file.
  std::unique_ptr<platform::NamedLockHandle> create(std::u16string_view name,
                                                    bool& alreadyExisted) override;

  /// The lock file's name for `name`: the name in UTF-8 followed by ".lock" when that is
  /// a plain file name of at most 255 bytes that maps back to the same name; otherwise
  /// the SHA-256 of the name's UTF-16LE bytes in hexadecimal followed by ".sha256". The
  /// two forms can't meet, since only the first ends in ".lock".
  static std::string lockFileName(std::u16string_view name);

  /// How many names have handles in this process now.
  std::size_t namesInUse() const;

  /// The handles of one name in this process.
  struct Slot {
    std::condition_variable turn;    // signalled when the lock passes in this process
    std::deque<std::uint64_t> line;  // handles waiting for their turn, first in front
    bool taken = false;              // a handle holds the lock file, or is getting its lock
    int handles = 0;
  };
  struct Table {
    mutable std::mutex mutex;
    std::map<std::string, Slot> slots;  // by lock file name
    std::uint64_t nextTicket = 0;
  };

 private:
  std::string lockDir_;
  std::shared_ptr<Table> table_ = std::make_shared<Table>();
};

}  // namespace posix
