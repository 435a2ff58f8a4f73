// The relay as a service is deployed: running as an account of its own (setpriv), with
// drivers posting as other accounts, under a descriptor limit (prlimit), started on
// folders it can't use, told to hang up, and restarted after a job was cut short.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/ProcessSupport.h"

namespace {

using e2e::Bytes;
using namespace std::chrono_literals;

// Accounts by number; none needs an entry in /etc/passwd.
constexpr unsigned kRelay = 4243;   // the relay's user and group, as spoolrelayer
constexpr unsigned kVictim = 4242;  // a driver's account in the relay's group
constexpr unsigned kNobody = 65534;

const char kSetpriv[] = "/usr/bin/setpriv";
const char kPrlimit[] = "/usr/bin/prlimit";

std::string uniqueEndpoint() {
  static std::atomic<int> counter{0};
  return "spr-hard-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

/// Runs `argv` as account `uid` (group `uid`), in the relay's group when `inRelayGroup`.
std::vector<std::string> as(unsigned uid, bool inRelayGroup, std::vector<std::string> argv) {
  std::vector<std::string> all{
      kSetpriv, "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid),
      inRelayGroup ? "--groups=" + std::to_string(kRelay) : "--clear-groups", "--"};
  all.insert(all.end(), argv.begin(), argv.end());
  return all;
}

class HardenedRelay : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << "running the relay and drivers as other accounts needs root";
    if (::access(kSetpriv, X_OK) != 0 || ::access(kPrlimit, X_OK) != 0) {
      GTEST_SKIP() << "setpriv and prlimit (util-linux) are missing";
    }
    ASSERT_FALSE(tmp.path().empty());
    ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
    // The layout of the packaged service, owned by the relay's account.
    makeOwned(publicDir(), 0755);
    makeOwned(publicDir() + "/TIVORAN", 03770);
    makeOwned(e2e::lockDirFor(publicDir()), 0700);
    makeOwned(root(), 0750);
    addPrinter("P");
  }
  void TearDown() override {
    if (relay && relay->running()) {
      EXPECT_EQ(e2e::stopRelay(*relay, 5s), std::optional<int>(0)) << log();
    }
  }

