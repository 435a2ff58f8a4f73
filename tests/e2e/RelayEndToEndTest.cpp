// Starts the built relay with temporary folders and a unique endpoint, posts jobs as a
// driver would, and compares the documents that reach the directory spooler with what
// `relaytool process` gives for the same pages.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "e2e/ProcessSupport.h"
#include "posix/ProcState.h"

namespace {

using e2e::Bytes;
using namespace std::chrono_literals;

Bytes pageFile(const std::string& text, std::uint8_t state) {
  return e2e::pageFile(Bytes(text.begin(), text.end()), state);
}

std::string uniqueEndpoint() {
  static std::atomic<int> counter{0};
  return "spr-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

/// Whether process `pid` is stopped by a signal.
bool stopped(int pid) {
  return posixtest::procState("/proc/" + std::to_string(pid) + "/stat") == 'T';
}

class RelayEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp.path().empty());
    e2e::makeDirs(root());
    e2e::makeDirs(publicDir());
    addPrinter("Kasse 1");
    relay = e2e::startRelay(e2e::builtProgram("spoolrelayer"), publicDir(), "dir:" + root(),
                            endpoint, tmp.path() + "/relay.log");
    ASSERT_TRUE(relay->running());
  }
  void TearDown() override {
    if (relay && relay->running()) {
      EXPECT_EQ(e2e::stopRelay(*relay, 5s), std::optional<int>(0));
    }
  }

  std::string root() const { return tmp.path() + "/printers"; }
  std::string publicDir() const { return tmp.path() + "/public"; }
  std::string docs(const std::string& printer) const {
    return root() + "/" + printer + "/documents";
  }
  void addPrinter(const std::string& name) { e2e::makeDirs(root() + "/" + name + "/data"); }

  /// Writes the pages to files of the test's own and returns their paths.
  std::vector<std::string> writePages(const std::vector<Bytes>& pages, const std::string& tag) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < pages.size(); ++i) {
      paths.push_back(tmp.path() + "/" + tag + "-" + std::to_string(i + 1) + ".page");
      EXPECT_TRUE(e2e::writeFile(paths.back(), pages[i]));
    }
    return paths;
  }

  /// Posts a job through `relaytool post` (the notice is only sent once the relay's
  /// endpoint is bound, so the post is retried until it is).
  void post(const std::string& printer, std::uint32_t jobId, std::uint32_t copies,
            const std::vector<std::string>& pages, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{e2e::builtProgram("tools/relaytool"),
                                  "post",
                                  "--printer",
                                  printer,
                                  "--job-id",
                                  std::to_string(jobId),
                                  "--copies",
                                  std::to_string(copies),
                                  "--public-dir",
                                  publicDir(),
                                  "--endpoint",
                                  endpoint};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), pages.begin(), pages.end());
    std::string err;
    ASSERT_TRUE(e2e::waitUntil([&] { return e2e::runProgram(argv, nullptr, &err) == 0; })) << err;
  }

  /// What `relaytool process` gives for the pages of one document.
  Bytes expected(const std::string& printer, const std::vector<std::string>& pages,
                 std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{e2e::builtProgram("tools/relaytool"), "process", "--printer-data",
                                  root() + "/" + printer + "/data"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), pages.begin(), pages.end());
    Bytes out;
    std::string err;
    EXPECT_EQ(e2e::runProgram(argv, &out, &err), 0) << err;
    return out;
  }

  /// Waits until the printer holds `count` documents and returns their bytes.
  std::vector<Bytes> documents(const std::string& printer, std::size_t count) {
    auto bins = [&] {
      std::vector<std::string> names;
      for (const auto& n : e2e::listDir(docs(printer))) {
        if (n.size() == 12 && n.substr(8) == ".bin") names.push_back(n);
      }
      return names;
    };
    EXPECT_TRUE(e2e::waitUntil([&] { return bins().size() >= count; }))
        << "documents of " << printer << ": " << bins().size();
    std::vector<Bytes> all;
    for (const auto& n : bins())
      all.push_back(e2e::readFile(docs(printer) + "/" + n).value_or(Bytes{}));
    return all;
  }

  std::string pagePath(std::uint32_t jobId, std::uint32_t page) const {
    char name[64];
    std::snprintf(name, sizeof name, "/TIVORAN/TIVORAN_%08X_%08X.bin", jobId, page);
    return publicDir() + name;
  }

  e2e::TempDir tmp;
  std::string endpoint = uniqueEndpoint();
  std::unique_ptr<e2e::Child> relay;
};

