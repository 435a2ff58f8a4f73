// The spooler through winspool under Wine: opening, the port query, printer data and
// RAW documents; the job queue (a stub in Wine) through a scripted queue.
#include <gtest/gtest.h>

#include <cstring>

#include "WinTestSupport.h"
#include "fakes/Bytes.h"
#include "job/JobRunner.h"
#include "platform/win32/Win32Spooler.h"

namespace {

using wintest::Bytes;

class Win32SpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Wine can't delete printer data, so every test gets a printer of its own.
    ASSERT_TRUE(wintest::addPrinter(name, L"FILE:")) << GetLastError();
    printer = spooler.open(win32::utf16(name));
    ASSERT_NE(printer, nullptr) << spooler.lastError();
  }

  std::wstring name = wintest::uniqueName(L"SpoolRelayer Test");
  win32::Win32Spooler spooler;
  std::unique_ptr<platform::Printer> printer;
};

TEST_F(Win32SpoolerTest, UnknownPrinterIsNotOpened) {
  EXPECT_EQ(spooler.open(u"No Such Printer 5E21C7D4"), nullptr);
  EXPECT_EQ(spooler.lastError(), platform::kErrorInvalidPrinterName);
}

TEST_F(Win32SpoolerTest, PortNameComesFromTheTwoCallQuery) {
  std::uint32_t needed = 0;
  EXPECT_FALSE(printer->queryInfoSize(needed));
  EXPECT_EQ(spooler.lastError(), platform::kErrorInsufficientBuffer);
  ASSERT_GT(needed, sizeof(PRINTER_INFO_2W));
  std::vector<std::byte> block(needed);
  std::u16string port;
  ASSERT_TRUE(printer->readInfo(block, port));
  EXPECT_EQ(port, u"FILE:");
}

TEST_F(Win32SpoolerTest, PrinterDataIsCopiedOnlyWhenItFits) {
  ASSERT_EQ(wintest::setPrinterData(name, L"PRTDATA_IDX_TEST", Bytes{0x14, 0, 0, 0}), 0u);
  ASSERT_EQ(wintest::setPrinterData(name, L"PRTDATA_IDX_HALFTONE_PROP", Bytes{0x0C}), 0u);

  Bytes exact(4, 0xEE);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_TEST", exact), 0u);
  EXPECT_EQ(exact, (Bytes{0x14, 0, 0, 0}));

  // A shorter value fills the first bytes; the rest is left as it was.
  Bytes longer(3, 0xEE);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_HALFTONE_PROP", longer), 0u);
  EXPECT_EQ(longer, (Bytes{0x0C, 0xEE, 0xEE}));

  // Too long for the destination (ERROR_MORE_DATA) or missing: nothing is copied.
  Bytes small(2, 0xEE);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_TEST", small), platform::kErrorMoreData);
  EXPECT_EQ(small, (Bytes{0xEE, 0xEE}));
  Bytes missing(4, 0xEE);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_BARCODE", missing), platform::kErrorFileNotFound);
  EXPECT_EQ(missing, Bytes(4, 0xEE));
}

TEST_F(Win32SpoolerTest, RawDocumentLandsByteForByte) {
  const std::wstring output = wintest::makeTempFolder(L"spr_doc") + L"\\out.bin";
  const Bytes page1{0x1B, 0x40, 0x00, 0x0D, 0x0A, 0x1D, 0x56, 0x42, 0x00, 0xFF};
  const Bytes page2{0x00, 0x1A, 0x0A, 0x0D, 0x00};
  platform::DocInfo info{u"My Document", win32::utf16(output), u"RAW"};
  ASSERT_TRUE(printer->startDoc(info)) << spooler.lastError();
  ASSERT_TRUE(printer->startPage());
  EXPECT_TRUE(printer->write(page1));
  EXPECT_TRUE(printer->endPage());
  ASSERT_TRUE(printer->startPage());
  EXPECT_TRUE(printer->write(std::span(page2).first(3)));
  EXPECT_TRUE(printer->write(std::span(page2).subspan(3)));
  EXPECT_TRUE(printer->endPage());
  EXPECT_TRUE(printer->endDoc());
  EXPECT_EQ(wintest::readFileBytes(output), fakes::concat({page1, page2}));
}

/// A printer queue as Windows keeps it, behind the two queue calls: EnumJobsW fills
/// JOB_INFO_1W entries and their strings into the caller's listing, SetJobW deletes.
class ScriptedQueue : public win32::JobQueueCalls {
 public:
  struct Job {
    DWORD id;
    DWORD status;
    std::wstring document;
  };

