// The relay with CUPS as its spooler: `spoolrelayer --spooler cups` against the private
// scheduler of scripts/cups-test-server (CUPS_SERVER and CUPS_TEST_ROOT set), compared
// with what `relaytool process` gives for the same pages and printer data.
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/ProcessSupport.h"

namespace {

using e2e::Bytes;
using namespace std::chrono_literals;

using e2e::pageFile;

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

/// A text page with a QR placeholder, and an image page of dithered one-row rasters.
std::vector<Bytes> samplePages() {
  Bytes first = text("RECEIPT 0042\nTotal 5.70\n");
  for (int i = 0; i < 7; ++i) first.insert(first.end(), {0x98, 0x07});
  first.insert(first.end(), {0x09, 0x0D});
  const Bytes qr = text("HTTPS://EXAMPLE.COM/0042\r\n");
  first.insert(first.end(), qr.begin(), qr.end());
  Bytes image;
  for (int y = 0; y < 40; ++y) {
    image.insert(image.end(), {0x1D, 0x76, 0x30, 0x00, 16, 0x00, 0x01, 0x00});
    for (int x = 0; x < 16; ++x)
      image.push_back(static_cast<std::uint8_t>((y + x) % 2 ? 0xAA : 0x55));
    image.push_back(0x0D);
  }
  return {pageFile(first, 0), pageFile(image, 2)};
}

std::string base64(const Bytes& bytes) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= bytes[i + 2];
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? abc[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? abc[v & 63] : '=';
  }
  return out;
}

class RelayOnCups : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* server = std::getenv("CUPS_SERVER");
    const char* root = std::getenv("CUPS_TEST_ROOT");
    if (server == nullptr || root == nullptr) GTEST_SKIP() << "no private CUPS scheduler";
    cupsRoot = root;
    output = cupsRoot + "/out/" + printer + ".bin";
    ASSERT_TRUE(e2e::writeFile(output, {}));
    // A queue of its own whose bytes land in a file, with the relay's printer data as
    // base64 options; the same values go into a data folder for relaytool process.
    const std::vector<std::pair<std::string, Bytes>> values{
        {"PRTDATA_IDX_HIGH_SPEED_MODE", {1, 0, 0, 0}},
        {"PRTDATA_IDX_TEST", {5, 0, 0, 0}},
        {"PRTDATA_IDX_BARCODE_2D", {7, 2, 1, 1, 0}}};
    std::vector<std::string> lpadmin{
        "/usr/sbin/lpadmin",           "-p", printer, "-E", "-v", "file://" + output, "-P",
        cupsRoot + "/raw-passthru.ppd"};
    e2e::makeDirs(dataDir());
    for (const auto& [name, bytes] : values) {
      lpadmin.insert(lpadmin.end(), {"-o", name + "-default=" + base64(bytes)});
      ASSERT_TRUE(e2e::writeFile(dataDir() + "/" + name, bytes));
    }
    ASSERT_EQ(e2e::runProgram(lpadmin), 0);
    e2e::makeDirs(publicDir());
    relay = e2e::startRelay(e2e::builtProgram("spoolrelayer"), publicDir(), "cups", endpoint,
                            tmp.path() + "/relay.log");
  }
  void TearDown() override {
    if (relay && relay->running()) {
      EXPECT_EQ(e2e::stopRelay(*relay, 5s), std::optional<int>(0));
    }
  }

  std::string publicDir() const { return tmp.path() + "/public"; }
  std::string dataDir() const { return tmp.path() + "/data"; }

  /// The ids of the queue's jobs in a state lpstat shows with `which`.
  std::string jobs(const std::string& which) {
    Bytes out;
    e2e::runProgram({"/usr/bin/lpstat", "-W", which, "-o", printer}, &out);
    return std::string(out.begin(), out.end());
  }
  int completedCount() {
    const std::string listing = jobs("completed");
    int n = 0;
    for (std::size_t at = listing.find(printer + "-"); at != std::string::npos;
         at = listing.find(printer + "-", at + 1)) {
      ++n;
    }
    return n;
  }

  void post(std::uint32_t jobId, std::uint32_t copies, const std::vector<std::string>& pages) {
    std::vector<std::string> argv{e2e::builtProgram("tools/relaytool"),
                                  "post",
                                  "--printer",
                                  printer,
                                  "--job-id",
                                  std::to_string(jobId),
                                  "--copies",
                                  std::to_string(copies),
                                  "--model",
                                  "P",
                                  "--public-dir",
                                  publicDir(),
                                  "--endpoint",
                                  endpoint};
    argv.insert(argv.end(), pages.begin(), pages.end());
    ASSERT_TRUE(e2e::waitUntil([&] { return e2e::runProgram(argv) == 0; }));
  }

  /// Submits a small raw job as root, waits until it completes, and returns its id.
  std::uint32_t finishedJobOfRoot() {
    Bytes lpOut;
    const std::string driverFile = tmp.path() + "/driver.prn";
    EXPECT_TRUE(e2e::writeFile(driverFile, text("driver job\n")));
    EXPECT_EQ(e2e::runProgram({"/usr/bin/lp", "-d", printer, "-o", "raw", driverFile}, &lpOut), 0);
    const std::string lpText(lpOut.begin(), lpOut.end());
    const std::size_t idAt = lpText.find(printer + "-");
    EXPECT_NE(idAt, std::string::npos) << lpText;
    if (idAt == std::string::npos) return 0;
    EXPECT_TRUE(e2e::waitUntil([&] { return completedCount() == 1; }, 30s));
    return static_cast<std::uint32_t>(std::stoul(lpText.substr(idAt + printer.size() + 1)));
  }
  bool listed(const std::string& which, std::uint32_t jobId) {
    return jobs(which).find(printer + "-" + std::to_string(jobId) + " ") != std::string::npos;
  }

  e2e::TempDir tmp;
  std::string cupsRoot;
  // A queue per test: the scheduler keeps every test's job history.
  static inline int queues = 0;
  std::string printer = "RELAY_" + std::to_string(::getpid()) + "_" + std::to_string(++queues);
  std::string output;
  std::string endpoint = "spr-cups-" + std::to_string(::getpid());
  std::unique_ptr<e2e::Child> relay;
};

