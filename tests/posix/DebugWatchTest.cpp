// The relay's debug lines to its watchers and to the journal: the watch messages, the
// watchers that come and go, the run a line belongs to, the journal's fields.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/DebugWatch.h"
#include "platform/posix/RelayDebugOutput.h"

namespace {

using posix::WatchMessage;
using Kind = posix::WatchMessage::Kind;

std::string uniqueName() {
  static int count = 0;
  return "spoolrelayer-watch-test-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
}

/// One message from the watcher's socket; a closed socket gives none.
std::optional<WatchMessage> receive(int fd) {
  char buffer[65536];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  WatchMessage message;
  if (n <= 0 ||
      !posix::decodeWatchMessage(std::string_view(buffer, static_cast<std::size_t>(n)), message)) {
    return std::nullopt;
  }
  return message;
}

/// Connects to `name` and waits for the relay's greeting, after which every line reaches it.
posix::Fd watch(const std::string& name) {
  posix::Fd fd = posix::connectWatcher(name);
  EXPECT_TRUE(fd.valid()) << std::strerror(errno);
  const std::optional<WatchMessage> hello = receive(fd.get());
  EXPECT_TRUE(hello && hello->kind == Kind::kHello);
  return fd;
}

TEST(WatchMessageTest, CarriesTheLineAndItsRunUnchanged) {
  const WatchMessage sent{Kind::kRunLine, 0xA1B2C3D4, "Receipt \xEC\x98\x81",
                          "OpenPrinter Error \n"};
  const std::string bytes = posix::encodeWatchMessage(sent);
  EXPECT_EQ(bytes.substr(0, 7), std::string("\x01\xD4\xC3\xB2\xA1\x0B\x00", 7));
  WatchMessage got;
  ASSERT_TRUE(posix::decodeWatchMessage(bytes, got));
  EXPECT_EQ(got.kind, Kind::kRunLine);
  EXPECT_EQ(got.jobId, 0xA1B2C3D4u);
  EXPECT_EQ(got.printer, sent.printer);
  EXPECT_EQ(got.line, sent.line);
}

TEST(WatchMessageTest, RefusesShortAndUnknownMessages) {
  WatchMessage got;
  EXPECT_FALSE(posix::decodeWatchMessage(std::string("\x00\x00\x00\x00\x00\x00", 6), got));
  // The printer's length runs past the message.
  EXPECT_FALSE(posix::decodeWatchMessage(std::string("\x01\x00\x00\x00\x00\x05\x00"
                                                     "abc",
                                                     10),
                                         got));
  EXPECT_FALSE(posix::decodeWatchMessage(std::string("\x09\x00\x00\x00\x00\x00\x00", 7), got));
  EXPECT_TRUE(posix::decodeWatchMessage(std::string("\x00\x00\x00\x00\x00\x00\x00", 7), got));
  EXPECT_EQ(got.line, "");
}

TEST(DebugWatchersTest, EveryWatcherGetsEveryLineInOrder) {
  const std::string name = uniqueName();
  posix::DebugWatchers watchers(name);
  ASSERT_EQ(watchers.error(), 0);
  EXPECT_FALSE(watchers.anyone());
  watchers.send("before anyone watched \n", nullptr);

  posix::Fd first = watch(name);
  posix::Fd second = watch(name);
  EXPECT_TRUE(watchers.anyone());
  const posix::RunInfo run{"Receipt", 42};
  watchers.send("pData->State : 0x00000000 \n", &run);
  watchers.send("CreateMailslot Error : 0x000000b7 \n", nullptr);
  for (int fd : {first.get(), second.get()}) {
    const std::optional<WatchMessage> a = receive(fd);
    const std::optional<WatchMessage> b = receive(fd);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->kind, Kind::kRunLine);
    EXPECT_EQ(a->printer, "Receipt");
    EXPECT_EQ(a->jobId, 42u);
    EXPECT_EQ(a->line, "pData->State : 0x00000000 \n");
    EXPECT_EQ(b->kind, Kind::kLine);
    EXPECT_EQ(b->line, "CreateMailslot Error : 0x000000b7 \n");
  }
}

TEST(DebugWatchersTest, AWatcherThatLeftIsDroppedAtTheNextLine) {
  const std::string name = uniqueName();
  posix::DebugWatchers watchers(name);
  posix::Fd stays = watch(name);
  { posix::Fd leaves = watch(name); }
  watchers.send("one \n", nullptr);
  EXPECT_TRUE(watchers.anyone());
  stays.reset();
  watchers.send("two \n", nullptr);
  EXPECT_FALSE(watchers.anyone());
}

// A watcher is counted before it is greeted, so a line written the moment the greeting
// arrives reaches it. Each round races the relay's thread that greets against this one.
TEST(DebugWatchersTest, AGreetedWatcherIsCountedAtOnce) {
  const std::string name = uniqueName();
  posix::DebugWatchers watchers(name);
  for (int round = 0; round < 500; ++round) {
    posix::Fd fd = watch(name);
    ASSERT_TRUE(watchers.anyone()) << "round " << round;
    fd.reset();
    watchers.send("gone \n", nullptr);  // drops the watcher that left
    ASSERT_FALSE(watchers.anyone()) << "round " << round;
  }
}