TEST_F(RelayEndToEnd, CopiesOfSeveralPagesMatchTheProcessedPagesAndFilesAreDeleted) {
  const auto pages = writePages(
      {pageFile("first page of the receipt\n", 0), pageFile("second page of the receipt\n", 1),
       pageFile("third and last page, cut\n\x1dV\x42", 2)},
      "job");
  post("Kasse 1", 0x2A, 2, pages, {"--model", "TX"});
  const std::vector<Bytes> got = documents("Kasse 1", 2);
  const Bytes want = expected("Kasse 1", pages, {"--model", "TX"});
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], want);
  EXPECT_EQ(got[1], want);
  EXPECT_EQ(want.back(), 0x00);
  const auto json = e2e::readFile(docs("Kasse 1") + "/00000001.json").value_or(Bytes{});
  const std::string jsonText(json.begin(), json.end());
  EXPECT_NE(jsonText.find("\"name\": \"My Document\""), std::string::npos) << jsonText;
  EXPECT_TRUE(e2e::waitUntil([&] {
    return !e2e::exists(pagePath(0x2A, 1)) && !e2e::exists(pagePath(0x2A, 2)) &&
           !e2e::exists(pagePath(0x2A, 3));
  }));
}

TEST_F(RelayEndToEnd, LatePageIsAwaitedAndSent) {
  const auto first = writePages({pageFile("first page, on time...\n", 0)}, "early");
  post("Kasse 1", 7, 1, first);
  // The relay is now polling for page 2; the driver finishes it a little later.
  const auto second = writePages({pageFile("second page, late.....\n", 2)}, "late");
  ASSERT_TRUE(e2e::writeFile(pagePath(7, 2) + ".tmp", e2e::readFile(second[0]).value()));
  ASSERT_EQ(::rename((pagePath(7, 2) + ".tmp").c_str(), pagePath(7, 2).c_str()), 0);
  const std::vector<Bytes> got = documents("Kasse 1", 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expected("Kasse 1", {first[0], second[0]}));
}

TEST_F(RelayEndToEnd, TwoPrintersInParallelAndOnePrinterTwiceInARow) {
  addPrinter("Bar");
  const auto a = writePages({pageFile("job for the kitchen printer\n", 2)}, "a");
  const auto b = writePages({pageFile("job for the bar printer.....\n", 2)}, "b");
  const auto c = writePages({pageFile("second job for the kitchen..\n", 2)}, "c");
  post("Kasse 1", 1, 1, a);
  post("Bar", 2, 1, b);
  post("Kasse 1", 3, 1, c);
  const std::vector<Bytes> kitchen = documents("Kasse 1", 2);
  const std::vector<Bytes> bar = documents("Bar", 1);
  ASSERT_EQ(kitchen.size(), 2u);
  ASSERT_EQ(bar.size(), 1u);
  EXPECT_EQ(bar[0], expected("Bar", b));
  // Runs for one printer follow one another, whole document after whole document;
  // which waiting run goes first is the lock's choice.
  const Bytes wantA = expected("Kasse 1", a);
  const Bytes wantC = expected("Kasse 1", c);
  EXPECT_TRUE((kitchen[0] == wantA && kitchen[1] == wantC) ||
              (kitchen[0] == wantC && kitchen[1] == wantA));
}

TEST_F(RelayEndToEnd, FinishedDriverJobIsRemovedFromTheQueue) {
  const auto pages = writePages({pageFile("a receipt for the queue test\n", 2)}, "q");
  post("Kasse 1", 40, 1, pages, {"--queue-status", "128", "--spooler", "dir:" + root()});
  post("Kasse 1", 41, 1, pages, {"--queue-status", "144", "--spooler", "dir:" + root()});
  documents("Kasse 1", 2);
  const std::string queue = root() + "/Kasse 1/queue/";
  EXPECT_TRUE(e2e::waitUntil([&] { return !e2e::exists(queue + "40"); }));
  EXPECT_TRUE(e2e::exists(queue + "41"));  // 0x90 is not exactly printed
}

