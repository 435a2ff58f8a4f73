// Soak test of the Linux relay: many jobs over many printers against `spoolrelayer` with
// the directory spooler, with faults injected, bounded in count and time. Checks that
// every document equals what `relaytool process` gives for its pages, that page files
// are deleted as they should be, that the relay's open files and memory do not grow, and
// that after a `kill -9` in the middle of a job a restarted relay serves the printer
// again with no half document visible and takes the killed job up again. With --kills
// it runs the kill-and-restart mode of KillSoak.h instead.
//
//   soak --jobs N --printers P --seconds S [--seed K] [--no-kill] [--kills K]
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/Utf.h"
#include "e2e/ProcessSupport.h"
#include "platform/posix/SocketNoticeEndpoint.h"
#include "soak/KillSoak.h"
#include "soak/SoakPages.h"

namespace {

using e2e::Bytes;
using namespace std::chrono_literals;

struct Options {
  int jobs = 300;
  int printers = 6;
  int seconds = 120;
  unsigned seed = 1;
  bool kill = true;
};

enum class Fault { kNone, kLate, kHeld, kEmptyPage, kShortNotice, kLongNotice, kUnknownPrinter };

int failures = 0;
void check(bool ok, const std::string& what) {
  if (!ok) {
    ++failures;
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  }
}

using e2e::pageFile;
using soak::randomStream;

class Soak {
 public:
  explicit Soak(const Options& o) : o_(o), rng_(o.seed) {}

  int run() {
    setUp();
    startRelay();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o_.seconds);
    long fdsEarly = -1;
    long rssEarly = -1;
    for (int i = 0; i < o_.jobs && std::chrono::steady_clock::now() < deadline; ++i) {
      oneJob(static_cast<std::uint32_t>(1000 + i));
      if (i == o_.jobs / 10) {
        waitForDocuments(deadline);
        fdsEarly = openFiles();
        rssEarly = rssKb();
      }
    }
    waitForDocuments(deadline);
    compareDocuments();
    const long fdsLate = openFiles();
    const long rssLate = rssKb();
    std::printf("relay open files %ld -> %ld, resident memory %ld kB -> %ld kB\n", fdsEarly,
                fdsLate, rssEarly, rssLate);
    check(fdsLate <= fdsEarly + 2, "the relay's open files grew");
    check(rssLate <= rssEarly + 64 * 1024, "the relay's memory grew by more than 64 MiB");
    if (o_.kill) killAndRestart();
    check(e2e::stopRelay(*relay_, 5s) == std::optional<int>(0), "the relay did not end cleanly");
    std::printf("%d jobs posted, %zu documents compared, %d faults injected\n", posted_, compared_,
                faults_);
    std::printf("soak: %d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
  }

 private:
  void setUp() {
    for (int p = 0; p < o_.printers; ++p) {
      // Names of many lengths, some beyond ASCII.
      std::string name = "P";
      name += std::to_string(p);
      name += '-';
      name.append(static_cast<std::size_t>(p) * 9, 'x');
      if (p % 3 == 1) name += "-\xC3\xA9\xE2\x82\xAC";
      printers_.push_back(name);
      e2e::makeDirs(root() + "/" + name + "/data");
      if (p % 2 == 0) {
        e2e::writeFile(root() + "/" + name + "/data/PRTDATA_IDX_HIGH_SPEED_MODE", {1, 0, 0, 0});
        e2e::writeFile(root() + "/" + name + "/data/PRTDATA_IDX_TEST", {0, 0, 0, 0});
      }
    }
    e2e::makeDirs(tmp_.path() + "/public/TIVORAN");
    e2e::makeDirs(tmp_.path() + "/pages");
  }

  std::string root() const { return tmp_.path() + "/printers"; }
  std::string spool() const { return tmp_.path() + "/public/TIVORAN"; }
  std::string pagePath(std::uint32_t job, std::uint32_t page) const {
    char name[64];
    std::snprintf(name, sizeof name, "/TIVORAN_%08X_%08X.bin", job, page);
    return spool() + name;
  }

  void startRelay() {
    relay_ = e2e::startRelay(e2e::builtProgram("spoolrelayer"), tmp_.path() + "/public",
                             "dir:" + root(), endpoint_, tmp_.path() + "/relay.log");
    check(e2e::waitUntil([&] { return post(notice("", 1, 0), true); }),
          "the relay did not take notices");
  }

