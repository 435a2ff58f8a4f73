// Named locks shared by every process of the user: the printer lock of a job.
#pragma once

#include <memory>
#include <string_view>

namespace platform {

/// One handle on a named lock. Destroying it closes the handle (not a release).
class NamedLockHandle {
 public:
  virtual ~NamedLockHandle() = default;
  /// Waits without a time limit; true only when the lock was acquired (a lock whose
  /// previous owner ended without releasing it, or a failed wait, gives false).
  virtual bool wait() = 0;
  virtual void release() = 0;
};

class NamedLocks {
 public:
  virtual ~NamedLocks() = default;
  /// Creates or opens the lock `name`, asking to own it at once. When it already existed,
  /// `alreadyExisted` is set and ownership is not granted: the caller waits. Null when
  /// no handle can be had.
  virtual std::unique_ptr<NamedLockHandle> create(std::u16string_view name,
                                                  bool& alreadyExisted) = 0;
};

}  // namespace platform
