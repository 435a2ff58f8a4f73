// The CUPS spooler against a real scheduler. The CupsSpooler tests, the spooler contract's
// among them, need the private one of scripts/cups-test-server (ctest runs them as
// `cups_spooler`); the offline ones need none.
#include "platform/posix/CupsSpooler.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Utf.h"
#include "fakes/Bytes.h"
#include "job/JobRunner.h"
#include "platform/posix/DirectorySpooler.h"
#include "posix/SpoolerContract.h"

namespace {

using fakes::Bytes;
using platform::JobEntry;

constexpr auto kJobDeadline = std::chrono::seconds(20);

std::string env(const char* name, const char* fallback = "") {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

/// The jobs of a queue as libcups lists them, all users, finished ones included.
class JobList {
 public:
  JobList(const JobList&) = delete;
  JobList& operator=(const JobList&) = delete;
  JobList(http_t* http, const std::string& queue) {
    count_ = cupsGetJobs2(http, &jobs_, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
  }
  ~JobList() { cupsFreeJobs(count_ < 0 ? 0 : count_, jobs_); }
  bool ok() const { return count_ >= 0; }
  const cups_job_t* find(int id) const {
    for (int i = 0; i < count_; ++i)
      if (jobs_[i].id == id) return &jobs_[i];
    return nullptr;
  }

 private:
  cups_job_t* jobs_ = nullptr;
  int count_ = -1;
};

/// The IPP operations in the private scheduler's access log, which logs every request.
std::vector<std::string> loggedOperations() {
  std::ifstream log(env("CUPS_TEST_ROOT") + "/log/access_log");
  std::vector<std::string> operations;
  for (std::string line; std::getline(log, line);) {
    // ... "POST / HTTP/1.1" 200 226 Get-Printer-Attributes successful-ok
    std::istringstream fields(line.substr(line.rfind('"') + 1));
    std::string status, size, operation;
    if (fields >> status >> size >> operation) operations.push_back(operation);
  }
  return operations;
}

/// Asks the scheduler for its default queue, an operation nothing else here uses, and
/// waits until the log shows it: every request before it has been logged by then.
/// Returns the count of operations logged, the marker's included.
std::size_t markTheLog(http_t* http) {
  const posix::UniqueIpp response(cupsDoRequest(http, ippNewRequest(IPP_OP_CUPS_GET_DEFAULT), "/"));
  const auto deadline = std::chrono::steady_clock::now() + kJobDeadline;
  for (;;) {
    const std::vector<std::string> operations = loggedOperations();
    if (!operations.empty() && operations.back() == "CUPS-Get-Default") return operations.size();
    if (std::chrono::steady_clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::size_t openDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

// ---- no scheduler needed ----------------------------------------------------------

TEST(CupsSpoolerOffline, UnreachableSchedulerFailsTheOpenWithServerUnavailable) {
  // A socket path that cannot exist, and a loopback port nothing listens on.
  for (const char* server : {"/nonexistent-spoolrelayer/cups.sock", "127.0.0.1:1"}) {
    posix::CupsSpooler spooler(server);
    EXPECT_EQ(spooler.open(u"TESTPRN"), nullptr) << server;
    EXPECT_EQ(spooler.lastError(), platform::kErrorServerUnavailable) << server;
  }
}

TEST(CupsSpoolerOffline, NameThatCannotBeAQueueFailsAsMissingWithoutAsking) {
  // The scheduler is unreachable, so 1801 can only come from the name check.
  posix::CupsSpooler spooler("/nonexistent-spoolrelayer/cups.sock");
  const std::u16string names[] = {u"", u"A B", u"A/B", u"A#B", u"A\tB", std::u16string(128, u'P')};
  for (const std::u16string& name : names) {
    EXPECT_EQ(spooler.open(name), nullptr);
    EXPECT_EQ(spooler.lastError(), platform::kErrorInvalidPrinterName) << base::toUtf8(name);
  }
}

// One last-error slot serves every POSIX spooler of a thread, as GetLastError serves every
// winspool call; that it belongs to the thread is part of the spooler contract.
TEST(CupsSpoolerOffline, OneLastErrorServesEverySpoolerOfTheThread) {
  posix::CupsSpooler cups("/nonexistent-spoolrelayer/cups.sock");
  posix::DirectorySpooler directory("/nonexistent-spoolrelayer/printers");
  EXPECT_EQ(cups.open(u"TESTPRN"), nullptr);
  EXPECT_EQ(directory.lastError(), platform::kErrorServerUnavailable);
  EXPECT_EQ(directory.open(u"Receipt"), nullptr);
  EXPECT_EQ(cups.lastError(), platform::kErrorInvalidPrinterName);
}

TEST(CupsSpoolerOffline, OnlyACompletedJobHasAStatusTheRunnerRemoves) {
  struct Case {
    int state;
    bool incoming;
    std::uint32_t status;
  };
  const Case cases[] = {
      {IPP_JSTATE_PENDING, false, 0},     {IPP_JSTATE_HELD, true, 0x8},
      {IPP_JSTATE_HELD, false, 0x1},      {IPP_JSTATE_PROCESSING, false, 0x10},
      {IPP_JSTATE_STOPPED, false, 0x3},   {IPP_JSTATE_CANCELED, false, 0x100},
      {IPP_JSTATE_ABORTED, false, 0x2},   {IPP_JSTATE_COMPLETED, false, 0x80},
      {IPP_JSTATE_COMPLETED, true, 0x80}, {42, false, 0},
  };
  for (const Case& c : cases) {
    const std::uint32_t status = posix::jobStatusFor(c.state, c.incoming);
    EXPECT_EQ(status, c.status) << "state " << c.state;
    const bool removable =
        status == platform::kJobStatusPrinted || status == platform::kJobStatusComplete;
    EXPECT_EQ(removable, c.state == IPP_JSTATE_COMPLETED) << "state " << c.state;
  }
}

// ---- against the private scheduler ------------------------------------------------

const char kNeedsScheduler[] =
    "CUPS_SERVER is not set: these tests need a private scheduler "
    "(ctest -R cups_spooler, or eval \"$(scripts/cups-test-server start)\")";

platform::DocInfo myDocument() {
  return {u"My Document", std::nullopt, u"RAW"};
}

/// Sends `pages` as one RAW document, each page in writes of at most `chunk` bytes, and
/// returns its job id (0 on failure).
int printDocument(posix::CupsPrinter& printer, const std::vector<Bytes>& pages, std::size_t chunk) {
  if (!printer.startDoc(myDocument())) return 0;
  for (const Bytes& page : pages) {
    EXPECT_TRUE(printer.startPage());
    for (std::size_t at = 0; at < page.size(); at += chunk) {
      const std::size_t n = std::min(chunk, page.size() - at);
      EXPECT_TRUE(printer.write(std::span(page).subspan(at, n)));
    }
    EXPECT_TRUE(printer.endPage());
  }
  EXPECT_TRUE(printer.endDoc());
  return printer.jobId();
}

/// Polls the printer's listing until job `id` has `status`, CUPS has finished with it, or
/// the deadline passes; returns the status last seen (nullopt when the job was not listed).
/// The scheduler is another process, so this waits in real time.
std::optional<std::uint32_t> waitForJobStatus(posix::CupsPrinter& printer, http_t* http, int id,
                                              std::uint32_t status) {
  std::optional<std::uint32_t> seen;
  const auto deadline = std::chrono::steady_clock::now() + kJobDeadline;
  for (bool finished = false; !finished && std::chrono::steady_clock::now() < deadline;) {
    const JobList jobs(http, printer.name());
    finished = jobs.find(id) && jobs.find(id)->state >= IPP_JSTATE_CANCELED;
    std::vector<JobEntry> entries;
    EXPECT_TRUE(printer.enumJobs(entries));
    seen.reset();
    for (const JobEntry& e : entries)
      if (e.jobId == static_cast<std::uint32_t>(id)) seen = e.status;
    if (seen == status) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return seen;
}

/// The bytes of the queue's output file: its device URI without "file://".
Bytes outputFile(platform::Printer& printer) {
  std::u16string port;
  std::uint32_t needed = 0;
  (void)printer.queryInfoSize(needed);
  std::vector<std::byte> block(needed);
  EXPECT_TRUE(printer.readInfo(block, port));
  const std::string uri = base::toUtf8(port);
  EXPECT_EQ(uri.rfind("file://", 0), 0u) << uri;
  std::ifstream in(uri.substr(7), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The spooler contract's harness: the private scheduler's queue, whose values
/// scripts/cups-test-server sets, and whose output file holds the last job.
class CupsHarness {
 public:
  bool ready(std::string& why) {
    if (env("CUPS_SERVER").empty()) {
      why = kNeedsScheduler;
      return false;
    }
    http_ = posix::connectTo(cupsServer(), ippPort());
    EXPECT_NE(http_, nullptr);
    return true;
  }
  platform::Spooler& spooler() { return spooler_; }
  std::u16string printerName() const { return base::toUtf16(env("CUPS_TEST_PRINTER", "TESTPRN")); }
  std::u16string missingName() const { return u"SPR_NO_SUCH_QUEUE"; }

  Bytes document(platform::Printer& printer) {
    auto& queue = dynamic_cast<posix::CupsPrinter&>(printer);
    EXPECT_EQ(waitForJobStatus(queue, http_.get(), queue.jobId(), platform::kJobStatusPrinted),
              platform::kJobStatusPrinted);
    return outputFile(printer);
  }

  std::uint32_t printedJob(platform::Printer& printer) {
    auto& queue = dynamic_cast<posix::CupsPrinter&>(printer);
    const int id = printDocument(queue, {fakes::hex("52 45 4D 4F 56 45")}, 2);
    if (id <= 0 || waitForJobStatus(queue, http_.get(), id, platform::kJobStatusPrinted) !=
                       platform::kJobStatusPrinted) {
      return 0;
    }
    return static_cast<std::uint32_t>(id);
  }

 private:
  posix::CupsSpooler spooler_;
  posix::UniqueHttp http_;
};

}  // namespace

namespace spoolercontract {
INSTANTIATE_TYPED_TEST_SUITE_P(CupsSpooler, SpoolerContract, ::testing::Types<CupsHarness>);
}  // namespace spoolercontract

namespace {

class CupsSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("CUPS_SERVER").empty()) GTEST_SKIP() << kNeedsScheduler;
    queue_ = env("CUPS_TEST_PRINTER", "TESTPRN");
    printer_ = spooler_.openQueue(base::toUtf16(queue_));
    ASSERT_NE(printer_, nullptr) << "open " << queue_ << ": " << spooler_.lastError();
    http_ = posix::connectTo(cupsServer(), ippPort());
    ASSERT_NE(http_, nullptr);
  }

  int print(const std::vector<Bytes>& pages, std::size_t chunk) {
    return printDocument(*printer_, pages, chunk);
  }
  std::optional<std::uint32_t> waitForStatus(int id, std::uint32_t status) {
    return waitForJobStatus(*printer_, http_.get(), id, status);
  }

  posix::CupsSpooler spooler_;
  std::string queue_;
  std::unique_ptr<posix::CupsPrinter> printer_;
  posix::UniqueHttp http_;
};

TEST_F(CupsSpoolerTest, MissingQueueAndMissingSchedulerFailWithDifferentCodes) {
  EXPECT_EQ(spooler_.open(u"SPR_NO_SUCH_QUEUE"), nullptr);
  EXPECT_EQ(spooler_.lastError(), platform::kErrorInvalidPrinterName);
  posix::CupsSpooler nowhere("/nonexistent-spoolrelayer/cups.sock");
  EXPECT_EQ(nowhere.open(base::toUtf16(queue_)), nullptr);
  EXPECT_EQ(nowhere.lastError(), platform::kErrorServerUnavailable);
}

TEST_F(CupsSpoolerTest, QueueNamesAreFoundWithoutRegardToCase) {
  std::string lower = queue_;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto printer = spooler_.openQueue(base::toUtf16(lower));
  ASSERT_NE(printer, nullptr) << spooler_.lastError();
  EXPECT_EQ(printer->name(), queue_);
}

TEST_F(CupsSpoolerTest, PortIsTheDeviceUri) {
  std::uint32_t needed = 0;
  EXPECT_FALSE(printer_->queryInfoSize(needed));
  std::vector<std::byte> block(needed);
  std::u16string port;
  ASSERT_TRUE(printer_->readInfo(block, port));
  const std::string root = env("CUPS_TEST_ROOT");
  if (root.empty()) {
    EXPECT_EQ(base::toUtf8(port).rfind("file:///", 0), 0u);
  } else {
    EXPECT_EQ(base::toUtf8(port), "file://" + root + "/out/" + queue_ + ".bin");
  }
}

TEST_F(CupsSpoolerTest, OnlyTheQueuesBase64DefaultOptionsAreValues) {
  // Not base64, and queue attributes that are not a NAME-default option.
  for (const char* name : {"SPR_TEST_NOT_BASE64", "device-uri", "printer-name"}) {
    Bytes dest(8, 0xEE);
    EXPECT_EQ(printer_->getData(name, dest), platform::kErrorFileNotFound) << name;
    EXPECT_EQ(dest, Bytes(8, 0xEE)) << name;
  }
}

TEST_F(CupsSpoolerTest, ADocumentIsARawJobNamedAfterIt) {
  const int id = print({fakes::hex("1B 40 0A")}, 64);
  ASSERT_GT(id, 0) << spooler_.lastError();
  EXPECT_EQ(waitForStatus(id, platform::kJobStatusPrinted), platform::kJobStatusPrinted);
  JobList jobs(http_.get(), queue_);
  ASSERT_TRUE(jobs.ok());
  ASSERT_NE(jobs.find(id), nullptr);
  EXPECT_STREQ(jobs.find(id)->title, "My Document");
  EXPECT_STREQ(jobs.find(id)->format, CUPS_FORMAT_RAW);
}

TEST_F(CupsSpoolerTest, DocumentsFollowOneAnotherOnOnePrinter) {
  const int first = print({fakes::hex("41 42 43")}, 64);
  ASSERT_GT(first, 0);
  const int second = print({fakes::hex("44"), fakes::hex("45 46")}, 1);
  ASSERT_GT(second, first);
  EXPECT_EQ(waitForStatus(first, platform::kJobStatusPrinted), platform::kJobStatusPrinted);
  EXPECT_EQ(waitForStatus(second, platform::kJobStatusPrinted), platform::kJobStatusPrinted);
  EXPECT_EQ(outputFile(*printer_), fakes::hex("44 45 46"));  // each job replaces the file
}

TEST_F(CupsSpoolerTest, ADocumentBeingSentIsListedAsSpooling) {
  ASSERT_TRUE(printer_->startDoc(myDocument()));
  ASSERT_TRUE(printer_->startPage());
  ASSERT_TRUE(printer_->write(fakes::hex("01 02 03")));
  const int id = printer_->jobId();
  std::vector<JobEntry> entries;
  ASSERT_TRUE(printer_->enumJobs(entries));
  std::optional<std::uint32_t> status;
  std::optional<std::uint32_t> owner;
  for (const JobEntry& e : entries) {
    if (e.jobId == static_cast<std::uint32_t>(id)) {
      status = e.status;
      owner = e.owner;
    }
  }
  EXPECT_EQ(status, platform::kJobStatusSpooling);
  // Its originating user is this process's account.
  EXPECT_EQ(owner, std::optional<std::uint32_t>(::getuid()));
  EXPECT_TRUE(printer_->endPage());
  EXPECT_TRUE(printer_->endDoc());
  EXPECT_EQ(waitForStatus(id, platform::kJobStatusPrinted), platform::kJobStatusPrinted);
}

TEST_F(CupsSpoolerTest, ADocumentLeftOpenIsCanceledWhenThePrinterCloses) {
  ASSERT_TRUE(printer_->startDoc(myDocument()));
  ASSERT_TRUE(printer_->startPage());
  ASSERT_TRUE(printer_->write(fakes::hex("01 02 03")));
  const int id = printer_->jobId();
  printer_.reset();
  JobList jobs(http_.get(), queue_);
  ASSERT_TRUE(jobs.ok());
  ASSERT_NE(jobs.find(id), nullptr);
  EXPECT_EQ(jobs.find(id)->state, IPP_JSTATE_CANCELED);
}

TEST_F(CupsSpoolerTest, ARemovedJobIsPurgedFromTheHistory) {
  const int id = print({fakes::hex("52 45 4D 4F 56 45")}, 2);
  ASSERT_GT(id, 0);
  ASSERT_EQ(waitForStatus(id, platform::kJobStatusPrinted), platform::kJobStatusPrinted);
  EXPECT_TRUE(job::removeFinishedJob(*printer_, static_cast<std::uint32_t>(id), std::nullopt));
  JobList jobs(http_.get(), queue_);
  ASSERT_TRUE(jobs.ok());
  EXPECT_EQ(jobs.find(id), nullptr);
}

TEST_F(CupsSpoolerTest, ARunAsksFourRequestsOverOneConnection) {
  // What a run asks of the scheduler: the queue's attributes at the open, the job and its
  // document, and the listing for the finished-job removal; nothing twice, and all of it
  // over the printer's one connection.
  const std::size_t before = markTheLog(http_.get());
  ASSERT_GT(before, 0u);
  const std::size_t descriptors = openDescriptors();
  auto printer = spooler_.openQueue(base::toUtf16(queue_));
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(openDescriptors(), descriptors + 1);
  ASSERT_TRUE(printer->startDoc(myDocument()));
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(fakes::hex("41 42 43 00")));
  ASSERT_TRUE(printer->endPage());
  ASSERT_TRUE(printer->endDoc());
  std::vector<JobEntry> entries;
  ASSERT_TRUE(printer->enumJobs(entries));
  EXPECT_EQ(openDescriptors(), descriptors + 1);
  printer.reset();
  EXPECT_EQ(openDescriptors(), descriptors);

  const std::size_t after = markTheLog(http_.get());
  ASSERT_GT(after, before);
  const std::vector<std::string> operations = loggedOperations();
  const std::vector<std::string> asked(operations.begin() + static_cast<std::ptrdiff_t>(before),
                                       operations.begin() + static_cast<std::ptrdiff_t>(after) - 1);
  EXPECT_EQ(asked, (std::vector<std::string>{"Get-Printer-Attributes", "Create-Job",
                                             "Send-Document", "Get-Jobs"}));
}

TEST_F(CupsSpoolerTest, CallsOutOfOrderAndOtherDataTypesFail) {
  EXPECT_FALSE(printer_->startPage());
  EXPECT_EQ(spooler_.lastError(), platform::kErrorInvalidHandle);
  EXPECT_FALSE(printer_->write(fakes::hex("00")));
  EXPECT_EQ(spooler_.lastError(), platform::kErrorInvalidHandle);
  EXPECT_FALSE(printer_->endDoc());
  EXPECT_EQ(spooler_.lastError(), platform::kErrorInvalidHandle);
  EXPECT_FALSE(printer_->startDoc({u"My Document", std::nullopt, u"NT EMF 1.008"}));
  EXPECT_EQ(spooler_.lastError(), platform::kErrorInvalidDatatype);
  EXPECT_EQ(printer_->jobId(), 0);  // no job was created for either
}

}  // namespace
