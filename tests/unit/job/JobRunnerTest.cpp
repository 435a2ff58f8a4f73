#include "job/JobRunner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"

namespace {

using fakes::Bytes;
using Lines = std::vector<std::string>;

constexpr char16_t kPrinter[] = u"Receipt";
constexpr std::uint32_t kJob = 0x2A;

class JobRunnerTest : public ::testing::Test {
 protected:
  void run(std::uint32_t copies, char16_t model = u'T',
           std::optional<std::uint32_t> sender = std::nullopt) {
    job::JobRequest request{kPrinter, kJob, copies, model, 0, sender};
    job::runJob(ports, request);
  }
  std::u16string path(std::uint32_t page) {
    return job::pageFilePath(u"/pub/TIVORAN", u'/', kJob, page);
  }
  /// A page of `text` (more than 15 bytes, so the text route sends it as it is).
  fakes::FakePageFiles::File& addPage(std::uint32_t page, const std::string& text,
                                      std::uint8_t state) {
    auto& file = files.files[path(page)];
    file.bytes = fakes::pageFile(Bytes(text.begin(), text.end()), state);
    return file;
  }
  Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
  int countSleeps(std::uint32_t ms) {
    return static_cast<int>(std::count(clock.sleeps.begin(), clock.sleeps.end(), ms));
  }
  int countLines(const std::string& line) {
    return static_cast<int>(std::count(debug.lines.begin(), debug.lines.end(), line));
  }

