// Named locks on Windows: named mutexes of the session.
#pragma once

#include "platform/NamedLock.h"

namespace win32 {

/// CreateMutexW(NULL, TRUE, name): the creator owns the mutex at once; a process that
/// finds it existing (ERROR_ALREADY_EXISTS) waits for it with WaitForSingleObject.
class Win32NamedLocks : public platform::NamedLocks {
 public:
  std::unique_ptr<platform::NamedLockHandle> create(std::u16string_view name,
                                                    bool& alreadyExisted) override;
};

}  // namespace win32
