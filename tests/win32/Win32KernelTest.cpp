// The named lock, the public folder, the page files and the threads against the real
// API under Wine, with a second process where sharing matters.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "WinTestSupport.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32NamedLocks.h"
#include "platform/win32/Win32Notices.h"

namespace {

using wintest::Bytes;

/// A second process that holds a named mutex until released (or ends owning it).
struct MutexHolder {
  MutexHolder(const std::wstring& name, bool keep)
      : process(L"win_helper.exe", L"hold-mutex " + name + L" " + ready.name() + L" " +
                                       release.name() + (keep ? L" keep" : L" abandon")) {}
  wintest::NamedEvent ready{L"spr_ready"};
  wintest::NamedEvent release{L"spr_release"};
  wintest::ChildProcess process;
};

TEST(Win32NamedLocks, CreatorOwnsTheLockAtOnce) {
  win32::Win32NamedLocks locks;
  const std::wstring name = wintest::uniqueName(L"spr_lock");
  bool existed = true;
  auto lock = locks.create(win32::utf16(name), existed);
  ASSERT_NE(lock, nullptr);
  EXPECT_FALSE(existed);
  lock->release();
}

TEST(Win32NamedLocks, SecondProcessWaitsUntilTheHolderReleases) {
  const std::wstring name = wintest::uniqueName(L"spr_lock");
  MutexHolder holder(name, true);
  ASSERT_TRUE(holder.process.started());
  ASSERT_TRUE(holder.ready.waitFor(10000));

  win32::Win32NamedLocks locks;
  bool existed = false;
  auto lock = locks.create(win32::utf16(name), existed);
  ASSERT_NE(lock, nullptr);
  EXPECT_TRUE(existed);  // not owned yet: the caller has to wait

  // Held by the other process: a look without waiting finds it taken.
  win32::UniqueHandle probe(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  ASSERT_TRUE(probe.valid());
  EXPECT_EQ(WaitForSingleObject(probe.get(), 0), DWORD{WAIT_TIMEOUT});

  // A mutex belongs to a thread: the waiter takes it and gives it back, as a run does.
  bool acquired = false;
  std::thread waiter([&] {
    acquired = lock->wait();
    lock->release();
  });
  holder.release.set();
  waiter.join();
  EXPECT_TRUE(acquired);
  EXPECT_EQ(WaitForSingleObject(probe.get(), 0), DWORD{WAIT_OBJECT_0});  // released, not abandoned
  (void)ReleaseMutex(probe.get());
  EXPECT_EQ(holder.process.waitExit(10000), DWORD{0});
}

TEST(Win32NamedLocks, LockOfAnEndedOwnerIsAFailedWait) {
  const std::wstring name = wintest::uniqueName(L"spr_lock");
  MutexHolder holder(name, false);
  ASSERT_TRUE(holder.ready.waitFor(10000));
  win32::Win32NamedLocks locks;
  bool existed = false;
  auto lock = locks.create(win32::utf16(name), existed);
  ASSERT_NE(lock, nullptr);
  EXPECT_TRUE(existed);
  holder.release.set();
  EXPECT_EQ(holder.process.waitExit(10000), DWORD{0});
  EXPECT_FALSE(lock->wait());  // WAIT_ABANDONED
  lock->release();             // the tail releases it all the same
}

TEST(Win32KnownFolders, PublicFolderIsTheDefaultPath) {
  win32::Win32KnownFolders folders;
  std::u16string path;
  std::uint32_t error = 0;
  ASSERT_TRUE(folders.publicFolder(path, error));
  EXPECT_EQ(error, 0u);
  const std::wstring text = win32::wide(path);
  EXPECT_EQ(CompareStringOrdinal(text.c_str(), -1, L"C:\\users\\Public", -1, TRUE), CSTR_EQUAL)
      << path.size();
  EXPECT_NE(GetFileAttributesW(text.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

class Win32PageFilesTest : public ::testing::Test {
 protected:
  std::wstring folder = wintest::makeTempFolder(L"spr_pages");
  std::wstring path = folder + L"\\TIVORAN_0000002A_00000001.bin";
  win32::Win32PageFiles files;
};

TEST_F(Win32PageFilesTest, OpensReadsAndDeletes) {
  const Bytes bytes{0x03, 0x00, 0x00, 0x00, 0x02, 0x1B, 0x00, 0x0A};
  ASSERT_TRUE(wintest::writeFileBytes(path, bytes));
  EXPECT_EQ(files.separator(), u'\\');
  auto file = files.open(win32::utf16(path), std::nullopt);
  ASSERT_NE(file, nullptr);
  std::uint64_t size = 0;
  ASSERT_TRUE(file->size(size));
  EXPECT_EQ(size, bytes.size());
  Bytes block(bytes.size() + 256, 0);
  EXPECT_EQ(file->read(std::span<std::uint8_t>(block).first(bytes.size())), bytes.size());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), block.begin()));

  // Held without sharing: no one else may open or delete it meanwhile.
  EXPECT_EQ(files.open(win32::utf16(path), std::nullopt), nullptr);
  files.remove(win32::utf16(path));
  EXPECT_TRUE(wintest::fileExists(path));
  file.reset();
  files.remove(win32::utf16(path));
  EXPECT_FALSE(wintest::fileExists(path));
}

TEST_F(Win32PageFilesTest, MissingFileOrFolderIsNotThere) {
  EXPECT_EQ(files.open(win32::utf16(path), std::nullopt), nullptr);
  EXPECT_EQ(files.open(win32::utf16(folder), std::nullopt), nullptr);
}

TEST_F(Win32PageFilesTest, FileHeldByItsWriterIsNotThereYet) {
  ASSERT_TRUE(wintest::writeFileBytes(path, Bytes{1, 0, 0, 0, 2, 0x0A}));
  wintest::NamedEvent ready(L"spr_ready");
  wintest::NamedEvent release(L"spr_release");
  wintest::ChildProcess writer(
      L"win_helper.exe", L"hold-file \"" + path + L"\" " + ready.name() + L" " + release.name());
  ASSERT_TRUE(ready.waitFor(10000));
  EXPECT_EQ(files.open(win32::utf16(path), std::nullopt), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  release.set();
  EXPECT_EQ(writer.waitExit(10000), DWORD{0});
  EXPECT_NE(files.open(win32::utf16(path), std::nullopt), nullptr);
}

TEST(Win32Threads, DetachedThreadRunsItsBody) {
  win32::Win32Threads threads;
  wintest::NamedEvent ran(L"spr_ran");
  ASSERT_TRUE(threads.startDetached([&ran] { ran.set(); }));
  EXPECT_TRUE(ran.waitFor(10000));
}

TEST(Win32Threads, KeptThreadIsWaitedForWithATimeLimit) {
  win32::Win32Threads threads;
  wintest::NamedEvent go(L"spr_go");
  std::atomic<std::uint32_t> sum{0};
  auto handle = threads.start([&] {
    (void)go.waitFor(INFINITE);
    // The 4096-byte request is a commit size: the stack grows past it on demand.
    volatile std::uint8_t deep[16 * 1024];
    for (std::size_t i = 0; i < sizeof deep; ++i) deep[i] = static_cast<std::uint8_t>(i);
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < sizeof deep; ++i) total += deep[i];
    sum = total;
  });
  ASSERT_NE(handle, nullptr);
  EXPECT_FALSE(handle->waitFor(0));  // still waiting for `go`
  go.set();
  EXPECT_TRUE(handle->waitFor(10000));
  EXPECT_EQ(sum, 64u * (255u * 256u / 2));  // 64 rounds of 0..255
}

}  // namespace
