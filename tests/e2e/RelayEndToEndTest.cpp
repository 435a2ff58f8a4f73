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

}  // namespace
