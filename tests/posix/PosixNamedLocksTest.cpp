#include "platform/posix/PosixNamedLocks.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

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
