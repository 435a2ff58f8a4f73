#include "app/NoticeListener.h"

#include <gtest/gtest.h>

#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeNotices.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"

namespace {

using fakes::Bytes;

Bytes notice(const std::u16string& printer, std::uint32_t jobId, std::uint32_t copies,
             char16_t model = u'P', std::uint32_t cutMode = 4) {
  Bytes n(app::kNoticeSize, 0);
  for (std::size_t i = 0; i < printer.size() && i < 260; ++i) {
    n[2 * i] = static_cast<std::uint8_t>(printer[i]);
    n[2 * i + 1] = static_cast<std::uint8_t>(printer[i] >> 8);
  }
  auto put = [&n](std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) n[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
  };
  put(520, jobId);
  put(524, copies);
  n[528] = static_cast<std::uint8_t>(model);
  n[529] = static_cast<std::uint8_t>(model >> 8);
  put(548, cutMode);
  return n;
}

job::JobRequest read(const Bytes& n, std::u16string& name) {
  return app::readNotice(
      std::span<const std::uint8_t, app::kNoticeSize>(n.data(), app::kNoticeSize), name);
}

TEST(JobNotice, FieldsAreReadLittleEndianAtTheirOffsets) {
  std::u16string name;
  const job::JobRequest r = read(notice(u"Kasse \u00e9", 0x01020304, 3, u'P', 4), name);
  EXPECT_EQ(name, u"Kasse \u00e9");
  EXPECT_EQ(r.printerName, name);
  EXPECT_EQ(r.jobId, 0x01020304u);
  EXPECT_EQ(r.copyCount, 3u);
  EXPECT_EQ(r.modelFirstUnit, u'P');
  EXPECT_EQ(r.cutMode, 4u);

  // A 524-byte message leaves the rest of the zeroed block zero.
  Bytes shortMessage = notice(u"ABC", 9, 2);
  std::fill(shortMessage.begin() + 524, shortMessage.end(), 0);
  const job::JobRequest s = read(shortMessage, name);
  EXPECT_EQ(s.jobId, 9u);
  EXPECT_EQ(s.copyCount, 0u);
  EXPECT_EQ(s.modelFirstUnit, 0);
  EXPECT_EQ(s.cutMode, 0u);

  // A name without a NUL ends with its field, before the job id.
  const job::JobRequest full = read(notice(std::u16string(300, u'x'), 7, 1), name);
  EXPECT_EQ(name.size(), 260u);
  EXPECT_EQ(full.jobId, 7u);
}

class NoticeListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spooler.addPrinter(u"A");
    spooler.addPrinter(u"B");
  }
  fakes::FakeSpooler spooler;
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files{clock};
  fakes::FakeDebugOutput debug;
  job::JobPorts jobPorts{spooler, locks, folders, files, clock, debug};
  fakes::FakeNoticeEndpoint endpoint;
  fakes::FakeThreads threads;
  app::AppPorts ports{jobPorts, endpoint, threads};
};

TEST_F(NoticeListenerTest, EachNoticeGetsItsOwnPrintThread) {
  files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', 1, 1)].bytes =
      fakes::pageFile(Bytes(20, 'a'), 2);
  files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', 2, 1)].bytes =
      fakes::pageFile(Bytes(20, 'b'), 2);
  endpoint.messages.push_back(notice(u"A", 1, 1));
  endpoint.messages.push_back(std::nullopt);  // a failed read: freed, next read
  Bytes shortOne = notice(u"B", 2, 1);
  shortOne.resize(524);  // copyCount and the rest read as zero
  endpoint.messages.push_back(shortOne);
  endpoint.messages.push_back(Bytes(600, 1));  // too long: dropped
  app::noticeListener(ports);

  EXPECT_EQ(threads.detachedStarted, 2);
  ASSERT_EQ(spooler.printer(u"A").documents.size(), 1u);
  EXPECT_EQ(spooler.printer(u"A").documents[0].bytes(), fakes::concat({Bytes(20, 'a'), {0}}));
  EXPECT_TRUE(spooler.printer(u"B").documents.empty());
  // The run with no copies still deleted page number 0 of its job.
  EXPECT_EQ(files.removed.back(), job::pageFilePath(u"/pub/TIVORAN", u'/', 2, 0));
  EXPECT_FALSE(endpoint.open);
}

TEST_F(NoticeListenerTest, TheSenderTheEndpointTellsGoesWithTheJob) {
  files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', 1, 1)].bytes =
      fakes::pageFile(Bytes(20, 'a'), 2);
  spooler.printer(u"A").queue = {{1, 0x80, 4242u}};
  endpoint.sender = 65534;
  endpoint.messages.push_back(notice(u"A", 1, 1));
  app::noticeListener(ports);
  EXPECT_EQ(files.senders, (std::vector<std::optional<std::uint32_t>>{65534u}));
  EXPECT_EQ(spooler.printer(u"A").queue.size(), 1u);  // another account's job stays

  endpoint.sender = 4242;
  endpoint.messages.push_back(notice(u"A", 1, 0));
  app::noticeListener(ports);
  EXPECT_TRUE(spooler.printer(u"A").queue.empty());
}

TEST_F(NoticeListenerTest, SecondListenerCannotTakeTheName) {
  endpoint.open = true;
  app::noticeListener(ports);
  EXPECT_EQ(debug.lines, std::vector<std::string>{"CreateMailslot Error : 0x000000b7 \n"});
}

TEST_F(NoticeListenerTest, NoticeWhoseThreadCannotStartIsDropped) {
  threads.failStarts = true;
  endpoint.messages.push_back(notice(u"A", 1, 1));
  app::noticeListener(ports);
  EXPECT_EQ(spooler.calls.size(), 0u);
}

TEST_F(NoticeListenerTest, PrintThreadWithoutANotice) {
  app::printThread(jobPorts, nullptr);
  EXPECT_EQ(debug.lines, std::vector<std::string>{"PrintThread pArguments Error \n"});
}

TEST(SessionController, ListenerBookkeepingAcrossConsoleEvents) {
  fakes::FakeThreads threads;
  threads.deferKept = true;  // a listener blocks in its reads for ever
  int listenersRun = 0;
  app::SessionController session(threads, [&] { ++listenersRun; });

  session.onCreate();
  EXPECT_TRUE(session.hasListener());
  EXPECT_EQ(threads.keptStarted, 1);
  session.onConsoleConnect();  // one is kept: nothing started
  EXPECT_EQ(threads.keptStarted, 1);
  session.onConsoleDisconnect();  // waits a second, then forgets it
  EXPECT_EQ(threads.waits, std::vector<std::uint32_t>{1000});
  EXPECT_FALSE(session.hasListener());
  session.onConsoleConnect();
  EXPECT_EQ(threads.keptStarted, 2);
  session.onDestroy();
  EXPECT_EQ(threads.waits, (std::vector<std::uint32_t>{1000, 1000}));
  EXPECT_FALSE(session.hasListener());
  session.onDestroy();  // nothing kept: no wait
  EXPECT_EQ(threads.waits.size(), 2u);

  // A listener that can't be started leaves none, and the next connect tries again.
  threads.failStarts = true;
  session.onConsoleConnect();
  EXPECT_FALSE(session.hasListener());
  threads.failStarts = false;
  session.onConsoleConnect();
  EXPECT_TRUE(session.hasListener());
  EXPECT_EQ(listenersRun, 0);
}

}  // namespace