// A link planted at the temporary name `relaytool post` would use (it knows the pid: the
// shell execs the tool in its own place) is neither followed nor harmed by the post.
TEST_F(RelayEndToEnd, PostNeverWritesThroughAPlantedTemporaryName) {
  const std::string target = tmp.path() + "/precious";
  ASSERT_TRUE(e2e::writeFile(target, {'k', 'e', 'e', 'p'}));
  e2e::makeDirs(publicDir() + "/TIVORAN");
  const std::string stem = publicDir() + "/TIVORAN/.TIVORAN_0000001F_00000001.bin";
  const auto pages = writePages({pageFile("a receipt posted past a planted link\n", 2)}, "l");
  std::vector<std::string> argv{"/bin/sh",
                                "-c",
                                "ln -s \"$1\" \"$2.$$\" && shift 2 && exec \"$@\"",
                                "sh",
                                target,
                                stem,
                                e2e::builtProgram("tools/relaytool"),
                                "post",
                                "--printer",
                                "Kasse 1",
                                "--job-id",
                                "31",
                                "--public-dir",
                                publicDir(),
                                "--endpoint",
                                endpoint,
                                pages[0]};
  std::string err;
  ASSERT_TRUE(e2e::waitUntil([&] { return e2e::runProgram(argv, nullptr, &err) == 0; })) << err;
  const std::vector<Bytes> got = documents("Kasse 1", 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expected("Kasse 1", pages));
  EXPECT_EQ(e2e::readFile(target), (Bytes{'k', 'e', 'e', 'p'}));
}

TEST_F(RelayEndToEnd, TerminationWhileAJobWaitsEndsAtOnceAndLeavesNoHalfDocument) {
  const auto pages = writePages({pageFile("page one of a job whose end never comes\n", 0)}, "t");
  post("Kasse 1", 9, 1, pages);
  // The first page is on its way; wait until the relay has started the document.
  ASSERT_TRUE(e2e::waitUntil([&] { return !e2e::listDir(docs("Kasse 1")).empty(); }));
  EXPECT_EQ(e2e::stopRelay(*relay, 3s), std::optional<int>(0));
  for (const auto& name : e2e::listDir(docs("Kasse 1"))) {
    EXPECT_FALSE(name.size() == 12 && name.substr(8) == ".bin") << name;
  }
}

