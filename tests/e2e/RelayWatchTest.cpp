// relaytool watch beside the running relay: every debug line as it is sent, with the
// local time and the run's printer and job, to any number of watchers at once.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "e2e/ProcessSupport.h"

namespace {

using namespace std::chrono_literals;

std::string text(const std::string& path) {
  const std::optional<e2e::Bytes> bytes = e2e::readFile(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

bool contains(const std::string& path, const std::string& part) {
  return text(path).find(part) != std::string::npos;
}

// "hh:mm:ss.mmm " followed by exactly `rest`.
bool isStampedLine(const std::string& line, const std::string& rest) {
  const std::string form = "dd:dd:dd.ddd ";
  if (line.size() != form.size() + rest.size()) return false;
  for (std::size_t i = 0; i < form.size(); ++i) {
    const char c = line[i];
    const bool ok = form[i] == 'd' ? (c >= '0' && c <= '9') : c == form[i];
    if (!ok) return false;
  }
  return line.compare(form.size(), std::string::npos, rest) == 0;
}

TEST(RelayWatch, EveryWatcherSeesTheLinesOfEachRunAsTheyAreSent) {
  e2e::TempDir tmp;
  const std::string endpoint = "spr-watch-" + std::to_string(::getpid());
  const std::string root = tmp.path() + "/printers";
  e2e::makeDirs(root + "/Kasse 1/data");
  e2e::makeDirs(tmp.path() + "/public");
  const std::unique_ptr<e2e::Child> relay =
      e2e::startRelay(e2e::builtProgram("spoolrelayer"), tmp.path() + "/public", "dir:" + root,
                      endpoint, tmp.path() + "/relay.log");
  ASSERT_TRUE(relay->running());

  // Two watchers, each writing into a file of its own; each says on standard error when
  // the relay has taken it on.
  const std::string tool = e2e::builtProgram("tools/relaytool");
  std::vector<std::unique_ptr<e2e::Child>> watchers;
  for (int i = 0; i < 2; ++i) {
    const std::string out = tmp.path() + "/watch" + std::to_string(i);
    std::unique_ptr<e2e::Child> watcher;
    // The relay binds its watch socket before its notice endpoint; retry until it listens.
    ASSERT_TRUE(e2e::waitUntil([&] {
      watcher = std::make_unique<e2e::Child>(
          std::vector<std::string>{"/bin/sh", "-c",
                                   "exec \"$0\" watch --endpoint \"$1\" >\"$2\" 2>\"$2.err\"", tool,
                                   endpoint, out},
          "");
      if (e2e::waitUntil([&] { return contains(out + ".err", "relaytool watch: "); }, 5s) &&
          contains(out + ".err", "watching endpoint '" + endpoint + "'")) {
        return true;
      }
      (void)watcher->waitExit(5s);
      return false;
    }));
    watchers.push_back(std::move(watcher));
  }

  // A job whose first page is not the last (its State is reported) and one for a
  // printer that does not exist.
  const std::string page1 = tmp.path() + "/p1";
  const std::string page2 = tmp.path() + "/p2";
  ASSERT_TRUE(e2e::writeFile(page1, e2e::pageFile({'o', 'n', 'e', '\n'}, 0)));
  ASSERT_TRUE(e2e::writeFile(page2, e2e::pageFile({'t', 'w', 'o', '\n'}, 2)));
  const auto post = [&](const std::string& printer, const std::string& job) {
    return e2e::runProgram({tool, "post", "--printer", printer, "--job-id", job, "--public-dir",
                            tmp.path() + "/public", "--endpoint", endpoint, page1, page2});
  };
  const auto seenByAll = [&](const std::string& part) {
    return e2e::waitUntil([&] {
      return contains(tmp.path() + "/watch0", part) && contains(tmp.path() + "/watch1", part);
    });
  };
  ASSERT_EQ(post("Kasse 1", "77"), 0);
  ASSERT_TRUE(seenByAll("pData->State"));
  ASSERT_EQ(post("Nobody", "78"), 0);
  ASSERT_TRUE(seenByAll("OpenPrinter Error"));
  // After the fixed line, the spooler's own: the printer is missing, not the spooler.
  const std::string missing =
      "spoolrelayer: no printer is named \"Nobody\" in " + tmp.path() + "/printers ";
  ASSERT_TRUE(seenByAll(missing));

  for (int i = 0; i < 2; ++i) {
    const std::string out = tmp.path() + "/watch" + std::to_string(i);
    std::vector<std::string> lines;
    std::string all = text(out);
    for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos;
         start = end + 1) {
      lines.push_back(all.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 3u) << all;
    EXPECT_TRUE(isStampedLine(lines[0], "[Kasse 1 job 77] pData->State : 0x00000000 ")) << lines[0];
    EXPECT_TRUE(isStampedLine(lines[1], "[Nobody job 78] OpenPrinter Error ")) << lines[1];
    EXPECT_TRUE(isStampedLine(lines[2], "[Nobody job 78] " + missing)) << lines[2];
  }
  // Standard error keeps the lines exactly as the relay sends them.
  EXPECT_EQ(text(tmp.path() + "/relay.log"),
            "pData->State : 0x00000000 \nOpenPrinter Error \n" + missing + "\n");

  // The watchers end when the relay does.
  EXPECT_EQ(e2e::stopRelay(*relay, 5s), std::optional<int>(0));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(watchers[static_cast<std::size_t>(i)]->waitExit(5s), std::optional<int>(0));
    EXPECT_TRUE(contains(tmp.path() + "/watch" + std::to_string(i) + ".err",
                         "relaytool watch: the relay has ended\n"));
  }
}

}  // namespace
