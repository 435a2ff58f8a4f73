// The runner's events as the journal records them, on the fakes.
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeJournal.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"
#include "job/JobRunner.h"
#include "job/Journal.h"

namespace {

using fakes::Bytes;
using Lines = std::vector<std::string>;

constexpr char16_t kPrinter[] = u"Receipt";
constexpr std::uint32_t kJob = 0x2A;
const std::string kSpace = "spoolrelayer: printer Receipt: document 00000001 not written: full \n";

class JobRunnerEventsTest : public ::testing::Test {
 protected:
  void SetUp() override { (void)journal.open(); }
  /// Runs the job and returns its record as the journal holds it.
  job::JobRecord run(std::uint32_t copies) {
    const job::JobRequest request{kPrinter, kJob, copies, u'T', 0, 1000u};
    auto log = journal.accept(request);
    job::runJob(ports, request, *log);
    job::JournalContents read;
    EXPECT_TRUE(job::readJournal(store.bytes, read));
    EXPECT_EQ(read.records.back().lines, log->record().lines);
    return read.records.back();
  }
  std::u16string path(std::uint32_t page) {
    return job::pageFilePath(u"/pub/TIVORAN", u'/', kJob, page);
  }
  void addPage(std::uint32_t page, const std::string& text, std::uint8_t state) {
    files.files[path(page)].bytes = fakes::pageFile(Bytes(text.begin(), text.end()), state);
  }
  std::vector<std::uint32_t> sleepsOf(std::uint32_t atLeast) {
    std::vector<std::uint32_t> out;
    std::copy_if(clock.sleeps.begin(), clock.sleeps.end(), std::back_inserter(out),
                 [&](std::uint32_t ms) { return ms >= atLeast; });
    return out;
  }