  void makeOwned(const std::string& path, mode_t mode) {
    e2e::makeDirs(path);
    ASSERT_EQ(::chown(path.c_str(), kRelay, kRelay), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  }
  void addPrinter(const std::string& name) {
    makeOwned(root() + "/" + name, 0750);
    makeOwned(root() + "/" + name + "/data", 0750);
    makeOwned(root() + "/" + name + "/queue", 02770);  // drivers enter their jobs here
  }

  std::string publicDir() const { return tmp.path() + "/public"; }
  std::string root() const { return tmp.path() + "/printers"; }
  std::string spool() const { return publicDir() + "/TIVORAN"; }
  std::string lockDir() const { return e2e::lockDirFor(publicDir()); }
  std::string queue(const std::string& printer) const { return root() + "/" + printer + "/queue"; }
  std::string docs(const std::string& printer) const {
    return root() + "/" + printer + "/documents";
  }
  std::string logPath() const { return tmp.path() + "/relay.log"; }
  std::string log() const {
    const Bytes bytes = e2e::readFile(logPath()).value_or(Bytes{});
    return std::string(bytes.begin(), bytes.end());
  }
  std::string pagePath(std::uint32_t jobId, std::uint32_t page) const {
    char name[64];
    std::snprintf(name, sizeof name, "/TIVORAN_%08X_%08X.bin", jobId, page);
    return spool() + name;
  }

  /// The relay's command line, run as its own account, after `outer` (prlimit).
  std::vector<std::string> relayCommand(const std::string& name,
                                        std::vector<std::string> outer = {}) {
    std::vector<std::string> argv = outer;
    const std::vector<std::string> command =
        as(kRelay, false,
           {e2e::builtProgram("spoolrelayer"), "--public-dir", publicDir(), "--spooler",
            "dir:" + root(), "--endpoint", name, "--lock-dir", lockDir()});
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
  }
  /// Starts the relay and waits until it takes notices. The probe is one byte too long
  /// for a notice, so it starts no run.
  void start(std::vector<std::string> outer = {}) {
    relay = std::make_unique<e2e::Child>(relayCommand(endpoint, std::move(outer)), logPath());
    ASSERT_TRUE(relay->running());
    ASSERT_TRUE(e2e::waitUntil([&] { return e2e::sendNotice(endpoint, Bytes(553, 0)); })) << log();
  }

  std::string writePage(const std::string& tag, const std::string& text, std::uint8_t state) {
    const std::string path = tmp.path() + "/" + tag + ".page";
    EXPECT_TRUE(e2e::writeFile(path, e2e::pageFile(Bytes(text.begin(), text.end()), state)));
    return path;
  }
  /// `relaytool post` as account `uid`, in the relay's group.
  void postAs(unsigned uid, const std::string& printer, std::uint32_t jobId, std::uint32_t copies,
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
    ASSERT_EQ(e2e::runProgram(as(uid, true, argv), nullptr, &err), 0) << err;
  }
  Bytes expected(const std::string& printer, const std::vector<std::string>& pages) {
    std::vector<std::string> argv{e2e::builtProgram("tools/relaytool"), "process", "--printer-data",
                                  root() + "/" + printer + "/data"};
    argv.insert(argv.end(), pages.begin(), pages.end());
    Bytes out;
    EXPECT_EQ(e2e::runProgram(argv, &out), 0);
    return out;
  }
  /// Waits for the printer's first document and returns its path.
  std::string firstDocument(const std::string& printer,
                            std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const std::string path = docs(printer) + "/00000001.bin";
    EXPECT_TRUE(e2e::waitUntil([&] { return e2e::exists(path); }, limit)) << log();
    return path;
  }
  /// A file of account `owner` in the relay's group, readable by the relay.
  void giveTo(const std::string& path, unsigned owner) {
    ASSERT_EQ(::chown(path.c_str(), owner, kRelay), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  }

  e2e::TempDir tmp;
  std::string endpoint = uniqueEndpoint();
  std::unique_ptr<e2e::Child> relay;
};

TEST_F(HardenedRelay, RunsAsItsOwnUserForADriverOfAnotherAccount) {
  start();
  const std::string page = writePage("own", "a receipt of nobody's own\n", 2);
  postAs(kNobody, "P", 11, 1, {page}, {"--queue-status", "128", "--spooler", "dir:" + root()});
  const std::string document = firstDocument("P");
  EXPECT_EQ(e2e::readFile(document), expected("P", {page}));
  struct stat st {};
  ASSERT_EQ(::stat(document.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kRelay);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // The driver's finished job was its own: it goes, and so do its page files.
  EXPECT_TRUE(e2e::waitUntil(
      [&] { return !e2e::exists(queue("P") + "/11") && !e2e::exists(pagePath(11, 1)); }));
  EXPECT_TRUE(e2e::waitUntil([&] { return e2e::listDir(lockDir()).empty(); }));
}

// A notice names another account's job: the relay opens the page file, finds it is not
// the sender's and closes it unread. The sender's own page then takes its place and is
// the one printed; a relay that read the first would have printed the other's page.
TEST_F(HardenedRelay, AnotherAccountsPageFileIsNeverPrinted) {
  start();
  const std::string victims = writePage("victim", "the victim's private receipt\n", 2);
  ASSERT_TRUE(e2e::writeFile(pagePath(12, 1), e2e::readFile(victims).value()));
  giveTo(pagePath(12, 1), kVictim);
  e2e::Watch opened(pagePath(12, 1), IN_CLOSE_NOWRITE);
  ASSERT_TRUE(opened.ok());

  postAs(kNobody, "P", 12, 1, {});
  ASSERT_TRUE(opened.waitFor(IN_CLOSE_NOWRITE)) << log();
  const std::string own = writePage("nobody", "nobody's own receipt instead\n", 2);
  const std::string staged = spool() + "/.staged";
  ASSERT_TRUE(e2e::writeFile(staged, e2e::readFile(own).value()));
  giveTo(staged, kNobody);
  ASSERT_EQ(::rename(staged.c_str(), pagePath(12, 1).c_str()), 0);

  EXPECT_EQ(e2e::readFile(firstDocument("P")), expected("P", {own}));
}

TEST_F(HardenedRelay, AnotherAccountsFinishedJobStaysInTheQueue) {
  start();
  const std::string entry = queue("P") + "/13";
  ASSERT_TRUE(e2e::writeFile(entry, {'1', '2', '8', '\n'}));
  giveTo(entry, kVictim);
  e2e::Watch locks(lockDir(), IN_DELETE | IN_CLOSE);
  ASSERT_TRUE(locks.ok());

  postAs(kNobody, "P", 13, 0, {});
  ASSERT_TRUE(locks.waitFor(IN_DELETE | IN_CLOSE)) << log();  // the run let its lock go
  EXPECT_TRUE(e2e::exists(entry));

  postAs(kVictim, "P", 13, 0, {});
  EXPECT_TRUE(e2e::waitUntil([&] { return !e2e::exists(entry); })) << log();
}

// 1,100 notices wait for a job on printer A that never comes, under a limit of 1,024
// descriptors for soft and hard alike: the next job, for printer B, still goes through.
TEST_F(HardenedRelay, AFloodForOnePrinterDoesNotStopAnother) {
  addPrinter("A");
  addPrinter("B");
  start({kPrlimit, "--nofile=1024:1024", "--"});
  for (int i = 0; i < 1100; ++i) ASSERT_TRUE(e2e::sendNotice(endpoint, e2e::notice("A", 21, 1)));

  const std::string page = writePage("b", "a receipt for printer B\n", 2);
  const auto posted = std::chrono::steady_clock::now();
  postAs(kNobody, "B", 22, 1, {page});
  const std::string document = firstDocument("B");
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - posted);
  RecordProperty("printer_b_relayed_ms", static_cast<int>(took.count()));
  EXPECT_EQ(e2e::readFile(document), expected("B", {page}));
  EXPECT_EQ(log().find("CreateMutex"), std::string::npos) << log();
  // The runs waiting for A hold no descriptor each.
  const std::size_t open = e2e::listDir("/proc/" + std::to_string(relay->pid()) + "/fd").size();
  EXPECT_LT(open, 64u);
}

TEST_F(HardenedRelay, DescriptorSoftLimitIsRaisedToTheHardLimit) {
  start({kPrlimit, "--nofile=256:2048", "--"});
  std::ifstream limits("/proc/" + std::to_string(relay->pid()) + "/limits");
  std::string line;
  while (std::getline(limits, line) && line.rfind("Max open files", 0) != 0) {
  }
  std::istringstream fields(line.substr(std::string("Max open files").size()));
  std::string soft, hard;
  fields >> soft >> hard;
  EXPECT_EQ(soft, "2048") << line;
  EXPECT_EQ(hard, "2048") << line;
}

TEST_F(HardenedRelay, HangupDoesNotEndTheRelay) {
  start();
  relay->signal(SIGHUP);
  const std::string page = writePage("hup", "a receipt after a hang-up\n", 2);
  postAs(kNobody, "P", 14, 1, {page});
  EXPECT_EQ(e2e::readFile(firstDocument("P")), expected("P", {page}));
}

// A job cut short by SIGTERM leaves its unfinished document; the next start removes it.
TEST_F(HardenedRelay, UnfinishedDocumentOfAnEndedRelayIsRemovedAtTheNextStart) {
  start();
  const std::string first = writePage("cut", "page one of a job whose end never comes\n", 0);
  postAs(kNobody, "P", 15, 1, {first});
  ASSERT_TRUE(e2e::waitUntil([&] { return !e2e::listDir(docs("P")).empty(); })) << log();
  ASSERT_EQ(e2e::stopRelay(*relay, 5s), std::optional<int>(0));
  ASSERT_EQ(e2e::listDir(docs("P")), std::vector<std::string>{".00000001.bin.part"});

  start();
  EXPECT_TRUE(e2e::listDir(docs("P")).empty());
}

// Each problem stops the relay at once with exit code 1, after the relay's own line
// where it has one and a line that names what and why.
TEST_F(HardenedRelay, StartupProblemsEndTheRelayNamingWhatAndWhy) {
  struct Case {
    std::string name;
    std::vector<std::string> lines;
  };
  const auto check = [&](const std::vector<std::string>& argv, const Case& c) {
    e2e::Child failing(argv, logPath());
    EXPECT_EQ(failing.waitExit(10s), std::optional<int>(1)) << c.name;
    std::string want;
    for (const std::string& line : c.lines) want += line;
    EXPECT_EQ(log(), want) << c.name;
  };
  const auto with = [&](const std::string& option, const std::string& value) {
    std::vector<std::string> argv = relayCommand(endpoint);
    const auto at = std::find(argv.begin(), argv.end(), option);
    *(at + 1) = value;
    return argv;
  };

  check(with("--public-dir", tmp.path() + "/missing"),
        {"missing public folder",
         {"SHGetKnownFolderPath Error : 0x00000002 \n",
          "spoolrelayer: cannot use " + tmp.path() + "/missing: No such file or directory\n"}});
  check(with("--spooler", "dir:" + tmp.path() + "/none"),
        {"missing spooler root",
         {"spoolrelayer: cannot use " + tmp.path() + "/none: No such file or directory\n"}});
  ASSERT_EQ(::chmod(lockDir().c_str(), 0777), 0);
  check(relayCommand(endpoint),
        {"lock folder open to all",
         {"spoolrelayer: cannot use " + lockDir() + ": other accounts may write to it\n"}});
  ASSERT_EQ(::chmod(lockDir().c_str(), 0700), 0);
  check(with("--endpoint", std::string(108, 'n')),
        {"endpoint name too long",
         {"CreateMailslot Error : 0x000000ce \n", "spoolrelayer: cannot use endpoint " +
                                                      std::string(108, 'n') +
                                                      ": longer than a socket address allows\n"}});
  ASSERT_EQ(::chown(spool().c_str(), 0, 0), 0);
  check(relayCommand(endpoint),
        {"TIVORAN not the relay's",
         {"spoolrelayer: cannot use " + spool() + ": Permission denied\n"}});
  ASSERT_EQ(::chown(spool().c_str(), kRelay, kRelay), 0);
  ASSERT_EQ(::chmod(spool().c_str(), 03770), 0);  // chown() cleared the set-id bits

  const std::string taken = uniqueEndpoint();
  e2e::Child holder(relayCommand(taken), tmp.path() + "/holder.log");
  ASSERT_TRUE(e2e::waitUntil([&] { return e2e::sendNotice(taken, Bytes(553, 0)); }));
  check(relayCommand(taken),
        {"endpoint taken",
         {"CreateMailslot Error : 0x000000b7 \n",
          "spoolrelayer: cannot use endpoint " + taken + ": another process holds it\n"}});
  EXPECT_EQ(e2e::stopRelay(holder, 5s), std::optional<int>(0));
}

}  // namespace
