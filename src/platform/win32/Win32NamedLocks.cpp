#include "platform/win32/Win32NamedLocks.h"

#include "platform/win32/Win32Handle.h"

namespace win32 {
namespace {

class Win32LockHandle : public platform::NamedLockHandle {
 public:
  explicit Win32LockHandle(UniqueHandle mutex) : mutex_(std::move(mutex)) {}

  /// Only WAIT_OBJECT_0 counts: WAIT_ABANDONED grants the mutex too, but it means the
  /// previous owner died mid-job, which the runner treats as a failed wait.
  bool wait() override { return WaitForSingleObject(mutex_.get(), INFINITE) == WAIT_OBJECT_0; }
  void release() override { (void)ReleaseMutex(mutex_.get()); }

 private:
  UniqueHandle mutex_;
};

}  // namespace

std::unique_ptr<platform::NamedLockHandle> Win32NamedLocks::create(std::u16string_view name,
                                                                   bool& alreadyExisted) {
  const std::wstring text = wide(name);
  UniqueHandle mutex(CreateMutexW(nullptr, TRUE, text.c_str()));
  if (!mutex) return nullptr;
  alreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
  return std::make_unique<Win32LockHandle>(std::move(mutex));
}

}  // namespace win32
