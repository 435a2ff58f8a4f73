#include "job/Journal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeJournal.h"
#include "job/JournalFormat.h"

namespace {

using Lines = std::vector<std::string>;

job::JobRequest request(std::uint32_t jobId, std::uint32_t copies = 1) {
  return job::JobRequest{u"Receipt \u00e9", jobId, copies, u'P', 4, 1000u};
}

job::CopyRecord copyOf(std::uint32_t copy, std::vector<std::uint64_t> pages, bool ended = true) {
  return job::CopyRecord{copy, ended, true, 3, 4, std::move(pages)};
}

class JournalTest : public ::testing::Test {
 protected:
  /// Runs one job's events through a fresh log: its copies and how it ended.
  void finishJob(std::uint32_t jobId, std::uint32_t copies = 1) {
    auto log = journal.accept(request(jobId, copies));
    for (std::uint32_t c = 0; c < copies; ++c) {
      log->documentEnding();
      log->copyDone(copyOf(c, {10, 21}));
      log->copySettled();
    }
    log->runEnded(job::RunEnd::kCopiesDone);
  }
  job::JournalContents contents() {
    job::JournalContents out;
    EXPECT_TRUE(job::readJournal(store.bytes, out));
    return out;
  }

  fakes::FakeJournal store;
  fakes::FakeDebugOutput debug;
  job::Journal journal{store, debug};
};

TEST_F(JournalTest, ARecordReadsBackAsItWasWritten) {
  EXPECT_TRUE(journal.open().empty());
  EXPECT_TRUE(store.taken);
  auto log = journal.accept(request(0x2A, 2));
  log->line("pData->State : 0x00000000 \n");
  log->emptyPage(2);
  log->documentEnding();
  log->copyDone(copyOf(0, {10, 0, 21}));
  log->copySettled();
  store.now += 1500;
  log->line("StartPagePrinter Error \n");
  log->documentEnding();
  log->copyDone(job::CopyRecord{1, true, false, 0, 2, {10, 0}});
  log->copySettled();
  log->runEnded(job::RunEnd::kCopiesDone);

  const job::JournalContents read = contents();
  EXPECT_EQ(read.tornBytes, 0u);
  ASSERT_EQ(read.records.size(), 1u);
  const job::JobRecord& r = read.records[0];
  EXPECT_EQ(r.id, 1u);
  EXPECT_EQ(r.acceptedMs, 1'700'000'000'000);
  EXPECT_EQ(r.printerName, u"Receipt \u00e9");
  EXPECT_EQ(r.jobId, 0x2Au);
  EXPECT_EQ(r.copyCount, 2u);
  EXPECT_EQ(r.modelFirstUnit, u'P');
  EXPECT_EQ(r.cutMode, 4u);
  EXPECT_EQ(r.sender, std::optional<std::uint32_t>(1000));
  EXPECT_EQ(r.emptyPages, (std::vector<std::uint32_t>{2}));
  ASSERT_EQ(r.copies.size(), 2u);
  EXPECT_EQ(r.copies[0], copyOf(0, {10, 0, 21}));
  EXPECT_EQ(r.copies[1], (job::CopyRecord{1, true, false, 0, 2, {10, 0}}));
  EXPECT_EQ(r.lines, (Lines{"pData->State : 0x00000000 \n", "StartPagePrinter Error \n"}));
  // The second copy lacks its last page.
  EXPECT_EQ(r.outcome, job::Outcome::kIncomplete);
  EXPECT_EQ(r.endedMs, 1'700'000'001'500);
  EXPECT_EQ(r.copiesSent(), 2u);
  EXPECT_EQ(r.pagesSent(), 5u);
  EXPECT_EQ(r.bytesSent(), 41u);
  EXPECT_TRUE(debug.lines.empty());
}

TEST_F(JournalTest, OutcomesFollowTheCopies) {
  (void)journal.open();
  struct Case {
    std::vector<job::CopyRecord> copies;
    std::uint32_t asked;
    job::RunEnd end;
    job::Outcome outcome;
  };
  const Case cases[] = {
      {{copyOf(0, {5}), copyOf(1, {5})}, 2, job::RunEnd::kCopiesDone, job::Outcome::kPrinted},
      {{}, 0, job::RunEnd::kCopiesDone, job::Outcome::kPrinted},
      {{copyOf(0, {5}), copyOf(1, {5}, false)},
       2,
       job::RunEnd::kCopiesDone,
       job::Outcome::kIncomplete},
      {{copyOf(0, {5})}, 2, job::RunEnd::kAbandoned, job::Outcome::kAbandoned},
      {{}, 2, job::RunEnd::kFailed, job::Outcome::kFailed},
  };
  for (const Case& c : cases) {
    auto log = journal.accept(request(7, c.asked));
    for (const job::CopyRecord& copy : c.copies) {
      log->documentEnding();
      log->copyDone(copy);
      log->copySettled();
    }
    log->runEnded(c.end);
    EXPECT_EQ(contents().records.back().outcome, c.outcome)
        << job::outcomeName(c.outcome) << " expected";
  }
  for (auto [outcome, name] : {std::pair{job::Outcome::kPrinted, "printed"},
                               {job::Outcome::kIncomplete, "incomplete"},
                               {job::Outcome::kAbandoned, "abandoned"},
                               {job::Outcome::kFailed, "failed"},
                               {job::Outcome::kInterrupted, "interrupted"},
                               {job::Outcome::kExpired, "expired"}}) {
    EXPECT_EQ(job::outcomeName(outcome), name);
  }
}

TEST_F(JournalTest, ATornLastEntryIsDroppedWhereverTheWriteStopped) {
  (void)journal.open();
  finishJob(1);
  finishJob(2);
  const std::size_t whole = store.bytes.size();
  auto log = journal.accept(request(3));
  const std::size_t last = store.bytes.size() - whole;
  const job::Bytes intact = store.bytes;
  for (std::size_t cut = 1; cut < last; ++cut) {
    store.bytes.assign(intact.begin(), intact.end() - static_cast<long>(cut));
    const job::JournalContents read = contents();
    ASSERT_EQ(read.records.size(), 2u) << cut;
    EXPECT_EQ(read.tornBytes, last - cut);
    EXPECT_EQ(read.readableBytes, whole);
    EXPECT_EQ(read.records[1].outcome, job::Outcome::kPrinted);
  }
  // A damaged byte in the last entry: its check fails, and it goes too.
  store.bytes = intact;
  store.bytes[whole + 9] ^= 0x40;
  EXPECT_EQ(contents().records.size(), 2u);
  EXPECT_EQ(contents().tornBytes, last);
}

TEST_F(JournalTest, AtStartATornEntryIsCutOffSoLaterEntriesReadBack) {
  (void)journal.open();
  finishJob(1);
  auto log = journal.accept(request(2, 2));
  store.tearNextAppend = true;  // the process dies in the middle of this write
  log->documentEnding();
  log->copyDone(copyOf(0, {9}));
  log->copySettled();

  fakes::FakeJournal restarted;
  restarted.bytes = store.bytes;
  job::Journal again(restarted, debug);
  const std::vector<job::JobRecord> open = again.open();
  ASSERT_EQ(open.size(), 1u);  // job 2, whose copy entry was lost
  EXPECT_EQ(open[0].jobId, 2u);
  EXPECT_TRUE(open[0].copies.empty());
  EXPECT_EQ(restarted.replaces, 1);
  again.close(open[0], job::Outcome::kInterrupted);
  auto third = again.accept(request(4));
  third->runEnded(job::RunEnd::kFailed);

  job::JournalContents read;
  ASSERT_TRUE(job::readJournal(restarted.bytes, read));
  EXPECT_EQ(read.tornBytes, 0u);
  ASSERT_EQ(read.records.size(), 3u);
  EXPECT_EQ(read.records[1].outcome, job::Outcome::kInterrupted);
  EXPECT_EQ(read.records[2].jobId, 4u);
  EXPECT_EQ(read.records[2].id, 3u);  // numbers go on after the highest one read
  EXPECT_TRUE(debug.lines.empty());
}

TEST_F(JournalTest, CompactionKeepsTheNewestTenThousandFinishedAndEveryOpenRecord) {
  (void)journal.open();
  auto running = journal.accept(request(0xFFFF));  // stays open throughout
  const std::size_t total = job::Journal::kKeepFinished + job::Journal::kCompactionSlack;
  for (std::uint32_t i = 1; i <= total; ++i) finishJob(i);
  EXPECT_EQ(store.replaces, 0);
  EXPECT_EQ(contents().records.size(), total + 1);
  finishJob(static_cast<std::uint32_t>(total + 1));
  EXPECT_EQ(store.replaces, 1);

  const job::JournalContents read = contents();
  ASSERT_EQ(read.records.size(), job::Journal::kKeepFinished + 1);
  EXPECT_EQ(read.records[0].jobId, 0xFFFFu);
  EXPECT_FALSE(read.records[0].outcome);
  EXPECT_EQ(read.records[1].jobId, total + 2 - job::Journal::kKeepFinished);
  EXPECT_EQ(read.records.back().jobId, total + 1);
  EXPECT_EQ(read.records.back().copies.size(), 1u);  // whole records are kept
  // The open record's entries still land in it after the rewrite.
  running->runEnded(job::RunEnd::kFailed);
  EXPECT_EQ(contents().records[0].outcome, job::Outcome::kFailed);
  // The next compaction waits for another thousand.
  for (std::uint32_t i = 0; i < 999; ++i) finishJob(1);
  EXPECT_EQ(store.replaces, 1);
}

TEST_F(JournalTest, AnOverfullJournalIsCompactedAtStart) {
  (void)journal.open();
  for (std::uint32_t i = 1; i <= job::Journal::kKeepFinished + 5; ++i) finishJob(i);
  fakes::FakeJournal restarted;
  restarted.bytes = store.bytes;
  job::Journal again(restarted, debug);
  EXPECT_TRUE(again.open().empty());
  EXPECT_EQ(restarted.replaces, 1);
  job::JournalContents read;
  ASSERT_TRUE(job::readJournal(restarted.bytes, read));
  EXPECT_EQ(read.records.size(), job::Journal::kKeepFinished);
  EXPECT_EQ(read.records[0].jobId, 6u);
}

TEST_F(JournalTest, AJournalThatCannotBeWrittenNeverStopsAJob) {
  (void)journal.open();
  store.appendFails = true;
  auto log = journal.accept(request(1, 2));
  log->documentEnding();
  log->copyDone(copyOf(0, {1}));
  log->copySettled();
  log->documentEnding();
  log->copyDone(copyOf(1, {1}));
  log->copySettled();
  log->runEnded(job::RunEnd::kCopiesDone);
  // One line per run says why; the record still knows the run.
  EXPECT_EQ(debug.lines, (Lines{"journal not written \n"}));
  EXPECT_EQ(log->record().outcome, job::Outcome::kPrinted);
  auto next = journal.accept(request(2));
  EXPECT_EQ(debug.lines.size(), 2u);

  // A journal that can't be taken, or is no journal, is left alone: jobs run without it.
  for (int kind = 0; kind < 3; ++kind) {
    fakes::FakeJournal other;
    other.takeFails = kind == 0;
    other.readFails = kind == 1;
    other.bytes = {'n', 'o', 't', ' ', 'o', 'u', 'r', 's', '!'};
    fakes::FakeDebugOutput lines;
    job::Journal bad(other, lines);
    EXPECT_TRUE(bad.open().empty());
    ASSERT_EQ(lines.lines.size(), 1u);
    EXPECT_EQ(lines.lines[0], kind == 0   ? "journal not taken \n"
                              : kind == 1 ? "journal not read \n"
                                          : "Journal Error : not a job journal, left as it is \n");
    auto unrecorded = bad.accept(request(3));
    unrecorded->runEnded(job::RunEnd::kFailed);
    EXPECT_EQ(other.appends, 0);
    EXPECT_EQ(other.bytes.size(), 9u);
  }
}

TEST_F(JournalTest, ClosingWaitsForDocumentsBeingEndedToBeRecorded) {
  (void)journal.open();
  auto log = journal.accept(request(1));
  EXPECT_TRUE(journal.closeDocuments(0));  // none being ended

  job::Journal other(store, debug);
  auto ending = other.accept(request(2));
  ending->documentEnding();
  EXPECT_FALSE(other.closeDocuments(0));
  bool recorded = false;
  std::thread closer([&] { recorded = other.closeDocuments(60'000); });
  ending->copyDone(copyOf(0, {3}));
  ending->copySettled();
  closer.join();
  EXPECT_TRUE(recorded);
}

TEST_F(JournalTest, OnlyTheEntriesACrashMustNotLoseWaitForASync) {
  (void)journal.open();
  auto log = journal.accept(request(1, 1));
  EXPECT_EQ(store.durable, store.bytes.size());  // the notice, before its run starts
  log->emptyPage(2);
  EXPECT_EQ(store.durable, store.bytes.size());  // before the page file is deleted
  log->documentEnding();
  log->copyDone(copyOf(0, {4}));
  EXPECT_LT(store.durable, store.bytes.size());  // written right after the document's end
  log->copySettled();
  EXPECT_EQ(store.durable, store.bytes.size());  // synced once the spooler synced the document
  const int syncs = store.syncs;
  log->runEnded(job::RunEnd::kCopiesDone);
  EXPECT_LT(store.durable, store.bytes.size());  // the outcome rides on the next sync
  EXPECT_EQ(store.syncs, syncs);
  (void)journal.accept(request(2));
  EXPECT_EQ(store.durable, store.bytes.size());

  store.syncFails = true;
  (void)journal.accept(request(3));
  EXPECT_EQ(debug.lines, (Lines{"journal not synced \n"}));
}

/// A journal whose sync waits until the test lets it go.
class HeldSyncJournal : public fakes::FakeJournal {
 public:
  bool append(std::span<const std::uint8_t> entry, std::string& why) override {
    const bool ok = FakeJournal::append(entry, why);
    appended.fetch_add(1);
    return ok;
  }
  bool sync(std::string& why) override {
    inSync.fetch_add(1);
    while (!release.load()) std::this_thread::yield();
    return FakeJournal::sync(why);
  }
  std::atomic<int> appended{0};
  std::atomic<int> inSync{0};
  std::atomic<bool> release{false};
};

TEST(JournalSyncs, EntriesAppendedDuringASyncShareTheNextOne) {
  HeldSyncJournal store;
  store.release = true;
  fakes::FakeDebugOutput debug;
  job::Journal journal(store, debug);
  (void)journal.open();
  store.release = false;
  const int before = store.syncs;
  std::thread first([&] { (void)journal.accept(request(1)); });
  while (store.inSync.load() == 0) std::this_thread::yield();
  // While the first sync runs, three more notices are accepted.
  std::vector<std::thread> more;
  for (std::uint32_t id = 2; id <= 4; ++id) {
    more.emplace_back([&, id] { (void)journal.accept(request(id)); });
  }
  while (store.appended.load() < 5) std::this_thread::yield();  // the mark and four
  store.release = true;
  first.join();
  for (std::thread& t : more) t.join();
  EXPECT_EQ(store.syncs - before, 2);  // one for the first, one for the three others
  EXPECT_EQ(store.durable, store.bytes.size());
  job::JournalContents read;
  ASSERT_TRUE(job::readJournal(store.bytes, read));
  EXPECT_EQ(read.records.size(), 4u);
}

TEST(JournalFormat, Crc32MatchesTheStandardCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(job::crc32(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), 9)),
            0xCBF43926u);
  EXPECT_EQ(job::crc32({}), 0u);
}

TEST(JournalFormat, EntriesOfUnknownRecordsAreReadAndPassedOver) {
  job::Bytes bytes(job::kJournalMark.begin(), job::kJournalMark.end());
  const job::Bytes stray = job::copyEntry(9, copyOf(0, {1}), {});
  bytes.insert(bytes.end(), stray.begin(), stray.end());
  job::JobRecord record;
  record.id = 1;
  record.printerName = std::u16string(1, u'P');
  const job::Bytes accepted = job::acceptedEntry(record);
  bytes.insert(bytes.end(), accepted.begin(), accepted.end());
  job::JournalContents read;
  ASSERT_TRUE(job::readJournal(bytes, read));
  ASSERT_EQ(read.records.size(), 1u);
  EXPECT_FALSE(read.records[0].sender);
  EXPECT_EQ(read.tornBytes, 0u);
  // Compaction leaves the stray entry out.
  job::JournalIndex index;
  ASSERT_TRUE(job::scanJournal(bytes, index));
  EXPECT_EQ(index.entries.size(), 2u);
  std::size_t finished = 1;
  EXPECT_EQ(job::compactJournal(bytes, index, 10, finished).size(), bytes.size() - stray.size());
  EXPECT_EQ(finished, 0u);
}

TEST(JournalFormat, AWholeEntryThatDoesNotReadIsPassedOverAndChangesNothing) {
  // Checksummed entries that still do not read: a copy entry cut one byte short and framed
  // again, and an outcome no version writes. Neither touches the record, and the entries
  // after them are read as if they were not there.
  const auto reframed = [](job::Bytes entry, std::size_t cut) {
    job::Bytes payload(entry.begin() + 8, entry.end() - static_cast<std::ptrdiff_t>(cut));
    job::Bytes out(8);
    const auto length = static_cast<std::uint32_t>(payload.size());
    const std::uint32_t crc = job::crc32(payload);
    for (std::size_t k = 0; k < 4; ++k) {
      out[k] = static_cast<std::uint8_t>(length >> (8 * k));
      out[4 + k] = static_cast<std::uint8_t>(crc >> (8 * k));
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
  };
  job::JobRecord record;
  record.id = 1;
  record.printerName = std::u16string(1, u'P');
  job::Bytes bytes(job::kJournalMark.begin(), job::kJournalMark.end());
  const std::vector<std::string> lines{"StartPagePrinter Error "};
  for (const job::Bytes& entry :
       {job::acceptedEntry(record), reframed(job::copyEntry(1, copyOf(0, {7, 8}), lines), 1),
        job::outcomeEntry(1, static_cast<job::Outcome>(9), 5, lines, 1)}) {
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  job::JournalContents read;
  ASSERT_TRUE(job::readJournal(bytes, read));
  ASSERT_EQ(read.records.size(), 1u);
  EXPECT_TRUE(read.records[0].copies.empty());
  EXPECT_TRUE(read.records[0].lines.empty());
  EXPECT_FALSE(read.records[0].outcome);
  EXPECT_EQ(read.records[0].linesDropped, 0u);

  for (const job::Bytes& entry : {job::copyEntry(1, copyOf(0, {7, 8}), {}),
                                  job::outcomeEntry(1, job::Outcome::kPrinted, 6, {}, 0)}) {
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  ASSERT_TRUE(job::readJournal(bytes, read));
  ASSERT_EQ(read.records.size(), 1u);
  ASSERT_EQ(read.records[0].copies.size(), 1u);
  EXPECT_EQ(read.records[0].copies[0].pages, (std::vector<std::uint64_t>{7, 8}));
  EXPECT_EQ(read.records[0].outcome, job::Outcome::kPrinted);
  EXPECT_EQ(read.readableBytes, bytes.size());
  EXPECT_EQ(read.tornBytes, 0u);
}

}  // namespace
