// The change notification on the folder of the page files, under Wine. A wait that a
// change should end is given a long time limit: only a broken watch would wait it out,
// and nothing here depends on how long anything takes.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "WinTestSupport.h"
#include "fakes/FakePlatform.h"
#include "platform/win32/Win32Files.h"

namespace {

using wintest::Bytes;

constexpr std::uint32_t kGenerousMs = 60'000;

class Win32FolderWatchTest : public ::testing::Test {
 protected:
  std::wstring folder = wintest::makeTempFolder(L"spr_watch");
  std::wstring staging = wintest::makeTempFolder(L"spr_staging");
  fakes::FakeClock clock;  // sleeps the waits on a folder that cannot be watched
  win32::Win32PageFiles files{clock};
};

TEST_F(Win32FolderWatchTest, RenameIntoPlaceWakesAWaiterAtOnce) {
  const std::wstring written = staging + L"\\TIVORAN_0000002A_00000001.bin";
  const std::wstring placed = folder + L"\\TIVORAN_0000002A_00000001.bin";
  ASSERT_TRUE(wintest::writeFileBytes(written, Bytes{1, 0, 0, 0, 2, 0x0A}));
  auto watch = files.watchFolder(win32::utf16(folder));
  std::promise<void> waiting;
  auto woke = std::async(std::launch::async, [&] {
    waiting.set_value();
    return watch->waitForChange(kGenerousMs);
  });
  waiting.get_future().wait();
  ASSERT_TRUE(MoveFileW(written.c_str(), placed.c_str()));
  ASSERT_EQ(woke.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(woke.get());
  EXPECT_TRUE(clock.sleeps.empty());  // woken by the change, not polled
}

TEST_F(Win32FolderWatchTest, FileWrittenIsAChangeAndTwoRunsShareTheWatch) {
  auto first = files.watchFolder(win32::utf16(folder));
  auto second = files.watchFolder(win32::utf16(folder));
  ASSERT_TRUE(wintest::writeFileBytes(folder + L"\\page.bin", Bytes{1, 0, 0, 0, 2, 0x0A}));
  EXPECT_TRUE(first->waitForChange(kGenerousMs));
  EXPECT_TRUE(second->waitForChange(kGenerousMs));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(Win32FolderWatchTest, FolderThatCannotBeWatchedIsPolled) {
  auto missing = files.watchFolder(win32::utf16(folder + L"\\missing"));
  EXPECT_FALSE(missing->waitForChange(100));
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{100}));
}

}  // namespace
