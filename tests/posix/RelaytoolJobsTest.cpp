// Runs the built `relaytool jobs` on a journal written entry by entry.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "job/JournalFormat.h"
#include "posix/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void add(Bytes& journal, const Bytes& entry) {
  journal.insert(journal.end(), entry.begin(), entry.end());
}

class RelaytoolJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("SPR_BUILD_DIR");
    ASSERT_NE(build, nullptr) << "SPR_BUILD_DIR is set by ctest";
    tool = std::filesystem::path(build) / "tools" / "relaytool";
    ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
    ASSERT_TRUE(dir.ok());
    writeJournal();
  }

  /// Three jobs: printed after a restart, failed with two lines, and one still open.
  void writeJournal() {
    Bytes journal(job::kJournalMark.begin(), job::kJournalMark.end());
    job::JobRecord a;
    a.id = 1;
    a.acceptedMs = 1'714'564'800'250;  // 2024-05-01T12:00:00.250Z
    a.printerName = u"Kasse \u00e9";
    a.jobId = 0x2A;
    a.copyCount = 2;
    a.sender = 1000;
    add(journal, job::acceptedEntry(a));
    add(journal, job::copyEntry(1, {0, true, true, 0, 3, {20, 21}}, {}));
    add(journal, job::resumedEntry(1, 1'714'564'860'000));
    job::JobRecord b;
    b.id = 2;
    b.acceptedMs = 1'714'564'900'000;
    b.printerName = u"Nope";
    b.jobId = 7;
    b.copyCount = 1;
    add(journal, job::acceptedEntry(b));
    add(journal, job::copyEntry(1, {1, true, true, 3, 3, {20, 0}}, {}));
    add(journal, job::outcomeEntry(1, job::Outcome::kPrinted, 1'714'564'861'500, {}, 0));
    const std::string lines[] = {"OpenPrinter Error \n", "spoolrelayer: no \"Nope\"\t \n"};
    add(journal, job::outcomeEntry(2, job::Outcome::kFailed, 1'714'564'900'016, lines, 0));
    job::JobRecord c = b;
    c.id = 3;
    c.jobId = 0x2A;
    c.printerName = u"Other";
    add(journal, job::acceptedEntry(c));
    // A torn entry at the end, as a relay writing right now leaves it for a moment.
    const Bytes more = job::emptyPageEntry(3, 5);
    journal.insert(journal.end(), more.begin(), more.begin() + 5);
    std::filesystem::create_directory(base() / "state");
    std::ofstream(base() / "state" / "jobs.journal", std::ios::binary)
        .write(reinterpret_cast<const char*>(journal.data()),
               static_cast<std::streamsize>(journal.size()));
  }

  /// Runs relaytool in UTC with `args`; the exit code.
  int run(const std::string& args) {
    const std::string command = "TZ=UTC '" + tool.string() + "' " + args + " >'" +
                                (base() / "out").string() + "' 2>'" + (base() / "err").string() +
                                "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string state() const { return "--state-dir '" + (base() / "state").string() + "'"; }
  std::string out() const { return readAll(base() / "out"); }
  std::string err() const { return readAll(base() / "err"); }

  std::filesystem::path base() const { return dir.path(); }

  std::filesystem::path tool;
  posixtest::TempDir dir;
};

TEST_F(RelaytoolJobs, TableOfTheNewestJobsOldestFirst) {
  ASSERT_EQ(run("jobs " + state()), 0) << err();
  EXPECT_EQ(out(),
            "ACCEPTED             PRINTER  JOB ID    COPIES  PAGES       BYTES  OUTCOME      "
            "DURATION\n"
            "2024-05-01 12:00:00  Kasse \xC3\xA9  0000002A  2/2         4          61  printed "
            "     61.250 s\n"
            "2024-05-01 12:01:40  Nope     00000007  0/1         0           0  failed       "
            "0.016 s\n"
            "2024-05-01 12:01:40  Other    0000002A  0/1         0           0  open         -\n");
  EXPECT_EQ(err(), "");

  ASSERT_EQ(run("jobs --last 1 --printer Nope " + state()), 0);
  const std::string table = out();
  EXPECT_EQ(table.substr(table.find('\n') + 1, 38), "2024-05-01 12:01:40  Nope     00000007");
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2);
}