  Bytes notice(const std::string& printer, std::uint32_t job, std::uint32_t copies) {
    Bytes n(552, 0);
    const std::u16string name = base::toUtf16(printer);
    for (std::size_t i = 0; i < name.size() && i < 259; ++i) {
      n[2 * i] = static_cast<std::uint8_t>(name[i]);
      n[2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      n[520 + k] = static_cast<std::uint8_t>(job >> (8 * k));
      n[524 + k] = static_cast<std::uint8_t>(copies >> (8 * k));
    }
    n[528] = 'P';
    return n;
  }

  bool post(const Bytes& n, bool quiet = false) {
    const bool ok = posix::postNotice(endpoint_, n);
    if (!quiet) check(ok, "a notice could not be posted");
    return ok;
  }

  void writePage(std::uint32_t job, std::uint32_t page, const Bytes& bytes) {
    const std::string temp = pagePath(job, page) + ".part";
    e2e::writeFile(temp, bytes);
    ::rename(temp.c_str(), pagePath(job, page).c_str());
  }

  /// The expected document for these page files, from relaytool process.
  Bytes expected(const std::string& printer, const std::vector<std::string>& files) {
    std::vector<std::string> argv{e2e::builtProgram("tools/relaytool"), "process", "--printer-data",
                                  root() + "/" + printer + "/data",     "--model", "P"};
    argv.insert(argv.end(), files.begin(), files.end());
    Bytes out;
    check(e2e::runProgram(argv, &out) == 0, "relaytool process failed");
    return out;
  }

  void oneJob(std::uint32_t job) {
    const std::string& printer = printers_[rng_() % printers_.size()];
    const int pageCount = 1 + static_cast<int>(rng_() % 3);
    const Fault fault = static_cast<Fault>(rng_() % 7);
    std::uint32_t copies = 1 + rng_() % 2;
    if (fault == Fault::kEmptyPage) copies = 1;  // a later copy would wait for the deleted file
    if (fault != Fault::kNone) ++faults_;

    std::vector<Bytes> pages;
    std::vector<std::string> files;
    for (int p = 1; p <= pageCount; ++p) {
      Bytes bytes = pageFile(randomStream(rng_), p == pageCount ? 2 : 0);
      if (fault == Fault::kEmptyPage && p == 1 && pageCount > 1) bytes.clear();
      files.push_back(tmp_.path() + "/pages/" + std::to_string(job) + "-" + std::to_string(p));
      e2e::writeFile(files.back(), bytes);
      pages.push_back(bytes);
    }
    Bytes n = notice(fault == Fault::kUnknownPrinter ? printer + "-missing" : printer, job, copies);
    if (fault == Fault::kShortNotice) n.resize(524);
    if (fault == Fault::kLongNotice) n.resize(600, 0x41);

    int held = -1;
    if (fault != Fault::kLate) {
      for (int p = 0; p < pageCount; ++p)
        writePage(job, static_cast<std::uint32_t>(p + 1), pages[static_cast<std::size_t>(p)]);
    }
    if (fault == Fault::kHeld) {
      // The driver still holds the first page: the relay must wait until it lets go.
      held = ::open(pagePath(job, 1).c_str(), O_RDONLY | O_CLOEXEC);
      if (held >= 0) ::flock(held, LOCK_EX);
    }
    post(n);
    ++posted_;
    if (fault == Fault::kLate) {
      for (int p = 0; p < pageCount; ++p)
        writePage(job, static_cast<std::uint32_t>(p + 1), pages[static_cast<std::size_t>(p)]);
    }
    if (held >= 0) ::close(held);

    const bool relayed = fault != Fault::kShortNotice && fault != Fault::kLongNotice &&
                         fault != Fault::kUnknownPrinter;
    if (relayed) {
      const Bytes want = expected(printer, files);
      for (std::uint32_t c = 0; c < copies; ++c) expectedDocs_[printer].push_back(want);
      relayedJobs_.push_back({job, static_cast<std::uint32_t>(pageCount)});
    } else {
      leftovers_.push_back({job, static_cast<std::uint32_t>(pageCount)});
    }
  }

  std::vector<std::string> finishedDocuments(const std::string& printer) {
    std::vector<std::string> names;
    for (const auto& n : e2e::listDir(root() + "/" + printer + "/documents")) {
      if (n.size() == 12 && n.substr(8) == ".bin") names.push_back(n);
    }
    return names;
  }

  void waitForDocuments(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now() + 30s);
    check(e2e::waitUntil(
              [&] {
                for (const auto& [printer, docs] : expectedDocs_) {
                  if (finishedDocuments(printer).size() < docs.size()) return false;
                }
                return true;
              },
              left),
          "not every document arrived in time");
  }

