// The clock, the debug output and the threads of the POSIX layer.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/Fd.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/PosixThreads.h"
#include "platform/posix/StderrDebugOutput.h"

namespace {

using posix::Fd;

/// A flag one thread raises and another waits for.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

std::atomic<int> signalsSeen{0};
extern "C" void countSignal(int) {
  signalsSeen.fetch_add(1);
}

// The only real sleep of these tests: it is the thing under test. Signals keep
// interrupting it, and it still lasts the whole time asked for, and no longer than a
// moment more (restarting a relative sleep with the time left would never end here).
TEST(PosixClock, SleepLastsTheWholeTimeThroughSignals) {
  struct sigaction action {
  }, previous{};
  action.sa_handler = countSignal;
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
  const pthread_t sleeper = ::pthread_self();
  std::atomic<bool> done{false};
  std::thread interrupter([&] {
    while (!done.load()) {
      ::pthread_kill(sleeper, SIGUSR2);
      std::this_thread::yield();
    }
  });
  while (signalsSeen.load() == 0) std::this_thread::yield();

  posix::PosixClock clock;
  const int before = signalsSeen.load();
  const std::uint64_t start = clock.nowMs();
  clock.sleepMs(30);
  const std::uint64_t elapsed = clock.nowMs() - start;
  const int during = signalsSeen.load() - before;
  done = true;
  interrupter.join();
  ::sigaction(SIGUSR2, &previous, nullptr);

  EXPECT_GE(elapsed, 30u);
  EXPECT_LT(elapsed, 5'000u);
  EXPECT_GT(during, 0);  // the sleep was in fact interrupted
}

TEST(StderrDebugOutput, ConcurrentLinesArriveWhole) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd readEnd(ends[0]), writeEnd(ends[1]);
  posix::StderrDebugOutput output(writeEnd.get());

  constexpr int kLines = 500;
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0) {
      received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  const std::string a = "OpenPrinter Error \n";
  const std::string b = std::string(200, 'b') + " \n";
  std::thread other([&] {
    for (int i = 0; i < kLines; ++i) output.write(b);
  });
  for (int i = 0; i < kLines; ++i) output.write(a);
  other.join();
  writeEnd.reset();
  reader.join();

  int as = 0, bs = 0;
  for (std::size_t at = 0; at < received.size();) {
    const std::size_t end = received.find('\n', at) + 1;
    const std::string line = received.substr(at, end - at);
    as += line == a;
    bs += line == b;
    ASSERT_TRUE(line == a || line == b) << line;
    at = end;
  }
  EXPECT_EQ(as, kLines);
  EXPECT_EQ(bs, kLines);
}

TEST(PosixThreads, HandleSeesTheEndOfItsThread) {
  posix::PosixThreads threads;
  Gate release, ran;
  auto handle = threads.start([&] {
    release.wait();
    ran.open();
  });
  ASSERT_TRUE(handle);
  EXPECT_FALSE(handle->waitFor(0));
  release.open();
  ran.wait();
  EXPECT_TRUE(handle->waitFor(60'000));
  EXPECT_TRUE(handle->waitFor(0));
}

TEST(PosixThreads, HandleMayGoBeforeItsThread) {
  posix::PosixThreads threads;
  Gate release, ran;
  auto handle = threads.start([&] {
    release.wait();
    ran.open();
  });
  ASSERT_TRUE(handle);
  handle.reset();
  release.open();
  ran.wait();
}

TEST(PosixThreads, DetachedThreadRunsWithAOneMebibyteStack) {
  posix::PosixThreads threads;
  Gate ran;
  std::size_t stackSize = 0;
  ASSERT_TRUE(threads.startDetached([&] {
    pthread_attr_t attr;
    if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
      (void)::pthread_attr_getstacksize(&attr, &stackSize);
      ::pthread_attr_destroy(&attr);
    }
    ran.open();
  }));
  ran.wait();
  EXPECT_GE(stackSize, posix::PosixThreads::kStackSize);
  EXPECT_LT(stackSize, 2 * posix::PosixThreads::kStackSize);
}

}  // namespace