TEST_F(RelaytoolJobs, JsonHasExactlyTheListedFields) {
  ASSERT_EQ(run("jobs --json " + state()), 0) << err();
  EXPECT_EQ(out(),
            "{\"accepted\": \"2024-05-01T12:00:00.250Z\", \"printer\": \"Kasse \xC3\xA9\", "
            "\"jobId\": 42, \"copies\": 2, \"copiesSent\": 2, \"pages\": [[20, 21], [20, 0]], "
            "\"bytes\": 61, \"outcome\": \"printed\", \"resumed\": true, \"sender\": 1000, "
            "\"lines\": [], \"ended\": \"2024-05-01T12:01:01.500Z\"}\n"
            "{\"accepted\": \"2024-05-01T12:01:40.000Z\", \"printer\": \"Nope\", \"jobId\": 7, "
            "\"copies\": 1, \"copiesSent\": 0, \"pages\": [], \"bytes\": 0, \"outcome\": "
            "\"failed\", \"resumed\": false, \"sender\": null, \"lines\": [\"OpenPrinter Error\", "
            "\"spoolrelayer: no \\\"Nope\\\"\\u0009\"], \"ended\": \"2024-05-01T12:01:40.016Z\"}\n"
            "{\"accepted\": \"2024-05-01T12:01:40.000Z\", \"printer\": \"Other\", \"jobId\": 42, "
            "\"copies\": 1, \"copiesSent\": 0, \"pages\": [], \"bytes\": 0, \"outcome\": null, "
            "\"resumed\": false, \"sender\": null, \"lines\": [], \"ended\": null}\n");
}

TEST_F(RelaytoolJobs, OneJobInFullWithItsLines) {
  ASSERT_EQ(run("jobs --job-id 7 " + state()), 0) << err();
  EXPECT_EQ(out(),
            "job 00000007 on Nope\n"
            "  accepted  2024-05-01 12:01:40\n"
            "  ended     2024-05-01 12:01:40, after 0.016 s\n"
            "  outcome   failed\n"
            "  sender    none\n"
            "  copies    0 of 1 sent\n"
            "  lines     2\n"
            "    OpenPrinter Error\n"
            "    spoolrelayer: no \"Nope\"\t\n");
  // The id as the page file names write it; both jobs 2A, each in full.
  ASSERT_EQ(run("jobs --job-id 0000002a " + state()), 0) << err();
  EXPECT_NE(out().find("job 0000002A on Kasse \xC3\xA9\n"), std::string::npos);
  EXPECT_NE(out().find("  resumed   2024-05-01 12:01:00\n"), std::string::npos);
  EXPECT_NE(out().find("  copy 2    ended, last page sent: 2 pages, 20 bytes (20 0)\n"),
            std::string::npos);
  EXPECT_NE(out().find("\n\njob 0000002A on Other\n"), std::string::npos);
}

TEST_F(RelaytoolJobs, BadOptionsAndUnreadableJournalsExitWithTwo) {
  for (const std::string& args :
       {std::string("jobs --last"), std::string("jobs --last x"), std::string("jobs --job-id 12G"),
        std::string("jobs --colour"), std::string("jobs --state-dir ''")}) {
    EXPECT_EQ(run(args + " " + state()), 2) << args;
    const std::string line = err();
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << args;
    EXPECT_EQ(line.rfind("relaytool jobs: ", 0), 0u) << line;
  }
  std::ofstream(base() / "state" / "jobs.journal") << "something else";
  EXPECT_EQ(run("jobs " + state()), 2);
  EXPECT_EQ(err(), "relaytool jobs: the journal is not a job journal\n");
  std::filesystem::remove(base() / "state" / "jobs.journal");
  std::filesystem::create_directory(base() / "state" / "jobs.journal");
  EXPECT_EQ(run("jobs " + state()), 2);
  EXPECT_EQ(err(), "relaytool jobs: spoolrelayer: journal " +
                       (base() / "state" / "jobs.journal").string() +
                       " can't be read: not a regular file\n");
  // A journal not written yet lists no job.
  std::filesystem::remove(base() / "state" / "jobs.journal");
  EXPECT_EQ(run("jobs --json " + state()), 0);
  EXPECT_EQ(out(), "");
}

}  // namespace
