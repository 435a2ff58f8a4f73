// What the directory spooler says about its failures: a missing printer as against a
// root that can't be used, and documents that could not be started, written or
// published, with the printer, the document and the system's reason.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sched.h>

#include "platform/posix/DirectorySpooler.h"
#include "posix/TempDir.h"

namespace {

using posixtest::TempDir;

const platform::DocInfo kDoc{u"My Document", std::nullopt, u"RAW"};

class DirectorySpoolerLines : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.ok());
    root.makeDir("printers/Receipt");
  }
  std::string printers() const { return root / "printers"; }

  TempDir root;
  posix::DirectorySpooler spooler{root / "printers"};
};

TEST_F(DirectorySpoolerLines, AMissingPrinterIsToldFromAMissingRoot) {
  EXPECT_EQ(spooler.open(u"Nope"), nullptr);
  EXPECT_EQ(spooler.lastFailureLine(),
            "spoolrelayer: no printer is named \"Nope\" in " + printers() + " \n");
  EXPECT_EQ(spooler.open(u"a/b"), nullptr);
  EXPECT_EQ(spooler.lastFailureLine(),
            "spoolrelayer: no printer is named \"a/b\": the name can't be a folder name \n");

  posix::DirectorySpooler noRoot(root / "missing");
  EXPECT_EQ(noRoot.open(u"Receipt"), nullptr);
  EXPECT_EQ(noRoot.lastError(), platform::kErrorInvalidPrinterName);
  EXPECT_EQ(noRoot.lastFailureLine(), "spoolrelayer: spooler root " + root / "missing" +
                                          " can't be used: No such file or directory \n");
  // A later failure without an account of its own leaves no stale line.
  auto printer = spooler.open(u"Receipt");
  ASSERT_NE(printer, nullptr);
  EXPECT_FALSE(printer->startPage());
  EXPECT_EQ(spooler.lastFailureLine(), "");
}

TEST_F(DirectorySpoolerLines, ADocumentThatCannotStartIsNamedWithTheReason) {
  root.write("printers/Receipt/documents", "a file where the folder should be");
  auto printer = spooler.open(u"Receipt");
  ASSERT_NE(printer, nullptr);
  EXPECT_FALSE(printer->startDoc(kDoc));
  EXPECT_EQ(spooler.lastFailureLine(), "spoolrelayer: printer Receipt: document not started in " +
                                           printers() + "/Receipt/documents: Not a directory \n");
}

TEST_F(DirectorySpoolerLines, ADocumentThatLostAWriteIsNeverPublished) {
  auto printer = spooler.open(u"Receipt");
  ASSERT_NE(printer, nullptr);
  ASSERT_TRUE(printer->startDoc(kDoc));
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(std::vector<std::uint8_t>(100, 'a')));
  // Files may not grow past 150 bytes: the next write fails half-way.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 150;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = printer->write(std::vector<std::uint8_t>(100, 'b'));
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  ::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  const std::string line = "spoolrelayer: printer Receipt: document 00000001 not written in " +
                           printers() + "/Receipt/documents: File too large \n";
  EXPECT_EQ(spooler.lastFailureLine(), line);

  // With room again, the rest goes in, but the document is dropped at its end.
  EXPECT_TRUE(printer->write(std::vector<std::uint8_t>(10, 'c')));
  EXPECT_TRUE(printer->endPage());
  EXPECT_FALSE(printer->endDoc());
  EXPECT_EQ(spooler.lastFailureLine(), line);
  EXPECT_FALSE(root.exists("printers/Receipt/documents/00000001.bin"));
  EXPECT_FALSE(root.exists("printers/Receipt/documents/00000001.json"));
  EXPECT_FALSE(root.exists("printers/Receipt/documents/.00000001.bin.part"));
}

// A real full disk: a 64 KiB tmpfs as the spooler root, mounted in a mount namespace of a
// child process of its own. Skipped where the system allows no such mount.
TEST_F(DirectorySpoolerLines, AFullFilesystemIsSaidToBeFull) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const std::string mountPoint = root / "small";
  root.makeDir("small");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    auto say = [&](const std::string& text) {
      (void)!::write(pipeFds[1], text.data(), text.size());
      ::_exit(0);
    };
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
      say("skip");
    }
    ::mkdir((mountPoint + "/Receipt").c_str(), 0755);
    posix::DirectorySpooler small(mountPoint);
    auto printer = small.open(u"Receipt");
    if (!printer || !printer->startDoc(kDoc) || !printer->startPage()) say("not started");
    const std::vector<std::uint8_t> chunk(16 * 1024, 'x');
    for (int i = 0; i < 8; ++i) {
      if (!printer->write(chunk)) say(small.lastFailureLine());
    }
    say("no failure");
  }
  ::close(pipeFds[1]);
  std::string said;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    said.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (said == "skip") GTEST_SKIP() << "no tmpfs mount in a private namespace here";
  EXPECT_EQ(said, "spoolrelayer: printer Receipt: document 00000001 not written in " + mountPoint +
                      "/Receipt/documents: No space left on device \n");
}

}  // namespace
