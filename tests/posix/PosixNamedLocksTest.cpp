#include "platform/posix/PosixNamedLocks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "base/Utf.h"

#include "posix/TempDir.h"

namespace {

using posix::PosixNamedLocks;
using posixtest::TempDir;

class PosixNamedLocksTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }

  /// True when a fresh handle on `name` gets the lock at once (and then lets it go).
  bool isFree(std::u16string_view name) {
    bool existed = true;
    auto probe = locks.create(name, existed);
    if (probe && !existed) probe->release();
    return probe && !existed;
  }

  TempDir dir;
  PosixNamedLocks locks{dir.path()};
};

TEST_F(PosixNamedLocksTest, SecondHandleWaitsUntilTheFirstReleases) {
  bool existed = true;
  auto first = locks.create(u"printer", existed);
  ASSERT_TRUE(first);
  EXPECT_FALSE(existed);

  auto second = locks.create(u"printer", existed);
  ASSERT_TRUE(second);
  EXPECT_TRUE(existed);

  // The wait may start before or after the release; either way it ends owning the lock.
  bool acquired = false;
  std::thread waiter([&] { acquired = second->wait(); });
  first->release();
  waiter.join();
  EXPECT_TRUE(acquired);

  EXPECT_FALSE(isFree(u"printer"));  // the second handle holds it now
  second->release();
  EXPECT_TRUE(isFree(u"printer"));
}

TEST_F(PosixNamedLocksTest, ClosingAHandleLetsTheLockGo) {
  bool existed = true;
  auto held = locks.create(u"printer", existed);
  ASSERT_TRUE(held);
  EXPECT_FALSE(isFree(u"printer"));
  held.reset();
  EXPECT_TRUE(isFree(u"printer"));
}

TEST_F(PosixNamedLocksTest, DifferentNamesDoNotExcludeEachOther) {
  bool existed = true;
  auto a = locks.create(u"A", existed);
  ASSERT_TRUE(a);
  EXPECT_FALSE(existed);
  auto b = locks.create(u"B", existed);
  ASSERT_TRUE(b);
  EXPECT_FALSE(existed);
  // Names that differ only past the point where the file name would be cut, or by a
  // lone surrogate against U+FFFD, stay apart too.
  const std::u16string longName(300, u'x');
  auto longA = locks.create(longName + u"1", existed);
  ASSERT_TRUE(longA);
  EXPECT_TRUE(isFree(longName + u"2"));
  auto lone = locks.create(std::u16string{u'p', char16_t{0xD800}}, existed);
  ASSERT_TRUE(lone);
  EXPECT_TRUE(isFree(u"p\uFFFD"));
}

TEST_F(PosixNamedLocksTest, LockFileNames) {
  EXPECT_EQ(PosixNamedLocks::lockFileName(u"{5E21C7D4}_41042043"), "{5E21C7D4}_41042043.lock");
  EXPECT_EQ(PosixNamedLocks::lockFileName(u"caf\u00e9"), "caf\xC3\xA9.lock");
  EXPECT_EQ(PosixNamedLocks::lockFileName(std::u16string(250, u'n')),
            std::string(250, 'n') + ".lock");
  // SHA-256 of the UTF-16LE bytes 61 00 2F 00 62 00 ("a/b"), from sha256sum.
  EXPECT_EQ(PosixNamedLocks::lockFileName(u"a/b"),
            "6df7cee24c7627c8517c73bf5f10ca677e10b658aa2e6b9c44e2804abebd5671.sha256");
  // 251 bytes and ".lock" would pass 255 bytes.
  const std::string hashed = PosixNamedLocks::lockFileName(std::u16string(251, u'n'));
  EXPECT_EQ(hashed.size(), 64u + 7);
  EXPECT_EQ(hashed.substr(64), ".sha256");

  bool existed = true;
  auto lock = locks.create(u"a/b", existed);
  ASSERT_TRUE(lock);
  EXPECT_EQ(dir.list(""), std::vector<std::string>{PosixNamedLocks::lockFileName(u"a/b")});
}

std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

// However many runs wait for one printer, only the first in line has its lock file open.
TEST_F(PosixNamedLocksTest, HandlesWaitingInThisProcessHoldNoDescriptor) {
  const std::size_t before = openDescriptors();
  bool existed = true;
  auto first = locks.create(u"printer", existed);
  ASSERT_TRUE(first);
  EXPECT_FALSE(existed);
  std::vector<std::unique_ptr<platform::NamedLockHandle>> waiting;
  for (int i = 0; i < 50; ++i) {
    waiting.push_back(locks.create(u"printer", existed));
    ASSERT_TRUE(waiting.back());
    EXPECT_TRUE(existed);
  }
  EXPECT_EQ(openDescriptors(), before + 1);
  EXPECT_EQ(locks.namesInUse(), 1u);
  waiting.clear();
  first.reset();
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(locks.namesInUse(), 0u);
}

