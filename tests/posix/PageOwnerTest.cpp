// The job runner on the real page files of the POSIX layer: a notice gets only the page
// files of the account that posted it printed and deleted. The clock is a fake, so the
// 300 waits for a page that is not the sender's take no time.
#include <gtest/gtest.h>
#include <unistd.h>

#include "base/Utf.h"
#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"
#include "job/JobRunner.h"
#include "platform/posix/PosixPageFiles.h"
#include "posix/TempDir.h"

namespace {

constexpr std::uint32_t kJob = 7;
constexpr std::uint32_t kOwner = 4242;  // no account needed
constexpr std::uint32_t kNobody = 65534;

class PageOwnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "page files of another owner need root to make";
    ASSERT_TRUE(dir.ok());
    dir.makeDir("TIVORAN");
    folders.folder = base::toUtf16(dir.path());
    const std::string text = "a receipt of its owner's";
    const fakes::Bytes page = fakes::pageFile(fakes::Bytes(text.begin(), text.end()), 2);
    dir.write(pagePath(), std::string(page.begin(), page.end()));
    ASSERT_EQ(::chown((dir / pagePath()).c_str(), kOwner, kOwner), 0);
  }

  static std::string pagePath() { return "TIVORAN/TIVORAN_00000007_00000001.bin"; }

  void run(std::uint32_t sender) {
    job::runJob(ports, job::JobRequest{u"P", kJob, 1, u'T', 0, sender});
  }

  posixtest::TempDir dir;
  fakes::FakeSpooler spooler;
  fakes::FakePrinterState& printer = spooler.addPrinter(u"P");
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  posix::PosixPageFiles files;
  fakes::FakeDebugOutput debug;
  job::JobPorts ports{spooler, locks, folders, files, clock, debug};
};

TEST_F(PageOwnerTest, AnotherAccountsPageIsWaitedForAsIfMissingAndKept) {
  run(kNobody);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_TRUE(printer.documents[0].pages.empty());
  EXPECT_EQ(clock.sleeps.size(), 300u);
  EXPECT_TRUE(dir.exists(pagePath()));

  // Its owner's own notice gets it printed, and deleted.
  run(kOwner);
  ASSERT_EQ(printer.documents.size(), 2u);
  EXPECT_EQ(printer.documents[1].pages.size(), 1u);
  EXPECT_FALSE(dir.exists(pagePath()));
}

TEST_F(PageOwnerTest, RootsNoticeReachesEveryPage) {
  run(0);
  ASSERT_EQ(printer.documents.size(), 1u);
  EXPECT_EQ(printer.documents[0].pages.size(), 1u);
  EXPECT_FALSE(dir.exists(pagePath()));
}

}  // namespace