TEST_F(RelayEndToEnd, KilledWhileJobsWaitForLatePagesEveryCopyArrivesExactlyOnce) {
  addPrinter("Kasse 2");
  addPrinter("Kasse 3");
  // Job 0x30 is over before the kill; jobs 0x31 (two copies) and 0x32 wait for their
  // last pages when the relay is killed.
  const auto done = writePages({pageFile("a job that is done before the kill\n", 2)}, "d");
  post("Kasse 3", 0x30, 1, done);
  const std::vector<Bytes> doneDoc = documents("Kasse 3", 1);
  const Bytes lastA = pageFile("last page of job 31, written late\n", 2);
  const Bytes lastB = pageFile("last page of job 32, written late\n", 2);
  const auto firstA = writePages({pageFile("first page of job 31: two copies\n", 0)}, "a");
  const auto firstB = writePages({pageFile("first page of job 32: one copy\n", 0)}, "b");
  post("Kasse 1", 0x31, 2, firstA);
  post("Kasse 2", 0x32, 1, firstB);
  // Each run has started its first document and waits for page 2.
  auto started = [&](const std::string& printer) {
    for (const auto& name : e2e::listDir(docs(printer))) {
      if (name.find(".part") != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(e2e::waitUntil([&] { return started("Kasse 1") && started("Kasse 2"); }));
  relay->signal(SIGKILL);
  ASSERT_TRUE(relay->waitExit(5s).has_value());

  relay = e2e::startRelay(e2e::builtProgram("spoolrelayer"), publicDir(), "dir:" + root(), endpoint,
                          tmp.path() + "/relay2.log");
  ASSERT_TRUE(e2e::writeFile(pagePath(0x31, 2) + ".tmp", lastA));
  ASSERT_EQ(::rename((pagePath(0x31, 2) + ".tmp").c_str(), pagePath(0x31, 2).c_str()), 0);
  ASSERT_TRUE(e2e::writeFile(pagePath(0x32, 2) + ".tmp", lastB));
  ASSERT_EQ(::rename((pagePath(0x32, 2) + ".tmp").c_str(), pagePath(0x32, 2).c_str()), 0);

  const auto pagesA = writePages({pageFile("first page of job 31: two copies\n", 0), lastA}, "ea");
  const auto pagesB = writePages({pageFile("first page of job 32: one copy\n", 0), lastB}, "eb");
  const Bytes wantA = expected("Kasse 1", pagesA);
  EXPECT_EQ(documents("Kasse 1", 2), (std::vector<Bytes>{wantA, wantA}));
  EXPECT_EQ(documents("Kasse 2", 1), (std::vector<Bytes>{expected("Kasse 2", pagesB)}));
  // The page files go once the copies are sent.
  EXPECT_TRUE(e2e::waitUntil(
      [&] { return !e2e::exists(pagePath(0x31, 1)) && !e2e::exists(pagePath(0x32, 2)); }));

  // The journal has one record per job: the two that waited were taken up again.
  Bytes out;
  std::vector<std::string> argv{e2e::builtProgram("tools/relaytool"), "jobs", "--json",
                                "--state-dir", e2e::stateDir(publicDir())};
  std::string lines;
  ASSERT_TRUE(e2e::waitUntil([&] {
    out.clear();
    if (e2e::runProgram(argv, &out) != 0) return false;
    lines.assign(out.begin(), out.end());
    return std::count(lines.begin(), lines.end(), '\n') == 3 &&
           lines.find("\"outcome\": null") == std::string::npos;
  })) << lines;
  for (const char* job : {"\"jobId\": 48,", "\"jobId\": 49,", "\"jobId\": 50,"}) {
    const std::size_t at = lines.find(job);
    ASSERT_NE(at, std::string::npos) << job;
    const std::string line = lines.substr(at, lines.find('\n', at) - at);
    EXPECT_NE(line.find("\"outcome\": \"printed\""), std::string::npos) << line;
    const bool resumed = line.find("\"resumed\": true") != std::string::npos;
    EXPECT_EQ(resumed, std::string(job) != "\"jobId\": 48,") << line;
  }
  // Every run is over: no copy arrived twice, and the job that was over before the kill
  // was not sent again.
  EXPECT_EQ(documents("Kasse 1", 2).size(), 2u);
  EXPECT_EQ(documents("Kasse 2", 1).size(), 1u);
  EXPECT_EQ(documents("Kasse 3", 1), doneDoc);
}

TEST_F(RelayEndToEnd, WithoutResumingAnInterruptedJobIsClosedAndNotSent) {
  const auto first = writePages({pageFile("first page of a job killed while it waits\n", 0)}, "k");
  post("Kasse 1", 0x40, 1, first);
  ASSERT_TRUE(e2e::waitUntil([&] { return !e2e::listDir(docs("Kasse 1")).empty(); }));
  relay->signal(SIGKILL);
  ASSERT_TRUE(relay->waitExit(5s).has_value());
  relay = e2e::startRelay(e2e::builtProgram("spoolrelayer"), publicDir(), "dir:" + root(), endpoint,
                          tmp.path() + "/relay2.log", {}, {"--no-resume"});
  Bytes out;
  const std::vector<std::string> argv{e2e::builtProgram("tools/relaytool"), "jobs", "--json",
                                      "--state-dir", e2e::stateDir(publicDir())};
  EXPECT_TRUE(e2e::waitUntil([&] {
    out.clear();
    return e2e::runProgram(argv, &out) == 0 &&
           std::string(out.begin(), out.end()).find("\"outcome\": \"interrupted\"") !=
               std::string::npos;
  })) << std::string(out.begin(), out.end());
  EXPECT_TRUE(e2e::exists(pagePath(0x40, 1)));  // nobody took its page files
}

TEST_F(RelayEndToEnd, UnderASocketKeptAcrossRestartsNoNoticeIsLost) {
  // The relay as systemd's socket unit runs it: the unit binds the name and keeps it.
  relay->signal(SIGKILL);
  ASSERT_TRUE(relay->waitExit(5s).has_value());
  endpoint = uniqueEndpoint();
  const e2e::HeldEndpoint held(endpoint);
  ASSERT_GE(held.fd(), 0);
  auto start = [&](const std::string& log) {
    relay = e2e::startRelay(e2e::builtProgram("spoolrelayer"), publicDir(), "dir:" + root(),
                            endpoint, tmp.path() + "/" + log, {}, {}, held.fd());
    ASSERT_TRUE(relay->running());
  };
  const auto a = writePages({pageFile("posted before the relay ever ran\n", 2)}, "a");
  const auto b =
      writePages({pageFile("posted while the relay was stopped, then killed\n", 2)}, "b");
  const auto c = writePages({pageFile("posted while no relay ran\n", 2)}, "c");

  post("Kasse 1", 0x60, 1, a);
  start("relay1.log");
  EXPECT_EQ(documents("Kasse 1", 1), (std::vector<Bytes>{expected("Kasse 1", a)}));

  // A notice still queued when the relay is killed waits for the next one.
  relay->signal(SIGSTOP);
  ASSERT_TRUE(e2e::waitUntil([&] { return stopped(relay->pid()); }));
  post("Kasse 1", 0x61, 1, b);
  relay->signal(SIGKILL);
  ASSERT_TRUE(relay->waitExit(5s).has_value());
  post("Kasse 1", 0x62, 1, c);
  EXPECT_TRUE(e2e::exists(pagePath(0x61, 1)) && e2e::exists(pagePath(0x62, 1)));

  start("relay2.log");
  const std::vector<Bytes> all = documents("Kasse 1", 3);
  EXPECT_EQ(all.size(), 3u);
  for (const auto& pages : {a, b, c}) {
    EXPECT_EQ(std::count(all.begin(), all.end(), expected("Kasse 1", pages)), 1);
  }
  EXPECT_TRUE(e2e::waitUntil([&] { return !e2e::exists(pagePath(0x62, 1)); }));

  // A socket of another name is refused at the start, with the reason.
  ASSERT_EQ(e2e::stopRelay(*relay, 5s), std::optional<int>(0));
  const e2e::HeldEndpoint other(uniqueEndpoint());
  ASSERT_GE(other.fd(), 0);
  const std::string log = tmp.path() + "/relay3.log";
  relay = e2e::startRelay(e2e::builtProgram("spoolrelayer"), publicDir(), "dir:" + root(), endpoint,
                          log, {}, {}, other.fd());
  EXPECT_EQ(relay->waitExit(5s), std::optional<int>(1));
  const Bytes said = e2e::readFile(log).value_or(Bytes{});
  EXPECT_NE(std::string(said.begin(), said.end())
                .find("spoolrelayer: cannot use endpoint " + endpoint +
                      ": the socket the service manager passed is not"),
            std::string::npos)
      << std::string(said.begin(), said.end());
  relay.reset();
}

TEST_F(RelayEndToEnd, StartedWithoutStandardErrorItsJournalStaysReadable) {
  relay->signal(SIGKILL);
  ASSERT_TRUE(relay->waitExit(5s).has_value());
  // The relay's standard error closed: its debug lines must not land in a file it opens.
  relay = std::make_unique<e2e::Child>(std::vector<std::string>{
      "/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&-", e2e::builtProgram("spoolrelayer"), "--public-dir",
      publicDir(), "--spooler", "dir:" + root(), "--endpoint", endpoint, "--lock-dir",
      e2e::lockDirFor(publicDir()), "--state-dir", e2e::stateDir(publicDir())});
  const auto pages = writePages(
      {pageFile("not the last page: a debug line says so\n", 0), pageFile("the last page\n", 2)},
      "s");
  post("Kasse 1", 0x50, 1, pages);
  post("Kasse 1", 0x51, 1, pages);
  (void)documents("Kasse 1", 2);
  Bytes out;
  std::string lines;
  EXPECT_TRUE(e2e::waitUntil([&] {
    out.clear();
    if (e2e::runProgram({e2e::builtProgram("tools/relaytool"), "jobs", "--json", "--state-dir",
                         e2e::stateDir(publicDir())},
                        &out) != 0) {
      return false;
    }
    lines.assign(out.begin(), out.end());
    return std::count(lines.begin(), lines.end(), '\n') == 2 &&
           lines.find("\"outcome\": null") == std::string::npos;
  })) << lines;
  EXPECT_NE(lines.find("\"lines\": [\"pData->State : 0x00000000\"]"), std::string::npos) << lines;
}

}  // namespace
