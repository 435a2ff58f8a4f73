#include "platform/posix/SocketNoticeEndpoint.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::ReadResult;
using posix::postNotice;
using posix::SocketNoticeEndpoint;

/// A name no other test process uses at the same time.
std::string uniqueName() {
  static int count = 0;
  return "spoolrelayer-test-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
}

std::vector<std::uint8_t> message(std::size_t size, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

/// Reads one notice on a thread of its own, and tells when that thread is asleep in the
/// read, found from its state in /proc rather than by waiting a while.
class BackgroundRead {
 public:
  explicit BackgroundRead(platform::NoticeReader& reader)
      : thread_([this, &reader] {
          tid_ = ::gettid();
          std::optional<std::uint32_t> sender;
          result_ = reader.read(block_, sender);
        }) {}
  ~BackgroundRead() {
    if (thread_.joinable()) thread_.join();
  }

  void waitUntilBlocked() {
    while (tid_.load() == 0 || !sleeping()) std::this_thread::yield();
  }
  ReadResult result() {
    thread_.join();
    return result_;
  }
  const std::vector<std::uint8_t>& block() const { return block_; }

 private:
  bool sleeping() const {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid_.load()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t paren = text.rfind(')');  // the state follows the command name
    return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'S';
  }

  std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(552, 0);
  std::atomic<pid_t> tid_{0};
  ReadResult result_ = ReadResult::kFailed;
  std::thread thread_;
};

class SocketNoticeEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::uint32_t error = 0;
    reader = endpoint.create(error);
    ASSERT_TRUE(reader) << error;
  }

  ReadResult read(std::vector<std::uint8_t>& block) { return reader->read(block, sender); }

  std::string name = uniqueName();
  SocketNoticeEndpoint endpoint{name};
  std::unique_ptr<platform::NoticeReader> reader;
  std::optional<std::uint32_t> sender;
};

TEST_F(SocketNoticeEndpointTest, OnlyOneReaderHoldsTheName) {
  SocketNoticeEndpoint second(name);
  std::uint32_t error = 0;
  EXPECT_EQ(second.create(error), nullptr);
  EXPECT_EQ(error, 183u);
  // Once the first lets go, the name is free again.
  reader.reset();
  EXPECT_NE(second.create(error), nullptr);
}

TEST_F(SocketNoticeEndpointTest, WholeAndShortNoticesKeepTheRestOfTheBlock) {
  const auto full = message(552, 1);
  const auto shorter = message(524, 7);
  ASSERT_TRUE(postNotice(name, full));
  ASSERT_TRUE(postNotice(name, shorter));

  std::vector<std::uint8_t> block(552, 0);
  EXPECT_EQ(read(block), ReadResult::kMessage);
  EXPECT_EQ(block, full);
  block.assign(552, 0);
  EXPECT_EQ(read(block), ReadResult::kMessage);
  EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), block.begin()));
  EXPECT_EQ(block[524], 0);
  EXPECT_EQ(block[551], 0);
}

TEST_F(SocketNoticeEndpointTest, OversizedNoticeFailsOneReadAndIsGone) {
  ASSERT_TRUE(postNotice(name, message(553, 9)));
  ASSERT_TRUE(postNotice(name, message(552, 3)));
  std::vector<std::uint8_t> block(552, 0);
  EXPECT_EQ(read(block), ReadResult::kFailed);
  EXPECT_EQ(block, std::vector<std::uint8_t>(552, 0));  // nothing of it was copied
  EXPECT_EQ(read(block), ReadResult::kMessage);
  EXPECT_EQ(block, message(552, 3));
}

TEST_F(SocketNoticeEndpointTest, ReadBlocksUntilANoticeArrives) {
  BackgroundRead read(*reader);
  read.waitUntilBlocked();
  ASSERT_TRUE(postNotice(name, message(552, 5)));
  EXPECT_EQ(read.result(), ReadResult::kMessage);
  EXPECT_EQ(read.block(), message(552, 5));
}

TEST_F(SocketNoticeEndpointTest, CloseEndsABlockedRead) {
  BackgroundRead read(*reader);
  read.waitUntilBlocked();
  endpoint.close();
  EXPECT_EQ(read.result(), ReadResult::kClosed);

  // A closed endpoint stays closed, with messages waiting or not, and so do its later readers.
  ASSERT_TRUE(postNotice(name, message(10, 0)));
  std::vector<std::uint8_t> block(552);
  EXPECT_EQ(reader->read(block, sender), ReadResult::kClosed);
  reader.reset();
  std::uint32_t error = 0;
  auto later = endpoint.create(error);
  ASSERT_TRUE(later);
  EXPECT_EQ(later->read(block, sender), ReadResult::kClosed);
}

TEST_F(SocketNoticeEndpointTest, EachNoticeTellsTheAccountThatPostedIt) {
  ASSERT_TRUE(postNotice(name, message(552, 1)));
  std::vector<std::uint8_t> block(552, 0);
  ASSERT_EQ(read(block), ReadResult::kMessage);
  EXPECT_EQ(sender, std::optional<std::uint32_t>(::getuid()));

  // A child that becomes another account posts as that account; the kernel vouches.
  if (::geteuid() != 0) GTEST_SKIP() << "posting as another account needs root";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const bool posted = ::setresgid(4242, 4242, 4242) == 0 && ::setresuid(4242, 4242, 4242) == 0 &&
                        postNotice(name, message(552, 2));
    ::_exit(posted ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(read(block), ReadResult::kMessage);
  EXPECT_EQ(block, message(552, 2));
  EXPECT_EQ(sender, std::optional<std::uint32_t>(4242));
}

TEST(SocketNoticeEndpoint, ReservedNameIsHeldAndHandedToTheFirstReader) {
  const std::string name = uniqueName();
  SocketNoticeEndpoint endpoint(name);
  std::uint32_t error = 0;
  int cause = 0;
  ASSERT_TRUE(endpoint.reserve(error, cause));
  // Taken from now on, for every other endpoint; a notice posted now is kept.
  SocketNoticeEndpoint other(name);
  EXPECT_FALSE(other.reserve(error, cause));
  EXPECT_EQ(error, 183u);
  EXPECT_EQ(cause, EADDRINUSE);
  ASSERT_TRUE(postNotice(name, message(552, 4)));

  auto reader = endpoint.create(error);
  ASSERT_TRUE(reader);
  std::vector<std::uint8_t> block(552, 0);
  std::optional<std::uint32_t> sender;
  EXPECT_EQ(reader->read(block, sender), ReadResult::kMessage);
  EXPECT_EQ(block, message(552, 4));
  EXPECT_EQ(sender, std::optional<std::uint32_t>(::getuid()));
  // Later readers bind the name afresh, and find it held by the first.
  EXPECT_EQ(endpoint.create(error), nullptr);
  EXPECT_EQ(error, 183u);

  SocketNoticeEndpoint tooLong(std::string(108, 'n'));
  EXPECT_FALSE(tooLong.reserve(error, cause));
  EXPECT_EQ(error, 206u);
  EXPECT_EQ(cause, ENAMETOOLONG);
}

TEST(SocketNoticeEndpoint, NamesThatCantBeUsed) {
  SocketNoticeEndpoint tooLong(std::string(108, 'n'));
  std::uint32_t error = 0;
  EXPECT_EQ(tooLong.create(error), nullptr);
  EXPECT_EQ(error, 206u);
  EXPECT_FALSE(postNotice(std::string(108, 'n'), message(4, 0)));
  EXPECT_FALSE(postNotice(uniqueName(), message(4, 0)));  // nobody reads there
}

}  // namespace
