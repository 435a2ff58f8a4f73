// Jobs recorded as notices are accepted, and taken up again at start after a crash.
#include "app/JobResume.h"

#include <gtest/gtest.h>

#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeJournal.h"
#include "fakes/FakeNotices.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"
#include "job/Journal.h"
#include "job/JournalFormat.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;

constexpr char16_t kPrinter[] = u"Receipt";
constexpr std::uint32_t kJob = 0x2A;
constexpr std::uint32_t kSender = 1000;
constexpr std::int64_t kDay = 24LL * 60 * 60 * 1000;

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
Bytes placeholder(std::uint8_t type) {
  return concat({hex("98 07 98 07 98 07 98 07 98 07 98 07 98 07"), {type}});
}

/// One process of the relay on the fakes: its platform, its journal, its print threads.
struct Relay {
  explicit Relay(fakes::FakeJournal& store) : journal(store, debug) {
    spooler.addPrinter(kPrinter);
  }
  std::u16string path(std::uint32_t page) {
    return job::pageFilePath(u"/pub/TIVORAN", u'/', kJob, page);
  }
  fakes::FakePrinterState& printer() { return spooler.printer(kPrinter); }

  fakes::FakeSpooler spooler;
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files{clock};
  fakes::FakeDebugOutput debug;
  job::JobPorts jobPorts{spooler, locks, folders, files, clock, debug};
  fakes::FakeNoticeEndpoint endpoint;
  fakes::FakeThreads threads;
  job::Journal journal;
  app::AppPorts ports{jobPorts, endpoint, threads, &journal};
};

class JobResumeTest : public ::testing::Test {
 protected:
  /// The job's pages: page 1 prints a barcode at the height the job's heightClass has
  /// when it starts; the last page sets heightClass to 3. So the second copy's first page
  /// differs from the first copy's, and a resumed copy must start with the right one.
  void addPages(Relay& relay, bool emptySecond = false) {
    auto add = [&](std::uint32_t page, const Bytes& stream, std::uint8_t state) {
      relay.files.files[relay.path(page)].bytes = fakes::pageFile(stream, state);
    };
    add(1, concat({text("receipt header.."), placeholder(2), hex("0D"), text("222"), hex("0D")}),
        0);
    if (emptySecond) {
      relay.files.files[relay.path(2)] = {};
    } else {
      add(2, text("a page of plain text"), 0);
    }
    add(3, concat({placeholder(2), hex("1D 21 03"), text("111"), hex("0D"), text("total..")}), 2);
  }
  /// Runs a job of `copies` in `relay`, as a notice's print thread does.
  void runJob(Relay& relay, std::uint32_t copies) {
    const job::JobRequest request{kPrinter, kJob, copies, u'T', 0, kSender};
    auto log = relay.journal.accept(request);
    job::runJob(relay.jobPorts, request, *log);
  }
  std::vector<Bytes> documents(Relay& relay) {
    std::vector<Bytes> out;
    for (const auto& doc : relay.printer().documents) out.push_back(doc.bytes());
    return out;
  }
  std::vector<job::JobRecord> records(const fakes::FakeJournal& store) {
    job::JournalContents read;
    EXPECT_TRUE(job::readJournal(store.bytes, read));
    return read.records;
  }
  /// A journal with one record left open by a process that ended after `appends` writes.
  fakes::FakeJournal crashedAfter(int appends, std::uint32_t copies, bool emptySecond = false) {
    fakes::FakeJournal store;
    store.dieAfterAppends = appends;
    Relay crashed(store);
    (void)crashed.journal.open();
    addPages(crashed, emptySecond);
    runJob(crashed, copies);
    fakes::FakeJournal after;
    after.bytes = store.bytes;
    after.now = store.now;
    return after;
  }
};

TEST_F(JobResumeTest, AResumedCopySendsWhatAnUninterruptedRunSends) {
  fakes::FakeJournal whole;
  Relay uninterrupted(whole);
  (void)uninterrupted.journal.open();
  addPages(uninterrupted);
  runJob(uninterrupted, 3);
  const std::vector<Bytes> want = documents(uninterrupted);
  ASSERT_EQ(want.size(), 3u);
  ASSERT_NE(want[0], want[1]);  // heightClass carried from copy 1 into copy 2
  EXPECT_EQ(want[1], want[2]);

  // The process ended after the notice's record (write 2) and copy 1's record (write 3).
  for (int k = 0; k < 3; ++k) {
    fakes::FakeJournal store = crashedAfter(2 + k, 3);
    Relay restarted(store);
    addPages(restarted);
    EXPECT_EQ(app::resumeJobs(restarted.ports, true), 1u);
    const std::vector<Bytes> sent = documents(restarted);
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(3 - k)) << "from copy " << k + 1;
    for (std::size_t i = 0; i < sent.size(); ++i)
      EXPECT_EQ(sent[i], want[i + static_cast<std::size_t>(k)]);

    const job::JobRecord record = records(store).back();
    EXPECT_EQ(record.outcome, job::Outcome::kPrinted);
    EXPECT_EQ(record.copies.size(), 3u);
    EXPECT_EQ(record.resumedMs.size(), 1u);
    EXPECT_EQ(records(store).size(), 1u);        // no second record
    EXPECT_TRUE(restarted.files.files.empty());  // its page files deleted at the end
  }
}

