#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "base/Utf.h"
#include "platform/posix/Fd.h"
#include "platform/posix/PosixIo.h"
#include "platform/posix/PosixKnownFolders.h"
#include "platform/posix/PosixPageFiles.h"
#include "posix/TempDir.h"

namespace {

using posix::Fd;
using posixtest::TempDir;

class PosixPageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }
  std::u16string path(const std::string& name) { return base::toUtf16(dir / name); }

  TempDir dir;
  posix::PosixPageFiles files;
};

TEST_F(PosixPageFilesTest, ReadsSizeAndBytesFromTheStart) {
  dir.write("page.bin", "0123456789");
  auto file = files.open(path("page.bin"), std::nullopt);
  ASSERT_TRUE(file);
  std::uint64_t size = 0;
  ASSERT_TRUE(file->size(size));
  EXPECT_EQ(size, 10u);

  std::vector<std::uint8_t> part(4, 0xEE);
  EXPECT_EQ(file->read(part), 4u);
  EXPECT_EQ(part, posixtest::bytesOf("0123"));
  // Every read starts from the beginning; a larger buffer keeps its bytes past the file.
  std::vector<std::uint8_t> all(12, 0xEE);
  EXPECT_EQ(file->read(all), 10u);
  EXPECT_EQ(all, posixtest::bytesOf("0123456789\xEE\xEE"));
  EXPECT_EQ(files.separator(), u'/');
}

TEST_F(PosixPageFilesTest, EmptyFileOpensWithSizeZero) {
  dir.write("empty.bin", "");
  auto file = files.open(path("empty.bin"), std::nullopt);
  ASSERT_TRUE(file);
  std::uint64_t size = 1;
  ASSERT_TRUE(file->size(size));
  EXPECT_EQ(size, 0u);
  std::vector<std::uint8_t> buffer(8);
  EXPECT_EQ(file->read(buffer), 0u);
}

TEST_F(PosixPageFilesTest, FileLockedByItsWriterIsNotThereYet) {
  dir.write("page.bin", "data");
  Fd writer(::open((dir / "page.bin").c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(writer);
  ASSERT_EQ(::flock(writer.get(), LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(files.open(path("page.bin"), std::nullopt), nullptr);
  ASSERT_EQ(::flock(writer.get(), LOCK_UN), 0);
  EXPECT_NE(files.open(path("page.bin"), std::nullopt), nullptr);
}

TEST_F(PosixPageFilesTest, OpenFileIsHeldAgainstWritersAndOtherReaders) {
  dir.write("page.bin", "data");
  auto file = files.open(path("page.bin"), std::nullopt);
  ASSERT_TRUE(file);
  Fd writer(::open((dir / "page.bin").c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(writer);
  EXPECT_NE(::flock(writer.get(), LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(files.open(path("page.bin"), std::nullopt), nullptr);
  file.reset();
  EXPECT_EQ(::flock(writer.get(), LOCK_EX | LOCK_NB), 0);
}

TEST_F(PosixPageFilesTest, OnlyRegularFilesCount) {
  dir.write("target.bin", "data");
  ASSERT_EQ(::symlink((dir / "target.bin").c_str(), (dir / "link.bin").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo.bin").c_str(), 0600), 0);
  dir.makeDir("folder.bin");
  EXPECT_EQ(files.open(path("link.bin"), std::nullopt), nullptr);
  EXPECT_EQ(files.open(path("fifo.bin"), std::nullopt), nullptr);  // and the open does not block
  EXPECT_EQ(files.open(path("folder.bin"), std::nullopt), nullptr);
  EXPECT_EQ(files.open(path("missing.bin"), std::nullopt), nullptr);
  EXPECT_NE(files.open(path("target.bin"), std::nullopt), nullptr);
}

// Who posted the notice decides whose page files it may have printed. Changing owners
// needs root; the uids need no accounts.
TEST_F(PosixPageFilesTest, FileOfAnotherAccountIsNotThereYet) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
  constexpr std::uint32_t kOwner = 4242, kOther = 65534, kRoot = 0;
  dir.write("owned.bin", "data");
  dir.write("roots.bin", "data");
  ASSERT_EQ(::chown((dir / "owned.bin").c_str(), kOwner, kOwner), 0);

  EXPECT_EQ(files.open(path("owned.bin"), kOther), nullptr);
  // A refused file is left unlocked for its writer.
  Fd writer(::open((dir / "owned.bin").c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(::flock(writer.get(), LOCK_EX | LOCK_NB), 0);
  writer.reset();

  EXPECT_NE(files.open(path("owned.bin"), kOwner), nullptr);
  EXPECT_NE(files.open(path("owned.bin"), kRoot), nullptr);         // root reaches every job
  EXPECT_NE(files.open(path("owned.bin"), std::nullopt), nullptr);  // no sender told
  EXPECT_NE(files.open(path("roots.bin"), kOther), nullptr);        // root's files serve all
}

TEST_F(PosixPageFilesTest, RemoveDeletesTheFile) {
  dir.write("page.bin", "data");
  files.remove(path("page.bin"));
  EXPECT_FALSE(dir.exists("page.bin"));
  files.remove(path("page.bin"));  // a missing file is no failure worth reporting
}

// Both ways of opening below a folder: the kernel's openat2() and the walk that stands in
// for it on older kernels.
TEST(OpenBeneath, NeverFollowsALinkNorLeavesTheFolder) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  dir.makeDir("base/sub");
  dir.write("base/sub/file", "x");
  dir.write("outside", "x");
  ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "base/link").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "base/sub").c_str(), (dir / "base/sublink").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "base/fifo").c_str(), 0600), 0);
  Fd base(::open((dir / "base").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(base);
  for (auto open : {&posix::openBeneath, &posix::openBeneathStepwise}) {
    EXPECT_TRUE(Fd(open(base.get(), "sub/file", O_RDONLY, 0)).valid());
    EXPECT_TRUE(Fd(open(base.get(), "sub", O_RDONLY | O_DIRECTORY, 0)).valid());
    EXPECT_TRUE(Fd(open(base.get(), "fifo", O_RDONLY, 0)).valid());  // and it does not block
    for (const char* refused : {"link", "sublink/file", "sublink", "../outside", "/etc/passwd"}) {
      EXPECT_FALSE(Fd(open(base.get(), refused, O_RDONLY, 0)).valid()) << refused;
    }
    errno = 0;
    EXPECT_FALSE(Fd(open(base.get(), "link", O_RDONLY, 0)).valid());
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(Fd(open(base.get(), "link", O_WRONLY | O_CREAT, 0600)).valid());
  }
  EXPECT_EQ(dir.read("outside"), "x");
  EXPECT_TRUE(posix::existsAt(base.get(), "link"));  // a link as the last name exists
  EXPECT_FALSE(posix::existsAt(base.get(), "sublink/file"));
}

TEST(PosixKnownFolders, GivesTheConfiguredFolder) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  dir.makeDir("Public \u00c9");
  dir.write("file", "");

  posix::PosixKnownFolders folders(dir / "Public \u00c9");
  std::u16string path;
  std::uint32_t error = 0;
  ASSERT_TRUE(folders.publicFolder(path, error));
  EXPECT_EQ(path, base::toUtf16(dir.path()) + u"/Public \u00c9");

  posix::PosixKnownFolders missing(dir / "missing");
  EXPECT_FALSE(missing.publicFolder(path, error));
  EXPECT_EQ(error, 2u);
  posix::PosixKnownFolders notAFolder(dir / "file");
  EXPECT_FALSE(notAFolder.publicFolder(path, error));
  EXPECT_EQ(error, 267u);
}

}  // namespace
