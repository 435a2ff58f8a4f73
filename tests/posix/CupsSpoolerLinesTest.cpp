// What the CUPS spooler says when a queue can't be opened: a scheduler that can't be
// reached, as against one that has no such queue, each with its reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/Utf.h"
#include "platform/posix/CupsSpooler.h"

namespace {

TEST(CupsSpoolerLinesOffline, AnUnreachableSchedulerIsNamedWithTheSystemsReason) {
  posix::CupsSpooler socket("/nonexistent-spoolrelayer/cups.sock");
  EXPECT_EQ(socket.open(u"TESTPRN"), nullptr);
  EXPECT_EQ(socket.lastFailureLine(),
            "spoolrelayer: CUPS scheduler /nonexistent-spoolrelayer/cups.sock can't be reached: "
            "No such file or directory \n");
  posix::CupsSpooler port("127.0.0.1:1");
  EXPECT_EQ(port.open(u"TESTPRN"), nullptr);
  EXPECT_EQ(port.lastFailureLine(),
            "spoolrelayer: CUPS scheduler 127.0.0.1:1 can't be reached: Connection refused \n");
  EXPECT_EQ(port.open(u"A B"), nullptr);
  EXPECT_EQ(port.lastFailureLine(),
            "spoolrelayer: CUPS has no queue named \"A B\": the name can't be a queue name \n");
}

TEST(CupsSpoolerLines, AQueueTheSchedulerDoesNotHaveIsNamed) {
  const char* server = std::getenv("CUPS_SERVER");
  if (server == nullptr || *server == '\0') {
    GTEST_SKIP() << "CUPS_SERVER is not set: this test needs a private scheduler";
  }
  posix::CupsSpooler spooler;
  EXPECT_EQ(spooler.open(u"SPR_NO_SUCH_QUEUE"), nullptr);
  const std::string line = spooler.lastFailureLine();
  EXPECT_EQ(line.rfind("spoolrelayer: CUPS scheduler ", 0), 0u) << line;
  EXPECT_NE(line.find(" has no queue named \"SPR_NO_SUCH_QUEUE\" \n"), std::string::npos) << line;
}

}  // namespace