  void compareDocuments() {
    for (auto& [printer, want] : expectedDocs_) {
      std::vector<Bytes> have;
      for (const auto& n : finishedDocuments(printer)) {
        have.push_back(e2e::readFile(root() + "/" + printer + "/documents/" + n).value_or(Bytes{}));
      }
      // The same documents in any order: each one found is taken out of the wanted ones.
      bool same = have.size() == want.size();
      for (const Bytes& doc : have) {
        const auto it = std::find(want.begin(), want.end(), doc);
        if (it == want.end()) {
          same = false;
          break;
        }
        want.erase(it);
      }
      check(same, "documents of " + printer + " differ from relaytool process");
      compared_ += have.size();
    }
    // Page files of relayed jobs are deleted; the others stay, and are cleaned up here.
    check(e2e::waitUntil([&] {
            for (const auto& [job, count] : relayedJobs_) {
              for (std::uint32_t p = 1; p <= count; ++p) {
                if (e2e::exists(pagePath(job, p))) return false;
              }
            }
            return true;
          }),
          "page files of relayed jobs were left");
    for (const auto& [job, count] : leftovers_) {
      for (std::uint32_t p = 1; p <= count; ++p) ::unlink(pagePath(job, p).c_str());
    }
  }

  long openFiles() const {
    return static_cast<long>(e2e::listDir("/proc/" + std::to_string(relay_->pid()) + "/fd").size());
  }
  long rssKb() const {
    const auto status = e2e::readFile("/proc/" + std::to_string(relay_->pid()) + "/status");
    if (!status) return -1;
    const std::string text(status->begin(), status->end());
    const std::size_t at = text.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 6);
  }

  /// kill -9 while a job waits for its second page, then a restart: no half document is
  /// visible, the killed job is taken up again and ends once its page comes, and the
  /// printer serves the next job.
  void killAndRestart() {
    const std::string& printer = printers_[0];
    const std::size_t before = finishedDocuments(printer).size();
    writePage(1, 1,
              pageFile({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o',
                        'p', '\n'},
                       0));
    post(notice(printer, 1, 1));
    check(e2e::waitUntil([&] {
            for (const auto& n : e2e::listDir(root() + "/" + printer + "/documents")) {
              if (n.find(".part") != std::string::npos) return true;
            }
            return false;
          }),
          "the job to be killed never started its document");
    relay_->signal(SIGKILL);
    relay_->waitExit(5s);
    check(finishedDocuments(printer).size() == before, "a half document became visible");
    startRelay();
    writePage(1, 2,
              pageFile({'t', 'h', 'e', ' ', 'k', 'i', 'l', 'l', 'e', 'd',
                        ' ', 'j', 'o', 'b', ' ', 'e', 'n', 'd', 's', '\n'},
                       2));
    const std::vector<Bytes> page{pageFile(
        {'a', 'f', 't', 'e', 'r', ' ', 'r', 'e', 's', 't', 'a', 'r', 't', '.', '.', '.', '\n'}, 2)};
    writePage(2, 1, page[0]);
    post(notice(printer, 2, 1));
    check(e2e::waitUntil([&] { return finishedDocuments(printer).size() == before + 2; }),
          "after a kill -9 and a restart the killed job and the next were not both served");
    check(e2e::waitUntil([&] { return !e2e::exists(pagePath(1, 1)); }),
          "the killed job's page files were left");
  }

  Options o_;
  std::mt19937 rng_;
  e2e::TempDir tmp_;
  std::string endpoint_ = "spr-soak-" + std::to_string(::getpid());
  std::unique_ptr<e2e::Child> relay_;
  std::vector<std::string> printers_;
  std::map<std::string, std::vector<Bytes>> expectedDocs_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> relayedJobs_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> leftovers_;
  int posted_ = 0;
  int faults_ = 0;
  std::size_t compared_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int kills = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--no-kill") {
      o.kill = false;
    } else if (arg == "--jobs" && hasValue) {
      o.jobs = std::atoi(argv[++i]);
    } else if (arg == "--printers" && hasValue) {
      o.printers = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--seconds" && hasValue) {
      o.seconds = std::atoi(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      o.seed = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (arg == "--kills" && hasValue) {
      kills = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: soak --jobs N --printers P --seconds S [--seed K] [--no-kill] "
                   "[--kills K]\n");
      return 2;
    }
  }
  if (kills > 0) return soak::runKillSoak({o.jobs, o.printers, o.seconds, o.seed, kills});
  return Soak(o).run();
}
