// Detached pthreads with a stack request, and handles that wait for their end.
#include "platform/posix/PosixThreads.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace posix {
namespace {

/// What a thread and its handle share: set once the body has returned.
struct EndState {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
};

class PosixThreadHandle : public platform::ThreadHandle {
 public:
  explicit PosixThreadHandle(std::shared_ptr<EndState> state) : state_(std::move(state)) {}

  bool waitFor(std::uint32_t ms) override {
    std::unique_lock lock(state_->mutex);
    return state_->ended.wait_for(lock, std::chrono::milliseconds(ms),
                                  [this] { return state_->done; });
  }

 private:
  std::shared_ptr<EndState> state_;
};

extern "C" void* runBody(void* arg) {
  // The thread owns its body from here on and destroys it when the body returns.
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}

/// Starts `body` on a detached thread with the stack request; false when that fails,
/// in which case the body is destroyed unrun.
bool startThread(std::function<void()> body) {
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return false;
  (void)::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  (void)::pthread_attr_setstacksize(&attr, PosixThreads::kStackSize);
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  const int rc = ::pthread_create(&thread, &attr, runBody, owned.get());
  (void)::pthread_attr_destroy(&attr);
  if (rc != 0) return false;
  (void)owned.release();  // runBody owns it now
  return true;
}

}  // namespace

bool PosixThreads::startDetached(std::function<void()> body) {
  return startThread(std::move(body));
}

std::unique_ptr<platform::ThreadHandle> PosixThreads::start(std::function<void()> body) {
  auto state = std::make_shared<EndState>();
  auto marked = [body = std::move(body), state] {
    body();
    std::lock_guard lock(state->mutex);
    state->done = true;
    state->ended.notify_all();
  };
  if (!startThread(std::move(marked))) return nullptr;
  return std::make_unique<PosixThreadHandle>(std::move(state));
}

}  // namespace posix