TEST_F(RelayOnCups, CopiesArriveAsProcessedWithThePrintersSettingsAndTheDriversJobGoes) {
  // The driver's own job, finished before the relay runs: it must leave the history.
  const std::uint32_t driverJob = finishedJobOfRoot();
  ASSERT_NE(driverJob, 0u);

  std::vector<std::string> pages;
  const std::vector<Bytes> sample = samplePages();
  for (std::size_t i = 0; i < sample.size(); ++i) {
    pages.push_back(tmp.path() + "/page" + std::to_string(i + 1) + ".bin");
    ASSERT_TRUE(e2e::writeFile(pages.back(), sample[i]));
  }
  Bytes expected;
  std::vector<std::string> process{
      e2e::builtProgram("tools/relaytool"), "process", "--printer-data", dataDir(), "--model", "P"};
  process.insert(process.end(), pages.begin(), pages.end());
  ASSERT_EQ(e2e::runProgram(process, &expected), 0);

  post(driverJob, 2, pages);
  // Two documents complete (the file keeps the last one) and the driver's job is purged.
  ASSERT_TRUE(e2e::waitUntil(
      [&] {
        return completedCount() == 2 &&
               jobs("completed").find(printer + "-" + std::to_string(driverJob) + " ") ==
                   std::string::npos;
      },
      60s))
      << jobs("all");
  EXPECT_TRUE(
      e2e::waitUntil([&] { return e2e::readFile(output).value_or(Bytes{}) == expected; }, 10s));
  // The settings came from the queue: high-speed mode framed the image page, and the QR
  // code's module size is the stored 7 + 1.
  const Bytes got = e2e::readFile(output).value_or(Bytes{});
  const Bytes frame{0x01, 0x39, 0x36, 0x02, 0xAA};
  const Bytes qrSize{0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, 0x08};
  EXPECT_NE(std::search(got.begin(), got.end(), frame.begin(), frame.end()), got.end());
  EXPECT_NE(std::search(got.begin(), got.end(), qrSize.begin(), qrSize.end()), got.end());
}

// A notice from another account names root's finished job: the relay leaves it.
TEST_F(RelayOnCups, AnotherAccountsFinishedJobIsNotPurged) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "posting as another account needs root and setpriv";
  }
  const std::uint32_t driverJob = finishedJobOfRoot();
  ASSERT_NE(driverJob, 0u);
  e2e::Watch locks(e2e::lockDirFor(publicDir()), IN_DELETE | IN_CLOSE);
  ASSERT_TRUE(locks.ok());
  const std::vector<std::string> asNobody{"/usr/bin/setpriv",
                                          "--reuid=65534",
                                          "--regid=65534",
                                          "--clear-groups",
                                          "--",
                                          e2e::builtProgram("tools/relaytool"),
                                          "post",
                                          "--printer",
                                          printer,
                                          "--job-id",
                                          std::to_string(driverJob),
                                          "--copies",
                                          "0",
                                          "--endpoint",
                                          endpoint};
  ASSERT_TRUE(e2e::waitUntil([&] { return e2e::runProgram(asNobody) == 0; }));
  ASSERT_TRUE(locks.waitFor(IN_DELETE | IN_CLOSE));  // the run has ended
  EXPECT_TRUE(listed("completed", driverJob)) << jobs("all");

  post(driverJob, 0, {});  // root's own notice purges it
  EXPECT_TRUE(e2e::waitUntil([&] { return !listed("completed", driverJob); }, 30s)) << jobs("all");
}

// Told to end while a document is being sent, the relay cancels its CUPS job rather than
// leave it incoming for ever.
TEST_F(RelayOnCups, TerminationCancelsTheJobBeingSent) {
  const std::string first = tmp.path() + "/first.bin";
  ASSERT_TRUE(e2e::writeFile(first, pageFile(text("page one; page two never comes\n"), 0)));
  post(90, 1, {first});
  ASSERT_TRUE(e2e::waitUntil(
      [&] { return jobs("not-completed").find(printer + "-") != std::string::npos; }, 30s));
  EXPECT_EQ(e2e::stopRelay(*relay, 5s), std::optional<int>(0));
  EXPECT_TRUE(e2e::waitUntil(
      [&] { return jobs("not-completed").find(printer + "-") == std::string::npos; }, 10s))
      << jobs("all");
  EXPECT_EQ(completedCount(), 1) << jobs("all");  // as canceled: it printed nothing
  EXPECT_EQ(e2e::readFile(output), Bytes{});
}

}  // namespace