TEST(DebugWatchersTest, AWatcherThatFallsBehindIsToldHowManyLinesItMissed) {
  const std::string name = uniqueName();
  posix::DebugWatchers watchers(name);
  posix::Fd slow = watch(name);
  // The relay never waits: once the socket is full, lines are counted instead of sent.
  constexpr std::size_t kLines = 5000;
  const std::string line(1000, 'x');
  for (std::size_t i = 0; i < kLines; ++i) watchers.send(line, nullptr);
  std::size_t received = 0;
  char buffer[2048];
  while (::recv(slow.get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0) ++received;
  ASSERT_EQ(errno, EAGAIN);
  ASSERT_GT(received, 0u);
  ASSERT_LT(received, kLines);
  watchers.send("after \n", nullptr);
  std::optional<WatchMessage> message = receive(slow.get());
  ASSERT_TRUE(message);
  EXPECT_EQ(message->kind, Kind::kLost);
  EXPECT_EQ(message->jobId, kLines - received);
  message = receive(slow.get());
  ASSERT_TRUE(message);
  EXPECT_EQ(message->line, "after \n");
}

TEST(DebugWatchersTest, ASecondRelayCannotTakeTheName) {
  const std::string name = uniqueName();
  posix::DebugWatchers first(name);
  posix::DebugWatchers second(name);
  EXPECT_EQ(first.error(), 0);
  EXPECT_EQ(second.error(), EADDRINUSE);
  EXPECT_EQ(posix::connectWatcher(uniqueName()).valid(), false);
  EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(DebugWatchersTest, WatchersSeeTheEndWhenTheRelayGoes) {
  const std::string name = uniqueName();
  std::optional<posix::DebugWatchers> watchers(std::in_place, name);
  posix::Fd fd = watch(name);
  watchers.reset();
  EXPECT_FALSE(receive(fd.get()));
}

/// A pipe whose read end collects what the relay writes to "standard error".
class StderrPipe {
 public:
  StderrPipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    read_.reset(fds[0]);
    write_.reset(fds[1]);
  }
  int writeEnd() const { return write_.get(); }
  std::string drain() const {
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(read_.get(), buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

 private:
  posix::Fd read_;
  posix::Fd write_;
};

TEST(RelayDebugOutputTest, LinesOfARunCarryItsPrinterAndJobOnItsThreadOnly) {
  const std::string endpoint = uniqueName();
  StderrPipe err;
  posix::RelayDebugOutput debug(endpoint, posix::RelayDebugOutput::Sink::kStderr, err.writeEnd());
  posix::Fd watcher = watch(posix::watchEndpointName(endpoint));

  std::thread run([&] {
    platform::DebugRunScope scope(debug, u"Receipt \uC601", 7);
    debug.write("OpenPrinter Error \n");
  });
  run.join();
  debug.write("CreateMailslot Error : 0x000000b7 \n");

  const std::optional<WatchMessage> a = receive(watcher.get());
  const std::optional<WatchMessage> b = receive(watcher.get());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->kind, Kind::kRunLine);
  EXPECT_EQ(a->printer, "Receipt \xEC\x98\x81");
  EXPECT_EQ(a->jobId, 7u);
  EXPECT_EQ(a->line, "OpenPrinter Error \n");
  EXPECT_EQ(b->kind, Kind::kLine);
  // Standard error gets the lines exactly as sent, nothing added.
  EXPECT_EQ(err.drain(), "OpenPrinter Error \nCreateMailslot Error : 0x000000b7 \n");
}

TEST(RelayDebugOutputTest, JournalFieldsKeepTheLineAsSent) {
  const posix::RunInfo run{"Receipt", 42};
  EXPECT_EQ(posix::journalFields("OpenPrinter Error \n", &run),
            (std::vector<std::string>{"MESSAGE=OpenPrinter Error ", "PRIORITY=7",
                                      "SYSLOG_IDENTIFIER=spoolrelayer",
                                      "SPOOLRELAYER_PRINTER=Receipt", "SPOOLRELAYER_JOB=42"}));
  EXPECT_EQ(posix::journalFields("CreateMailslot Error : 0x000000b7 \n", nullptr),
            (std::vector<std::string>{"MESSAGE=CreateMailslot Error : 0x000000b7 ", "PRIORITY=7",
                                      "SYSLOG_IDENTIFIER=spoolrelayer"}));
}

TEST(RelayDebugOutputTest, TheJournalStreamIsKnownByDeviceAndInode) {
  StderrPipe pipe;
  struct stat st {};
  ASSERT_EQ(::fstat(pipe.writeEnd(), &st), 0);
  const std::string same = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);
  EXPECT_TRUE(posix::isJournalStream(same.c_str(), pipe.writeEnd()));
  EXPECT_FALSE(posix::isJournalStream(other.c_str(), pipe.writeEnd()));
  EXPECT_FALSE(posix::isJournalStream(nullptr, pipe.writeEnd()));
  EXPECT_FALSE(posix::isJournalStream("not a stream", pipe.writeEnd()));
}

}  // namespace
