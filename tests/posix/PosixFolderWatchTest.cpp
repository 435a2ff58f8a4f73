// The inotify watch on the folder of the page files. A wait that a change should end is
// given a long time limit: only a broken watch would wait it out, and nothing here
// depends on how long anything takes.
#include <gtest/gtest.h>
#include <stdio.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "base/Utf.h"
#include "fakes/FakePlatform.h"
#include "platform/posix/PosixPageFiles.h"
#include "posix/TempDir.h"

namespace {

constexpr std::uint32_t kGenerousMs = 60'000;

std::size_t openDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

class PosixFolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    dir.makeDir("spool");
    dir.makeDir("staging");
  }
  std::u16string folder() { return base::toUtf16(dir / "spool"); }

  posixtest::TempDir dir;
  fakes::FakeClock clock;  // sleeps the waits on a folder that cannot be watched
  posix::PosixPageFiles files{clock};
};

TEST_F(PosixFolderWatchTest, RenameIntoPlaceWakesAWaiterAtOnce) {
  dir.write("staging/page.bin", "data");
  auto watch = files.watchFolder(folder());
  std::promise<void> waiting;
  auto woke = std::async(std::launch::async, [&] {
    waiting.set_value();
    return watch->waitForChange(kGenerousMs);
  });
  waiting.get_future().wait();
  ASSERT_EQ(::rename((dir / "staging/page.bin").c_str(), (dir / "spool/page.bin").c_str()), 0);
  ASSERT_EQ(woke.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(woke.get());
  EXPECT_TRUE(clock.sleeps.empty());  // woken by the change, not polled
}

TEST_F(PosixFolderWatchTest, FileClosedAfterWritingIsAChangeSeenOnce) {
  auto watch = files.watchFolder(folder());
  dir.write("spool/page.bin", "data");
  EXPECT_TRUE(watch->waitForChange(kGenerousMs));
  // Seen: the next wait finds nothing new.
  EXPECT_FALSE(watch->waitForChange(0));
  // A change between two waits is not lost.
  dir.write("spool/other.bin", "data");
  EXPECT_TRUE(watch->waitForChange(kGenerousMs));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(PosixFolderWatchTest, AllRunsShareOneWatchAndEachSeesTheChange) {
  dir.write("staging/page.bin", "data");
  auto first = files.watchFolder(folder());
  const std::size_t descriptors = openDescriptors();
  auto second = files.watchFolder(folder());
  EXPECT_EQ(openDescriptors(), descriptors);  // no second inotify instance
  // Two runs waiting at once: one reads the watch, the other waits for what it reads.
  std::promise<void> firstWaiting;
  std::promise<void> secondWaiting;
  auto firstWoke = std::async(std::launch::async, [&] {
    firstWaiting.set_value();
    return first->waitForChange(kGenerousMs);
  });
  auto secondWoke = std::async(std::launch::async, [&] {
    secondWaiting.set_value();
    return second->waitForChange(kGenerousMs);
  });
  firstWaiting.get_future().wait();
  secondWaiting.get_future().wait();
  ASSERT_EQ(::rename((dir / "staging/page.bin").c_str(), (dir / "spool/page.bin").c_str()), 0);
  ASSERT_EQ(firstWoke.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  ASSERT_EQ(secondWoke.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(firstWoke.get());
  EXPECT_TRUE(secondWoke.get());
  // A third run made later still sees later changes.
  auto third = files.watchFolder(folder());
  dir.write("spool/other.bin", "data");
  EXPECT_TRUE(third->waitForChange(kGenerousMs));
  EXPECT_TRUE(first->waitForChange(kGenerousMs));
}

TEST_F(PosixFolderWatchTest, FolderThatCannotBeWatchedIsPolled) {
  auto missing = files.watchFolder(base::toUtf16(dir / "missing"));
  EXPECT_FALSE(missing->waitForChange(100));
  dir.write("plain", "");
  auto notAFolder = files.watchFolder(base::toUtf16(dir / "plain"));
  EXPECT_FALSE(notAFolder->waitForChange(100));
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{100, 100}));
}

TEST_F(PosixFolderWatchTest, RemovedFolderFallsBackToPollingUntilWatchedAgain) {
  auto watch = files.watchFolder(folder());
  ASSERT_TRUE(std::filesystem::remove(dir / "spool"));
  // The kernel drops the watch. That wakes a waiter, or, once it has been read, the
  // wait polls on the clock; either way this returns at once, and from then on it polls.
  (void)watch->waitForChange(kGenerousMs);
  clock.sleeps.clear();
  EXPECT_FALSE(watch->waitForChange(100));
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{100}));

  dir.makeDir("spool");
  auto again = files.watchFolder(folder());
  dir.write("spool/page.bin", "data");
  EXPECT_TRUE(again->waitForChange(kGenerousMs));
  EXPECT_EQ(clock.sleeps.size(), 1u);
}

}  // namespace