TEST_F(PosixNamedLocksTest, HandlesOfThisProcessGetTheLockInTheOrderCreated) {
  bool existed = true;
  auto first = locks.create(u"printer", existed);
  auto second = locks.create(u"printer", existed);
  auto third = locks.create(u"printer", existed);
  std::mutex mutex;
  std::vector<int> order;
  auto take = [&](platform::NamedLockHandle& handle, int n) {
    return std::thread([&, n] {
      EXPECT_TRUE(handle.wait());
      std::lock_guard lock(mutex);
      order.push_back(n);
    });
  };
  std::thread t3 = take(*third, 3);  // waits first, but stands behind the second
  std::thread t2 = take(*second, 2);
  first->release();
  t2.join();
  EXPECT_EQ(order, std::vector<int>{2});
  second->release();
  t3.join();
  EXPECT_EQ(order, (std::vector<int>{2, 3}));
}

// A lock file exists only while its lock is held, so names that never were printers
// leave nothing behind; and it is the relay's alone.
TEST_F(PosixNamedLocksTest, LockFilesGoWithTheirLocks) {
  bool existed = true;
  for (int i = 0; i < 100; ++i) {
    auto lock = locks.create(u"no such printer " + base::toUtf16(std::to_string(i)), existed);
    ASSERT_TRUE(lock);
    lock->release();
  }
  auto held = locks.create(u"printer", existed);
  ASSERT_TRUE(held);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "printer.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(dir.list(""), std::vector<std::string>{"printer.lock"});
  held.reset();  // closing without a release lets it go as well
  EXPECT_TRUE(dir.list("").empty());
}

// Another process that waited on the file its holder then removed goes for the file that
// has the name afterwards, so two holders never meet.
TEST_F(PosixNamedLocksTest, WaiterOnARemovedLockFileTakesTheNamedOne) {
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  // The child is made before the lock is taken, so it inherits no descriptor of it.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char go = 0;
    (void)::read(toChild[0], &go, 1);
    PosixNamedLocks own(dir.path());  // a table of its own, as another relay's
    bool busy = false;
    auto mine = own.create(u"printer", busy);  // opens the file the parent holds
    (void)::write(toParent[1], "w", 1);
    const bool got = mine && busy && mine->wait();
    ::_exit(got && dir.exists("printer.lock") ? 0 : 1);  // holds it until it ends
  }
  bool existed = true;
  auto held = locks.create(u"printer", existed);
  ASSERT_TRUE(held);
  ASSERT_EQ(::write(toChild[1], "g", 1), 1);
  char c = 0;
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  held->release();  // removes the file the child opened and waits on
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(isFree(u"printer"));
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

// What stands at a lock path in place of a file makes the lock fail, never hang.
TEST_F(PosixNamedLocksTest, FifoOrLinkAtALockPathGivesNoHandle) {
  ASSERT_EQ(::mkfifo((dir / "fifo.lock").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "link.lock").c_str()), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(10);  // a hanging open ends the child, and fails the test
    bool existed = true;
    const bool none =
        locks.create(u"fifo", existed) == nullptr && locks.create(u"link", existed) == nullptr;
    ::_exit(none ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_FALSE(dir.exists("elsewhere"));
}

TEST_F(PosixNamedLocksTest, MissingLockFolderGivesNoHandle) {
  PosixNamedLocks nowhere(dir / "missing");
  bool existed = true;
  EXPECT_EQ(nowhere.create(u"printer", existed), nullptr);
}

// The kernel drops the lock of a process that ends without releasing it.
TEST_F(PosixNamedLocksTest, LockOfAnEndedProcessIsFree) {
  int toParent[2], toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool existed = true;
    auto held = locks.create(u"printer", existed);
    const char got = held && !existed ? 'y' : 'n';
    (void)::write(toParent[1], &got, 1);
    char go;
    (void)::read(toChild[0], &go, 1);  // hold the lock until the parent has looked
    ::_exit(0);
  }
  char got = 0;
  ASSERT_EQ(::read(toParent[0], &got, 1), 1);
  EXPECT_EQ(got, 'y');
  EXPECT_FALSE(isFree(u"printer"));
  (void)::write(toChild[1], "x", 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(isFree(u"printer"));
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
}

}  // namespace
