// A run tells the debug output which printer and job its lines belong to, around the
// whole run and nothing else; the lines themselves stay as they are.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/Bytes.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"
#include "job/JobRunner.h"

namespace {

/// Records each line with the run it was sent in ("" outside a run).
class RunRecordingOutput : public platform::DebugOutput {
 public:
  void write(std::string_view line) override { lines.push_back(run + "|" + std::string(line)); }
  void enterRun(std::u16string_view printer, std::uint32_t jobId) override {
    EXPECT_TRUE(run.empty()) << "runs don't nest";
    run = std::string(printer.begin(), printer.end()) + " " + std::to_string(jobId);
  }
  void leaveRun() override { run.clear(); }

  std::string run;
  std::vector<std::string> lines;
};

TEST(RunLinesTest, EveryLineOfARunCarriesItsPrinterAndJob) {
  fakes::FakeSpooler spooler;  // no printer: the run reports OpenPrinter and ends
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files{clock};
  RunRecordingOutput debug;
  job::JobPorts ports{spooler, locks, folders, files, clock, debug};

  job::runJob(ports, job::JobRequest{u"Missing", 9, 1, u'T', 0, std::nullopt});
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"Missing 9|OpenPrinter Error \n"}));
  EXPECT_TRUE(debug.run.empty());

  // A page whose State is 0 is reported, inside the run of that job.
  fakes::FakePrinterState& printer = spooler.addPrinter(u"Receipt");
  (void)printer;
  files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', 0x2A, 1)].bytes =
      fakes::pageFile(fakes::Bytes{'a'}, 0);
  files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', 0x2A, 2)].bytes =
      fakes::pageFile(fakes::Bytes{'b'}, 2);
  job::runJob(ports, job::JobRequest{u"Receipt", 0x2A, 1, u'T', 0, std::nullopt});
  EXPECT_EQ(debug.lines.back(), "Receipt 42|pData->State : 0x00000000 \n");
  EXPECT_TRUE(debug.run.empty());
}

}  // namespace