  fakes::FakeSpooler spooler;
  fakes::FakePrinterState& printer = spooler.addPrinter(kPrinter);
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files{clock};
  fakes::FakeDebugOutput debug;
  job::JobPorts ports{spooler, locks, folders, files, clock, debug};
};

TEST(JobNames, LockNamesAndPageFilePaths) {
  const std::u16string prefix = u"{5E21C7D4-8A03-4b6e-9F12-3C7B0D4A6E91}_";
  EXPECT_EQ(job::printerLockName(u"ABC"), prefix + u"410420430");
  EXPECT_EQ(job::printerLockName(u""), prefix);
  EXPECT_EQ(job::printerLockName(u"\u0005\u00FF\u1234"), prefix + u"50ff03412");
  std::u16string out;
  EXPECT_FALSE(job::hexEncodeName(out, u""));
  EXPECT_TRUE(out.empty());

  // 73 printable characters fit (219 hex digits); longer names are keyed by a digest,
  // and names that differ only at their end still get different locks.
  const std::u16string fits(73, u'A');
  std::u16string hexA;
  for (int i = 0; i < 73; ++i) hexA += u"410";
  EXPECT_EQ(job::printerLockName(fits), prefix + hexA);
  EXPECT_EQ(job::printerLockName(fits + u"A").find(u'#'), prefix.size());
  const std::u16string longA = std::u16string(200, u'x') + u"A";
  const std::u16string longB = std::u16string(200, u'x') + u"B";
  EXPECT_LE(job::printerLockName(longA).size(), 259u);
  EXPECT_NE(job::printerLockName(longA), job::printerLockName(longB));
  EXPECT_EQ(job::printerLockName(longA), job::printerLockName(std::u16string(longA)));
  EXPECT_NE(job::printerLockName(longA).find(u'#'), std::u16string::npos);

  EXPECT_EQ(job::pageFilePath(u"C:\\Users\\Public\\TIVORAN", u'\\', 0x2A, 1),
            u"C:\\Users\\Public\\TIVORAN\\TIVORAN_0000002A_00000001.bin");
  EXPECT_EQ(job::pageFilePath(u"/d", u'/', 0xDEADBEEF, 0x10), u"/d/TIVORAN_DEADBEEF_00000010.bin");
}

TEST_F(JobRunnerTest, ThreePagesTwoCopies) {
  addPage(1, "page one, plain text", 0);
  addPage(2, "page two, plain text", 1);
  addPage(3, "page three, the last", 2);
  run(2);

  ASSERT_EQ(printer.documents.size(), 2u);
  for (const fakes::FakeDocument& doc : printer.documents) {
    EXPECT_EQ(doc.info.docName, u"My Document");
    EXPECT_FALSE(doc.info.outputFile.has_value());
    EXPECT_EQ(doc.info.dataType, u"RAW");
    EXPECT_TRUE(doc.ended);
    ASSERT_EQ(doc.pages.size(), 3u);
    EXPECT_EQ(doc.pages[0], text("page one, plain text"));
    EXPECT_EQ(doc.pages[2], fakes::concat({text("page three, the last"), {0x00}}));
  }
  EXPECT_EQ(debug.lines, (Lines{"pData->State : 0x00000000 \n", "pData->State : 0x00000001 \n",
                                "pData->State : 0x00000000 \n", "pData->State : 0x00000001 \n"}));
  EXPECT_EQ(files.removed, (std::vector<std::u16string>{path(0), path(1), path(2), path(3)}));
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(printer.openHandles, 0);
  EXPECT_EQ(files.openNow, 0);
  // The lock was taken under the printer's name and is free again.
  ASSERT_EQ(locks.created.size(), 1u);
  EXPECT_EQ(locks.created[0], job::printerLockName(kPrinter));
  EXPECT_FALSE(locks.locks.begin()->second.owned);
  EXPECT_EQ(locks.locks.begin()->second.handles, 0);
  // The order of the spooler calls for one copy.
  const std::vector<std::string> firstCopy(spooler.calls.begin() + 10, spooler.calls.begin() + 21);
  EXPECT_EQ(firstCopy, (std::vector<std::string>{
                           "StartDocPrinter", "StartPagePrinter", "WritePrinter", "EndPagePrinter",
                           "StartPagePrinter", "WritePrinter", "EndPagePrinter", "StartPagePrinter",
                           "WritePrinter", "WritePrinter", "EndPagePrinter"}));
  EXPECT_EQ(spooler.calls.back(), "ClosePrinter");
}

TEST_F(JobRunnerTest, NoCopiesStillDeletesPageZeroAndRemovesTheFinishedJob) {
  addPage(1, "page one, plain text", 2);
  printer.queue = {{kJob, platform::kJobStatusPrinted, std::nullopt}};
  run(0);
  EXPECT_TRUE(printer.documents.empty());
  EXPECT_EQ(files.removed, (std::vector<std::u16string>{path(0)}));
  EXPECT_TRUE(printer.queue.empty());
  EXPECT_EQ(spooler.count("ClosePrinter"), 1);
}

TEST_F(JobRunnerTest, LatePageIsPolledEveryHundredMilliseconds) {
  addPage(1, "page one, plain text", 2).appearsAtMs = 5000;
  run(1);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_EQ(printer.documents[0].bytes(), fakes::concat({text("page one, plain text"), {0}}));
  EXPECT_EQ(countSleeps(100), 50);
  EXPECT_EQ(files.openAttempts, 51);
}

TEST_F(JobRunnerTest, LatePageIsSentWhenItArrivesNotAtTheNextPause) {
  addPage(1, "page one, plain text", 2).appearsAtMs = 5050;
  run(1);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_EQ(printer.documents[0].bytes(), fakes::concat({text("page one, plain text"), {0}}));
  // Fifty whole pauses, then the file's arrival ends the 51st halfway.
  EXPECT_EQ(countSleeps(100), 50);
  EXPECT_EQ(clock.now, 5050u);
  EXPECT_EQ(files.openAttempts, 52);
  EXPECT_EQ(files.wakeUps, 1);
  // One watch for the run, on the spool directory.
  EXPECT_EQ(files.watched, (std::vector<std::u16string>{u"/pub/TIVORAN"}));
}

TEST_F(JobRunnerTest, FolderChangingEveryMillisecondDoesNotStretchTheWait) {
  // Every change wakes the run and it tries the file again, but only time counts: each
  // copy still ends after 300 pauses of 100 ms.
  files.changeEveryMs = 1;
  addPage(1, "page one, plain text", 0);
  run(2);
  ASSERT_EQ(printer.documents.size(), 2u);
  for (const auto& doc : printer.documents) {
    EXPECT_EQ(doc.pages.size(), 1u);
    EXPECT_TRUE(doc.ended);
  }
  EXPECT_EQ(clock.now, 60'000u);
  EXPECT_EQ(files.wakeUps, 60'000);
  EXPECT_EQ(files.openAttempts, 2 * (1 + 30'001));
  // Changes at odd moments do not stretch it either.
  files.changeEveryMs = 0;
  files.changesAtMs = {60'001, 60'050, 60'099, 60'100, 60'150, 75'555};
  clock.now = 60'000;
  printer.documents.clear();
  run(1);
  EXPECT_EQ(clock.now, 90'000u);
}

TEST_F(JobRunnerTest, WaitsCountFromTheLastPageSent) {
  files.changeEveryMs = 7;
  addPage(1, "page one, plain text", 0);
  addPage(2, "page two, plain text", 0).appearsAtMs = 20'050;
  run(1);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_EQ(printer.documents[0].pages.size(), 2u);
  // Page 3 never comes: 300 pauses from the moment page 2 was sent.
  EXPECT_EQ(clock.now, 20'050u + 30'000u);
}

TEST_F(JobRunnerTest, SkippedEmptyFileDoesNotRestartTheCount) {
  // The empty page 1 arrives halfway through the 101st pause; page 2 never does. The
  // wait for page 2 goes on in that pause, so the copy ends when polling would have
  // ended it: 300 pauses after the document start.
  files.files[path(1)].appearsAtMs = 10'050;
  run(1);
  EXPECT_EQ(countLines("GetFileSizeEx FALSE \n"), 1);
  EXPECT_EQ(clock.now, 30'000u);
}

TEST_F(JobRunnerTest, CopyEndedByAPageThatCannotStartLeavesNoPauseBehind) {
  // Copy 1 finds the empty page 1 halfway through a pause and cannot start it. Copy 2
  // skips it and gets 300 whole pauses for the missing page 2.
  files.files[path(1)].appearsAtMs = 5050;
  spooler.failOn("StartPagePrinter", 1);
  run(2);
  EXPECT_EQ(countLines("StartPagePrinter Error \n"), 1);
  EXPECT_EQ(countLines("GetFileSizeEx FALSE \n"), 1);
  EXPECT_EQ(clock.now, 5050u + 30'000u);
}

TEST_F(JobRunnerTest, MissingPageEndsEachCopyAfterThreeHundredWaits) {
  addPage(1, "page one, plain text", 0);
  addPage(3, "page three, the last", 2);
  run(2);
  ASSERT_EQ(printer.documents.size(), 2u);
  for (const auto& doc : printer.documents) {
    ASSERT_EQ(doc.pages.size(), 1u);
    EXPECT_EQ(doc.pages[0], text("page one, plain text"));  // no end-of-document byte
    EXPECT_TRUE(doc.ended);
  }
  EXPECT_EQ(countSleeps(100), 600);
  EXPECT_EQ(clock.now, 60'000u);
  // Only the numbers below the missing one are deleted; page 3 stays.
  EXPECT_EQ(files.removed, (std::vector<std::u16string>{path(0), path(1)}));
  EXPECT_TRUE(files.files.count(path(3)));
}

TEST_F(JobRunnerTest, DocumentStartAfterAMissingPageGetsOneAttempt) {
  // The first copy ends on the missing page 2 with the shared counter at 300, so the
  // second copy's failing document start is tried once, without a message.
  addPage(1, "page one, plain text", 0);
  spooler.failOn("StartDocPrinter", 2);
  run(2);
  EXPECT_EQ(spooler.count("StartDocPrinter"), 2);
  EXPECT_EQ(countLines("StartDocPrinter Error : 0x00000005 \n"), 0);
}

TEST_F(JobRunnerTest, DocumentStartRetriesThenTheCopyGoesOn) {
  addPage(1, "page one, plain text", 2);
  spooler.failOn("StartDocPrinter", 1);
  spooler.failOn("StartDocPrinter", 2);
  spooler.failOn("StartDocPrinter", 3);
  spooler.failOn("StartDocPrinter", 4);
  spooler.failOn("StartDocPrinter", 5);
  run(2);
  // First copy: five calls, four messages and four pauses, then no document, so the
  // page can't start. The second copy starts normally.
  EXPECT_EQ(spooler.count("StartDocPrinter"), 6);
  EXPECT_EQ(countLines("StartDocPrinter Error : 0x00000005 \n"), 4);
  EXPECT_EQ(countSleeps(10), 4);
  EXPECT_EQ(countLines("StartPagePrinter Error \n"), 1);
  EXPECT_EQ(spooler.count("EndDocPrinter"), 2);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_EQ(printer.documents[0].bytes(), fakes::concat({text("page one, plain text"), {0}}));
  EXPECT_EQ(files.removed, (std::vector<std::u16string>{path(0), path(1)}));
}

TEST_F(JobRunnerTest, PageThatCannotStartInTheLastCopyKeepsItsFile) {
  addPage(1, "page one, plain text", 0);
  addPage(2, "page two, the last..", 2);
  spooler.failOn("StartPagePrinter", 4);  // page 2 of the second copy
  run(2);
  EXPECT_EQ(countLines("StartPagePrinter Error \n"), 1);
  ASSERT_EQ(printer.documents.size(), 2u);
  EXPECT_EQ(printer.documents[1].pages.size(), 1u);
  EXPECT_TRUE(printer.documents[1].ended);
  EXPECT_EQ(files.removed, (std::vector<std::u16string>{path(0), path(1)}));
  EXPECT_EQ(files.openNow, 0);
}

TEST_F(JobRunnerTest, EmptyPageIsEndedDeletedAndSkipped) {
  files.files[path(1)] = {};
  addPage(2, "page two, the last..", 2);
  run(1);
  EXPECT_EQ(countLines("GetFileSizeEx FALSE \n"), 1);
  ASSERT_EQ(printer.documents.size(), 1u);
  ASSERT_EQ(printer.documents[0].pages.size(), 2u);
  EXPECT_TRUE(printer.documents[0].pages[0].empty());
  EXPECT_EQ(files.removed, (std::vector<std::u16string>{path(1), path(0), path(1), path(2)}));
  // A failing size query counts as empty too.
  addPage(1, "page one, plain text", 2).sizeFails = true;
  run(1);
  EXPECT_EQ(countLines("GetFileSizeEx FALSE \n"), 2);
}

TEST_F(JobRunnerTest, OutputFileOnlyForPortFileExactly) {
  addPage(1, "page one, plain text", 2);
  for (const std::u16string port : {u"FILE:", u"file:", u"FILE:,LPT1:"}) {
    printer.port = port;
    printer.documents.clear();
    run(1);
    ASSERT_EQ(printer.documents.size(), 1u);
    EXPECT_EQ(printer.documents[0].info.outputFile.has_value(), port == u"FILE:");
  }
  EXPECT_EQ(printer.documents[0].info.outputFile.value_or(u""), u"");
  printer.port = u"FILE:";
  printer.documents.clear();
  run(1);
  EXPECT_EQ(printer.documents[0].info.outputFile.value_or(u""), u"SpoolRelayer_00.bin");
}

TEST_F(JobRunnerTest, FinishedJobRemovalMatchesTheStatusExactly) {
  struct Case {
    std::uint32_t status;
    bool removed;
  };
  for (const Case& c : {Case{0x80, true}, Case{0x1000, true}, Case{0x90, false},
                        Case{0x1080, false}, Case{0x10, false}}) {
    printer.queue = {{7, 0x80, std::nullopt}, {kJob, c.status, std::nullopt}};
    run(0);
    EXPECT_EQ(printer.queue.size(), c.removed ? 1u : 2u) << c.status;
  }
  // A listing that does not fit yields no entries.
  printer.queue = {{7, 0x80, std::nullopt}, {kJob, 0x80, std::nullopt}};
  printer.listingFits = 1;
  run(0);
  EXPECT_EQ(printer.queue.size(), 2u);
}

// Where the endpoint tells who posted the notice, the driver's finished job is removed
// only for its own account, or for the superuser; without a sender, for anyone.
TEST_F(JobRunnerTest, FinishedJobIsRemovedOnlyForItsOwner) {
  constexpr std::uint32_t kOwner = 1000, kOther = 65534, kRoot = 0;
  struct Case {
    std::optional<std::uint32_t> owner;
    std::optional<std::uint32_t> sender;
    bool removed;
  };
  for (const Case& c : {Case{kOwner, kOther, false}, Case{std::nullopt, kOther, false},
                        Case{kOwner, kOwner, true}, Case{kOwner, kRoot, true},
                        Case{std::nullopt, kRoot, true}, Case{kOwner, std::nullopt, true}}) {
    printer.queue = {{7, 0x80, kOther}, {kJob, 0x80, c.owner}};
    run(0, u'T', c.sender);
    EXPECT_EQ(printer.queue.size(), c.removed ? 1u : 2u)
        << "owner " << c.owner.value_or(~0u) << ", sender " << c.sender.value_or(~0u);
    EXPECT_EQ(printer.queue.front().jobId, 7u);
  }
}

TEST_F(JobRunnerTest, EveryPageFileIsOpenedForTheSender) {
  addPage(1, "page one, plain text", 0);
  addPage(2, "page two, plain text", 2).appearsAtMs = 300;
  run(1, u'T', 4242u);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_EQ(printer.documents[0].pages.size(), 2u);
  ASSERT_EQ(files.senders.size(), 5u);  // page 1, three waits for page 2, page 2
  for (const auto& sender : files.senders) EXPECT_EQ(sender, std::optional<std::uint32_t>(4242));
}

TEST_F(JobRunnerTest, LockFailures) {
  locks.failCreate = true;
  run(1);
  EXPECT_EQ(debug.lines, (Lines{"CreateMutex - Error \n", "CreateMutex - Error \n"}));
  EXPECT_EQ(spooler.count("OpenPrinter"), 0);

  locks.failCreate = false;
  debug.lines.clear();
  auto& lock = locks.locks[job::printerLockName(kPrinter)];
  lock.handles = 1;  // another run holds a handle; its owner ended without releasing
  lock.abandoned = true;
  run(1);
  EXPECT_EQ(debug.lines,
            (Lines{"CreateMutex - WaitForSingleObject - Error \n", "CreateMutex - Error \n"}));
  EXPECT_EQ(spooler.count("OpenPrinter"), 0);
  EXPECT_FALSE(lock.owned);  // released in the tail
  EXPECT_EQ(lock.handles, 1);
}

TEST_F(JobRunnerTest, FailuresBeforeTheCopiesGoToTheTail) {
  folders.fail(3);
  run(1);
  EXPECT_EQ(debug.lines, (Lines{"SHGetKnownFolderPath Error : 0x00000003 \n"}));
  EXPECT_EQ(spooler.count("OpenPrinter"), 0);

  folders.fail(0);
  debug.lines.clear();
  spooler.failOn("OpenPrinter", 1);
  run(1);
  EXPECT_EQ(debug.lines, (Lines{"OpenPrinter Error \n"}));
  EXPECT_EQ(spooler.count("ClosePrinter"), 0);
}

TEST_F(JobRunnerTest, PrinterInformationFailures) {
  addPage(1, "page one, plain text", 2);
  spooler.failOn("GetPrinter", 1);
  printer.queue = {{kJob, 0x1000, std::nullopt}};
  run(1);
  EXPECT_EQ(debug.lines, (Lines{"GetPrinter1 Error \n", "SetOutputFile Error \n"}));
  EXPECT_TRUE(printer.queue.empty());  // the tail still removes the finished job
  EXPECT_EQ(spooler.count("ClosePrinter"), 1);
  EXPECT_TRUE(printer.documents.empty());

  debug.lines.clear();
  spooler.failOn("GetPrinter", 2);  // the second call of the next run
  run(1);
  EXPECT_EQ(debug.lines, (Lines{"GetPrinter2 Error \n", "SetOutputFile Error \n"}));
}

TEST_F(JobRunnerTest, UnreadablePageAbandonsTheJob) {
  addPage(1, "page one, plain text", 0);
  addPage(2, "page two, the last..", 2).readLimit = 0;
  run(2);
  EXPECT_EQ(debug.lines, (Lines{"pData->State : 0x00000000 \n", "ReadFile <= 0 \n"}));
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_FALSE(printer.documents[0].ended);
  EXPECT_EQ(spooler.count("EndPagePrinter"), 1);
  EXPECT_TRUE(files.removed.empty());  // the page files stay
  EXPECT_EQ(files.openNow, 0);
  EXPECT_EQ(printer.openHandles, 0);
  EXPECT_FALSE(locks.locks.begin()->second.owned);
}

TEST_F(JobRunnerTest, PageTooLargeForItsBlockAbandonsTheJob) {
  addPage(1, "page one, plain text", 2).reportedSize = 0xFFFFFF80u;
  run(1);
  EXPECT_EQ(debug.lines, (Lines{"pData == NULL \n"}));
  EXPECT_TRUE(files.removed.empty());
}

TEST_F(JobRunnerTest, ShortReadIsSentAsFarAsItGoes) {
  addPage(1, "page one, plain text and more", 2).readLimit = 5 + 20;
  run(1);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_EQ(printer.documents[0].bytes(), fakes::concat({text("page one, plain text"), {0}}));
}

TEST_F(JobRunnerTest, HeldPageCountsAsNotThereYet) {
  addPage(1, "page one, plain text", 2).held = true;
  run(1);
  EXPECT_EQ(countSleeps(100), 300);
  EXPECT_EQ(printer.documents[0].pages.size(), 0u);
}

}  // namespace
