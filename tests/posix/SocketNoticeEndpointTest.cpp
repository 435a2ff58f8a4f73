#include "platform/posix/SocketNoticeEndpoint.h"
#include "posix/ProcState.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <chrono>
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
    return posixtest::procState("/proc/self/task/" + std::to_string(tid_.load()) + "/stat") == 'S';
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

TEST_F(SocketNoticeEndpointTest, AFullQueueHoldsAPostBackUntilThereIsRoomOrItsPatienceEnds) {
  using std::chrono::milliseconds;
  int queued = 0;
  while (queued < 1000 &&
         postNotice(name, message(552, static_cast<std::uint8_t>(queued)), milliseconds(0))) {
    ++queued;
  }
  ASSERT_EQ(errno, EAGAIN);
  ASSERT_GT(queued, 0);
  ASSERT_LT(queued, 1000);

  // A post that may wait goes through as soon as the reader takes a notice.
  std::atomic<bool> posted{false};
  std::thread poster([&] { posted = postNotice(name, message(552, 200), std::chrono::hours(1)); });
  std::vector<std::uint8_t> block(552, 0);
  EXPECT_EQ(read(block), ReadResult::kMessage);
  EXPECT_EQ(block, message(552, 0));
  poster.join();
  EXPECT_TRUE(posted);
  for (int i = 1; i < queued; ++i) {
    EXPECT_EQ(read(block), ReadResult::kMessage);
    EXPECT_EQ(block, message(552, static_cast<std::uint8_t>(i)));
  }
  EXPECT_EQ(read(block), ReadResult::kMessage);
  EXPECT_EQ(block, message(552, 200));
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

/// A socket bound to `name` as systemd's socket unit binds it (PassCredentials=yes asks
/// for each sender's credentials).
posix::Fd keeperSocket(const std::string& name, int type = SOCK_DGRAM, bool credentials = true) {
  sockaddr_un addr{};
  socklen_t length = 0;
  if (!posix::abstractAddress(name, addr, length)) return {};
  posix::Fd socket(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  const int on = credentials ? 1 : 0;
  if (!socket || ::setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
    return {};
  }
  return socket;
}

TEST(SocketNoticeEndpoint, AHeldSocketKeepsNoticesWhileNoReaderReads) {
  const std::string name = uniqueName();
  posix::Fd keeper = keeperSocket(name);
  ASSERT_TRUE(keeper);
  ASSERT_TRUE(postNotice(name, message(552, 1)));  // before the relay starts at all
  std::vector<std::uint8_t> block(552, 0);
  std::optional<std::uint32_t> sender;
  std::uint32_t error = 0;
  int cause = 0;
  {
    SocketNoticeEndpoint endpoint(name, posix::Fd(::dup(keeper.get())));
    ASSERT_TRUE(endpoint.reserve(error, cause));
    auto reader = endpoint.create(error);
    ASSERT_TRUE(reader);
    // One reader at a time, as if it held the name.
    EXPECT_EQ(endpoint.create(error), nullptr);
    EXPECT_EQ(error, 183u);
    ASSERT_EQ(reader->read(block, sender), ReadResult::kMessage);
    EXPECT_EQ(block, message(552, 1));
    EXPECT_EQ(sender, std::optional<std::uint32_t>(::getuid()));

    // The reader goes (a console disconnect): the name stays bound and notices wait.
    reader.reset();
    ASSERT_TRUE(postNotice(name, message(552, 2)));
    reader = endpoint.create(error);
    ASSERT_TRUE(reader) << error;
    ASSERT_EQ(reader->read(block, sender), ReadResult::kMessage);
    EXPECT_EQ(block, message(552, 2));
    ASSERT_TRUE(postNotice(name, message(552, 3)));
  }
  // The relay is gone, the keeper is not: the notice it did not read waits for the next
  // one, as do those posted meanwhile.
  ASSERT_TRUE(postNotice(name, message(552, 4)));
  SocketNoticeEndpoint next(name, posix::Fd(::dup(keeper.get())));
  auto reader = next.create(error);
  ASSERT_TRUE(reader);
  for (const std::uint8_t first : {std::uint8_t{3}, std::uint8_t{4}}) {
    ASSERT_EQ(reader->read(block, sender), ReadResult::kMessage);
    EXPECT_EQ(block, message(552, first));
    EXPECT_EQ(sender, std::optional<std::uint32_t>(::getuid()));
  }
  // Closing the endpoint ends its reader, not the keeper's socket.
  next.close();
  EXPECT_EQ(reader->read(block, sender), ReadResult::kClosed);
  EXPECT_TRUE(postNotice(name, message(552, 5)));
}

TEST(SocketNoticeEndpoint, OnlyADatagramSocketOfTheNameIsTakenAsTheNoticeSocket) {
  const std::string name = uniqueName();
  posix::Fd datagram = keeperSocket(name);
  ASSERT_TRUE(datagram);
  EXPECT_TRUE(posix::isNoticeSocket(datagram.get(), name));
  EXPECT_FALSE(posix::isNoticeSocket(datagram.get(), name + "x"));
  EXPECT_FALSE(posix::isNoticeSocket(datagram.get(), name.substr(1)));
  // Without credentials asked for, the notices that waited would come from nobody.
  const std::string uncredited = uniqueName();
  posix::Fd withoutCredentials = keeperSocket(uncredited, SOCK_DGRAM, false);
  ASSERT_TRUE(withoutCredentials);
  EXPECT_FALSE(posix::isNoticeSocket(withoutCredentials.get(), uncredited));

  const std::string streamName = uniqueName();
  posix::Fd stream = keeperSocket(streamName, SOCK_STREAM);
  ASSERT_TRUE(stream);
  EXPECT_FALSE(posix::isNoticeSocket(stream.get(), streamName));
  posix::Fd unbound(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  EXPECT_FALSE(posix::isNoticeSocket(unbound.get(), name));
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  posix::Fd readEnd(ends[0]);
  posix::Fd writeEnd(ends[1]);
  EXPECT_FALSE(posix::isNoticeSocket(readEnd.get(), name));
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