  fakes::FakeSpooler spooler;
  fakes::FakePrinterState& printer = spooler.addPrinter(kPrinter);
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files{clock};
  fakes::FakeDebugOutput debug;
  job::JobPorts ports{spooler, locks, folders, files, clock, debug};
  fakes::FakeJournal store;
  job::Journal journal{store, debug};
};

TEST_F(JobRunnerEventsTest, APrintedJobRecordsEachCopysPagesAndAddsNoLine) {
  addPage(1, "page one, plain text", 0);
  addPage(2, "page two, the last..", 2);
  debug.lines.clear();
  const job::JobRecord record = run(2);
  EXPECT_EQ(record.outcome, job::Outcome::kPrinted);
  ASSERT_EQ(record.copies.size(), 2u);
  for (std::uint32_t c = 0; c < 2; ++c) {
    // The final 0x00 counts with its page.
    EXPECT_EQ(record.copies[c], (job::CopyRecord{c, true, true, 0, 3, {20, 21}}));
  }
  EXPECT_EQ(record.bytesSent(), 82u);
  EXPECT_EQ(record.sender, std::optional<std::uint32_t>(1000));
  // Only the fixed line for page 1's State; nothing says that the job went well.
  EXPECT_EQ(debug.lines, (Lines{"pData->State : 0x00000000 \n", "pData->State : 0x00000000 \n"}));
  EXPECT_EQ(record.lines, debug.lines);
  EXPECT_EQ(record.endedMs, store.now);

  files.files.clear();
  addPage(1, "page one, the last..", 2);
  debug.lines.clear();
  EXPECT_EQ(run(1).outcome, job::Outcome::kPrinted);
  EXPECT_TRUE(debug.lines.empty());
}

TEST_F(JobRunnerEventsTest, ACopyWithoutItsLastPageIsIncomplete) {
  addPage(1, "page one, plain text", 0);
  const job::JobRecord record = run(1);
  EXPECT_EQ(record.outcome, job::Outcome::kIncomplete);
  ASSERT_EQ(record.copies.size(), 1u);
  EXPECT_TRUE(record.copies[0].ended);
  EXPECT_FALSE(record.copies[0].lastPage);
  EXPECT_EQ(record.copies[0].stopPage, 2u);
}

TEST_F(JobRunnerEventsTest, UnreadablePageIsAbandonedAndFailureBeforeTheCopiesIsFailed) {
  addPage(1, "page one, the last..", 2);
  files.files[path(1)].readLimit = 0;
  job::JobRecord record = run(2);
  EXPECT_EQ(record.outcome, job::Outcome::kAbandoned);
  EXPECT_TRUE(record.copies.empty());  // its document never ended
  EXPECT_EQ(record.lines, (Lines{"ReadFile <= 0 \n"}));

  spooler.failOn("OpenPrinter", 1, 1722, "spoolrelayer: CUPS scheduler /run/cups.sock down \n");
  record = run(1);
  EXPECT_EQ(record.outcome, job::Outcome::kFailed);
  // The runner's own fixed line first, then what only the platform knows.
  EXPECT_EQ(record.lines,
            (Lines{"OpenPrinter Error \n", "spoolrelayer: CUPS scheduler /run/cups.sock down \n"}));
}

TEST_F(JobRunnerEventsTest, DocumentsTheSpoolerCannotEndSlowTheCopiesDown) {
  addPage(1, "page one, the last..", 2);
  spooler.failOn("WritePrinter", 0, 112, kSpace);
  spooler.failOn("EndDocPrinter", 0, 112, kSpace);
  debug.lines.clear();
  const job::JobRecord record = run(10);
  EXPECT_EQ(record.outcome, job::Outcome::kIncomplete);
  EXPECT_EQ(record.copiesSent(), 0u);
  ASSERT_EQ(record.copies.size(), 10u);
  EXPECT_FALSE(record.copies[9].ended);
  // The platform's line once, not once per write and copy.
  EXPECT_EQ(debug.lines, (Lines{kSpace}));
  // Each further failed copy waits twice as long, up to 16 s; none after the last.
  EXPECT_EQ(sleepsOf(250),
            (std::vector<std::uint32_t>{250, 500, 1000, 2000, 4000, 8000, 16000, 16000, 16000}));

  // A copy that ends again starts the waits afresh.
  clock.sleeps.clear();
  addPage(1, "page one, the last..", 2);
  fakes::FakeSpooler good;
  good.addPrinter(kPrinter);
  good.failOn("EndDocPrinter", 1);
  good.failOn("EndDocPrinter", 2);
  good.failOn("EndDocPrinter", 4);
  job::JobPorts goodPorts{good, locks, folders, files, clock, debug};
  const job::JobRequest request{kPrinter, kJob, 5, u'T', 0, std::nullopt};
  auto log = journal.accept(request);
  job::runJob(goodPorts, request, *log);
  EXPECT_EQ(sleepsOf(250), (std::vector<std::uint32_t>{250, 500, 250}));
  job::JournalContents read;
  ASSERT_TRUE(job::readJournal(store.bytes, read));
  EXPECT_EQ(read.records.back().copiesSent(), 2u);
}

TEST_F(JobRunnerEventsTest, DocumentStartFailuresAreExplainedAfterThePartsLines) {
  addPage(1, "page one, the last..", 2);
  spooler.failOn("StartDocPrinter", 0, 112, "spoolrelayer: printer Receipt: no room \n");
  debug.lines.clear();
  const job::JobRecord record = run(1);
  EXPECT_EQ(
      record.lines,
      (Lines{"StartDocPrinter Error : 0x00000070 \n", "spoolrelayer: printer Receipt: no room \n",
             "StartDocPrinter Error : 0x00000070 \n", "StartDocPrinter Error : 0x00000070 \n",
             "StartDocPrinter Error : 0x00000070 \n", "StartPagePrinter Error \n"}));
  EXPECT_EQ(record.outcome, job::Outcome::kIncomplete);
}

TEST_F(JobRunnerEventsTest, LaterCopiesSkipANumberTheFirstFoundEmpty) {
  addPage(1, "page one, plain text", 0);
  files.files[path(2)] = {};
  addPage(3, "page three, the last", 2);
  debug.lines.clear();
  const job::JobRecord record = run(3);
  EXPECT_EQ(record.outcome, job::Outcome::kPrinted);
  ASSERT_EQ(printer.documents.size(), 3u);
  for (const fakes::FakeDocument& doc : printer.documents) {
    // A started and ended empty page, as the first copy had, and then page 3.
    ASSERT_EQ(doc.pages.size(), 3u);
    EXPECT_TRUE(doc.pages[1].empty());
    EXPECT_EQ(doc.pages[2].size(), 21u);
  }
  for (const job::CopyRecord& copy : record.copies) {
    EXPECT_EQ(copy.pages, (std::vector<std::uint64_t>{20, 0, 21}));
  }
  EXPECT_TRUE(clock.sleeps.empty());  // no copy waited for the deleted file
  EXPECT_EQ(std::count(debug.lines.begin(), debug.lines.end(), "GetFileSizeEx FALSE \n"), 1);
  EXPECT_EQ(record.emptyPages, (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(files.removed,
            (std::vector<std::u16string>{path(2), path(0), path(1), path(2), path(3)}));
}

TEST_F(JobRunnerEventsTest, APageFileThatCannotBeDeletedIsNamed) {
  addPage(1, "page one, the last..", 2);
  files.undeletable.insert(path(1));
  debug.lines.clear();
  const job::JobRecord record = run(1);
  EXPECT_EQ(record.outcome, job::Outcome::kPrinted);
  EXPECT_EQ(debug.lines, (Lines{"page file not deleted \n"}));
}

/// Passes events to the journal's log and notes the copy's two in the spooler's calls.
class NotedEvents : public job::JobEvents {
 public:
  NotedEvents(job::JobEvents& log, std::vector<std::string>& calls) : log_(log), calls_(calls) {}
  void line(std::string_view line) override { log_.line(line); }
  void emptyPage(std::uint32_t page) override { log_.emptyPage(page); }
  void documentEnding() override { log_.documentEnding(); }
  void copyDone(const job::CopyRecord& copy) override {
    calls_.push_back("copyDone");
    log_.copyDone(copy);
  }
  void copySettled() override {
    calls_.push_back("copySettled");
    log_.copySettled();
  }
  void runEnded(job::RunEnd end) override { log_.runEnded(end); }

 private:
  job::JobEvents& log_;
  std::vector<std::string>& calls_;
};

TEST_F(JobRunnerEventsTest, ACopysRecordIsWrittenBeforeTheSpoolerSettlesItsDocumentAndSyncedAfter) {
  addPage(1, "page one, the last..", 2);
  const job::JobRequest request{kPrinter, kJob, 2, u'T', 0, 1000u};
  spooler.failOn("EndDocPrinter", 2);
  spooler.failOn("SettleDoc", 1, 5, "spoolrelayer: document 00000001 not synced \n");
  auto log = journal.accept(request);
  NotedEvents events(*log, spooler.calls);
  spooler.calls.clear();
  debug.lines.clear();
  job::runJob(ports, request, events);
  std::vector<std::string> ends;
  std::copy_if(spooler.calls.begin(), spooler.calls.end(), std::back_inserter(ends),
               [](const std::string& c) {
                 return c == "EndDocPrinter" || c == "copyDone" || c == "SettleDoc" ||
                        c == "copySettled";
               });
  // Copy 1 ends; copy 2's end fails, so there is nothing to settle.
  EXPECT_EQ(ends, (Lines{"EndDocPrinter", "copyDone", "SettleDoc", "copySettled", "EndDocPrinter",
                         "copyDone", "copySettled"}));
  // A document that could not be synced after it was published says so.
  EXPECT_NE(std::find(debug.lines.begin(), debug.lines.end(),
                      "spoolrelayer: document 00000001 not synced \n"),
            debug.lines.end());
}

}  // namespace