  BOOL enumJobs(HANDLE, DWORD firstJob, DWORD count, DWORD level, BYTE* buffer, DWORD size,
                DWORD* needed, DWORD* returned) override {
    enumArgs = {firstJob, count, level, size};
    // Entries first, their strings from the end of the listing backwards.
    const DWORD entryBytes = static_cast<DWORD>(jobs.size() * sizeof(JOB_INFO_1W));
    DWORD stringBytes = 0;
    for (const Job& job : jobs) stringBytes += static_cast<DWORD>((job.document.size() + 1) * 2);
    *needed = entryBytes + stringBytes;
    *returned = 0;
    if (*needed > size) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    BYTE* strings = buffer + size;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      const std::size_t bytes = (jobs[i].document.size() + 1) * 2;
      strings -= bytes;
      std::memcpy(strings, jobs[i].document.c_str(), bytes);
      JOB_INFO_1W entry{};
      entry.JobId = jobs[i].id;
      entry.Status = jobs[i].status;
      entry.pDocument = reinterpret_cast<wchar_t*>(strings);
      std::memcpy(buffer + i * sizeof entry, &entry, sizeof entry);
    }
    *returned = static_cast<DWORD>(jobs.size());
    return TRUE;
  }

  BOOL setJob(HANDLE, DWORD jobId, DWORD level, BYTE* job, DWORD command) override {
    JOB_INFO_1W entry;
    std::memcpy(&entry, job, sizeof entry);
    setCalls.push_back({jobId, level, command, entry.JobId, entry.Status,
                        entry.pDocument ? std::wstring(entry.pDocument) : std::wstring()});
    if (command != JOB_CONTROL_DELETE) return FALSE;
    const auto found =
        std::find_if(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == jobId; });
    if (found == jobs.end()) return FALSE;
    jobs.erase(found);
    return TRUE;
  }

  struct SetCall {
    DWORD jobId, level, command, entryId, entryStatus;
    std::wstring entryDocument;
  };
  std::vector<Job> jobs;
  std::vector<DWORD> enumArgs;
  std::vector<SetCall> setCalls;
};

class Win32JobQueueTest : public Win32SpoolerTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wintest::addPrinter(name, L"FILE:"));
    printer = scripted.open(win32::utf16(name));
    ASSERT_NE(printer, nullptr);
  }
  ScriptedQueue queue;
  win32::Win32Spooler scripted{queue};
};

TEST_F(Win32JobQueueTest, ListingAsksForAHundredJobsInA6400ByteBuffer) {
  queue.jobs = {{7, 0x10, L"Receipt 7"}, {42, platform::kJobStatusPrinted, L"Receipt 42"}};
  std::vector<platform::JobEntry> entries;
  ASSERT_TRUE(printer->enumJobs(entries));
  EXPECT_EQ(queue.enumArgs, (std::vector<DWORD>{0, 100, 1, 6400}));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].jobId, 7u);
  EXPECT_EQ(entries[0].status, 0x10u);
  EXPECT_EQ(entries[1].jobId, 42u);
  EXPECT_EQ(entries[1].status, platform::kJobStatusPrinted);
}

TEST_F(Win32JobQueueTest, ListingThatDoesNotFitGivesNoEntries) {
  for (DWORD id = 1; id <= 100; ++id) queue.jobs.push_back({id, 0, std::wstring(40, L'x')});
  std::vector<platform::JobEntry> entries;
  EXPECT_FALSE(printer->enumJobs(entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(Win32JobQueueTest, FinishedDriverJobIsDeletedWithItsListedEntry) {
  queue.jobs = {{41, platform::kJobStatusComplete, L"Other"},
                {42, platform::kJobStatusPrinted, L"Driver job"}};
  EXPECT_TRUE(job::removeFinishedJob(*printer, 42, std::nullopt));
  ASSERT_EQ(queue.setCalls.size(), 1u);
  const ScriptedQueue::SetCall& call = queue.setCalls[0];
  EXPECT_EQ(call.jobId, 42u);
  EXPECT_EQ(call.level, 1u);
  EXPECT_EQ(call.command, DWORD{JOB_CONTROL_DELETE});
  EXPECT_EQ(call.entryId, 42u);
  EXPECT_EQ(call.entryStatus, platform::kJobStatusPrinted);
  EXPECT_EQ(call.entryDocument, L"Driver job");  // the listing's own entry, strings and all
  ASSERT_EQ(queue.jobs.size(), 1u);
  EXPECT_EQ(queue.jobs[0].id, 41u);
}

TEST_F(Win32JobQueueTest, UnfinishedDriverJobStays) {
  queue.jobs = {{42, platform::kJobStatusPrinted | 0x10, L"Driver job"}};
  EXPECT_TRUE(job::removeFinishedJob(*printer, 42, std::nullopt));  // the listing's result
  EXPECT_TRUE(queue.setCalls.empty());
  EXPECT_EQ(queue.jobs.size(), 1u);
}

}  // namespace