TEST_F(JobResumeTest, AResumedRunSkipsTheNumbersFoundEmptyBeforeTheCrash) {
  // Copy 1 found page 2 empty and deleted it; the process ended before copy 1's record.
  fakes::FakeJournal store = crashedAfter(3, 2, true);
  Relay restarted(store);
  addPages(restarted);
  restarted.files.files.erase(restarted.path(2));
  EXPECT_EQ(app::resumeJobs(restarted.ports, true), 1u);
  ASSERT_EQ(restarted.printer().documents.size(), 2u);
  EXPECT_TRUE(restarted.printer().documents[0].pages[1].empty());
  EXPECT_TRUE(restarted.clock.sleeps.empty());
  EXPECT_EQ(records(store).back().outcome, job::Outcome::kPrinted);
}

TEST_F(JobResumeTest, WithEveryCopyOverOnlyTheDeletionAndTheTailAreLeft) {
  // Ended after the last copy's record, before the page files were deleted.
  fakes::FakeJournal store = crashedAfter(3, 1);
  Relay restarted(store);
  addPages(restarted);
  // The sender's own finished job: the relay removes only the account's own.
  restarted.printer().queue = {{kJob, platform::kJobStatusPrinted, kSender}};
  EXPECT_EQ(app::resumeJobs(restarted.ports, true), 1u);
  EXPECT_TRUE(restarted.printer().documents.empty());
  EXPECT_TRUE(restarted.files.files.empty());
  EXPECT_TRUE(restarted.printer().queue.empty());
  EXPECT_EQ(records(store).back().outcome, job::Outcome::kPrinted);
}

TEST_F(JobResumeTest, RecordsNotTakenUpAreClosed) {
  struct Case {
    std::int64_t age;
    bool pageOne;
    bool resume;
    bool threadsStart;
    job::Outcome outcome;
  };
  for (const Case& c : {Case{kDay + 1, true, true, true, job::Outcome::kExpired},
                        Case{30'000, false, true, true, job::Outcome::kInterrupted},
                        Case{1000, true, false, true, job::Outcome::kInterrupted},
                        Case{1000, true, true, false, job::Outcome::kInterrupted},
                        Case{kDay, true, true, true, job::Outcome::kPrinted}}) {
    fakes::FakeJournal store = crashedAfter(2, 1);
    store.now += c.age;
    Relay restarted(store);
    addPages(restarted);
    if (!c.pageOne) restarted.files.files.erase(restarted.path(1));
    restarted.threads.failStarts = !c.threadsStart;
    const std::uint32_t started = app::resumeJobs(restarted.ports, c.resume);
    const bool resumed = c.outcome == job::Outcome::kPrinted;
    EXPECT_EQ(started, resumed ? 1u : 0u);
    EXPECT_EQ(restarted.printer().documents.size(), resumed ? 1u : 0u);
    EXPECT_EQ(records(store).back().outcome, c.outcome) << job::outcomeName(c.outcome);
    EXPECT_EQ(records(store).back().endedMs, store.now);
  }
}

TEST_F(JobResumeTest, AJobWhosePageOneMayStillComeIsTakenUpAgain) {
  // Accepted 29.9 s before the restart: its run would still be waiting for page 1.
  fakes::FakeJournal store = crashedAfter(2, 1);
  store.now += 29'900;
  Relay restarted(store);
  addPages(restarted);
  auto& page1 = restarted.files.files[restarted.path(1)];
  page1.appearsAtMs = 5'000;  // and it comes 5 s after the restart
  EXPECT_EQ(app::resumeJobs(restarted.ports, true), 1u);
  EXPECT_EQ(restarted.printer().documents.size(), 1u);
  EXPECT_EQ(records(store).back().outcome, job::Outcome::kPrinted);
}

TEST_F(JobResumeTest, EachNoticeReadGetsARecordBeforeItsRun) {
  fakes::FakeJournal store;
  Relay relay(store);
  (void)relay.journal.open();
  addPages(relay);
  relay.spooler.addPrinter(u"Other");
  Bytes notice(app::kNoticeSize, 0);
  notice[0] = 'O';
  notice[2] = 't';
  notice[4] = 'h';
  notice[6] = 'e';
  notice[8] = 'r';
  notice[520] = 7;
  notice[524] = 1;
  relay.endpoint.messages.push_back(notice);
  relay.endpoint.messages.push_back(std::nullopt);  // a failed read is no notice
  notice[0] = 'R';
  notice[2] = 'e';
  notice[4] = 'c';
  notice[6] = 'e';
  notice[8] = 'i';
  notice[10] = 'p';
  notice[12] = 't';
  notice[520] = kJob;
  relay.endpoint.messages.push_back(notice);
  app::noticeListener(relay.ports);

  const std::vector<job::JobRecord> read = records(store);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].printerName, u"Other");
  EXPECT_EQ(read[0].jobId, 7u);
  EXPECT_EQ(read[0].outcome, job::Outcome::kIncomplete);  // no page files: waited, ended
  EXPECT_EQ(read[1].printerName, kPrinter);
  EXPECT_EQ(read[1].outcome, job::Outcome::kPrinted);
  EXPECT_FALSE(read[1].sender);  // this endpoint does not tell who posted
}

}  // namespace
