#include "soak/KillSoak.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/Sha256.h"
#include "base/Utf.h"
#include "e2e/ProcessSupport.h"
#include "platform/posix/SocketNoticeEndpoint.h"
#include "soak/SoakPages.h"

namespace soak {
namespace {

using e2e::Bytes;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Job {
  std::uint32_t id = 0;
  std::string printer;
  std::uint32_t copies = 1;
  std::vector<std::string> pageCopies;  // the pages, kept where the relay does not delete them
};

/// Writes page files at their due times, from a thread of its own: the driver's late pages.
class LateWriter {
 public:
  LateWriter() : thread_([this] { loop(); }) {}
  ~LateWriter() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void add(Clock::time_point due, std::string path, Bytes bytes) {
    {
      std::lock_guard lock(mutex_);
      due_.emplace(due, Page{std::move(path), std::move(bytes)});
    }
    wake_.notify_all();
  }
  void drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return due_.empty(); });
  }

 private:
  struct Page {
    std::string path;
    Bytes bytes;
  };
  void loop() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (due_.empty()) {
        idle_.notify_all();
        wake_.wait(lock);
        continue;
      }
      const auto next = due_.begin();
      if (Clock::now() < next->first) {
        wake_.wait_until(lock, next->first);
        continue;
      }
      const Page page = next->second;
      due_.erase(next);
      lock.unlock();
      e2e::writeFile(page.path + ".part", page.bytes);
      ::rename((page.path + ".part").c_str(), page.path.c_str());
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::multimap<Clock::time_point, Page> due_;
  bool stop_ = false;
  std::thread thread_;
};

class KillSoak {
 public:
  explicit KillSoak(const KillSoakOptions& o) : o_(o), rng_(o.seed) {}

  int run() {
    setUp();
    startRelay();
    const auto deadline = Clock::now() + std::chrono::seconds(o_.seconds);
    std::set<int> killAt;  // kills come after these jobs, spread over the run
    while (static_cast<int>(killAt.size()) < std::min(o_.kills, o_.jobs)) {
      killAt.insert(static_cast<int>(rng_() % static_cast<unsigned>(o_.jobs)));
    }
    {
      LateWriter late;
      for (int i = 0; i < o_.jobs && Clock::now() < deadline; ++i) {
        postJob(static_cast<std::uint32_t>(0x1000 + i), late);
        if (killAt.count(i) != 0) killAndRestart();
        std::this_thread::sleep_for(std::chrono::milliseconds(rng_() % 6));
      }
      late.drain();
    }
    waitUntilSettled(deadline + 60s);
    const int status = count();
    (void)e2e::stopRelay(*relay_, 5s);
    return status;
  }

 private:
  void setUp() {
    for (int p = 0; p < o_.printers; ++p) {
      std::string name = "K";
      name += std::to_string(p);
      if (p % 4 == 3) name += "-\xC3\xA9";
      printers_.push_back(name);
      e2e::makeDirs(root() + "/" + name + "/data");
      if (p % 2 == 0) {
        e2e::writeFile(root() + "/" + name + "/data/PRTDATA_IDX_HIGH_SPEED_MODE", {1, 0, 0, 0});
      }
    }
    e2e::makeDirs(tmp_.path() + "/public/TIVORAN");
    e2e::makeDirs(tmp_.path() + "/pages");
  }
  std::string root() const { return tmp_.path() + "/printers"; }
  std::string pagePath(std::uint32_t job, std::uint32_t page) const {
    char name[64];
    std::snprintf(name, sizeof name, "/public/TIVORAN/TIVORAN_%08X_%08X.bin", job, page);
    return tmp_.path() + name;
  }

  void startRelay() {
    relay_ =
        e2e::startRelay(e2e::builtProgram("spoolrelayer"), tmp_.path() + "/public", "dir:" + root(),
                        endpoint_, tmp_.path() + "/relay-" + std::to_string(starts_++) + ".log");
    // The relay takes notices once this one, for no printer, gets through.
    Bytes probe(552, 0);
    if (!e2e::waitUntil([&] { return posix::postNotice(endpoint_, probe); })) {
      std::fprintf(stderr, "FAIL: the relay did not take notices after its start\n");
    }
  }

  void killAndRestart() {
    // A random moment within the next few milliseconds: in the middle of whatever runs.
    std::this_thread::sleep_for(std::chrono::microseconds(rng_() % 20'000));
    relay_->signal(SIGKILL);
    (void)relay_->waitExit(5s);
    ++kills_;
    startRelay();
  }

  Bytes notice(const Job& job) const {
    Bytes n(552, 0);
    const std::u16string name = base::toUtf16(job.printer);
    for (std::size_t i = 0; i < name.size(); ++i) {
      n[2 * i] = static_cast<std::uint8_t>(name[i]);
      n[2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      n[520 + k] = static_cast<std::uint8_t>(job.id >> (8 * k));
      n[524 + k] = static_cast<std::uint8_t>(job.copies >> (8 * k));
    }
    n[528] = 'P';
    return n;
  }

  /// One job: its pages but the last written now, the notice posted (again and again
  /// while the relay is down, as a driver retrying would), the last page written late.
  void postJob(std::uint32_t id, LateWriter& late) {
    Job job;
    job.id = id;
    job.printer = printers_[rng_() % printers_.size()];
    job.copies = 1 + static_cast<std::uint32_t>(rng_() % 3);
    const auto pageCount = 1 + static_cast<std::uint32_t>(rng_() % 3);
    for (std::uint32_t p = 1; p <= pageCount; ++p) {
      Bytes stream = randomStream(rng_);
      if (p == 1) {  // the job's own mark, so each document tells whose it is
        std::string mark = "JOB ";
        mark += std::to_string(id);
        mark += '\n';
        stream.insert(stream.begin(), mark.begin(), mark.end());
      }
      const Bytes file = e2e::pageFile(stream, p == pageCount ? 2 : 0);
      std::string copy = tmp_.path();
      copy += "/pages/";
      copy += std::to_string(id);
      copy += '-';
      copy += std::to_string(p);
      job.pageCopies.push_back(copy);
      e2e::writeFile(job.pageCopies.back(), file);
      if (p < pageCount) {
        e2e::writeFile(pagePath(id, p) + ".part", file);
        ::rename((pagePath(id, p) + ".part").c_str(), pagePath(id, p).c_str());
      } else {
        late.add(Clock::now() + std::chrono::milliseconds(rng_() % 300), pagePath(id, p), file);
      }
    }
    const Bytes n = notice(job);
    if (!e2e::waitUntil([&] { return posix::postNotice(endpoint_, n); })) {
      std::fprintf(stderr, "FAIL: notice of job %u not taken\n", id);
    }
    jobs_.push_back(std::move(job));
  }

  std::vector<std::string> documents(const std::string& printer) const {
    std::vector<std::string> names;
    for (const auto& n : e2e::listDir(root() + "/" + printer + "/documents")) {
      if (n.size() == 12 && n.substr(8) == ".bin") names.push_back(n);
    }
    return names;
  }

  /// The journal as relaytool gives it, one JSON line per job.
  std::vector<std::string> journal() const {
    Bytes out;
    (void)e2e::runProgram({e2e::builtProgram("tools/relaytool"), "jobs", "--json", "--last", "0",
                           "--state-dir", e2e::stateDir(tmp_.path() + "/public")},
                          &out);
    std::vector<std::string> lines;
    std::string text(out.begin(), out.end());
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
      lines.push_back(text.substr(at, end - at));
    }
    return lines;
  }

  /// Waits until every record has an outcome and the documents stop coming.
  void waitUntilSettled(Clock::time_point deadline) {
    std::size_t seen = 0;
    auto quietSince = Clock::now();
    while (Clock::now() < deadline) {
      std::size_t total = 0;
      for (const std::string& p : printers_) total += documents(p).size();
      if (total != seen) {
        seen = total;
        quietSince = Clock::now();
      }
      bool open = false;
      for (const std::string& line : journal()) {
        open = open || line.find("\"outcome\": null") != std::string::npos;
      }
      if (!open && Clock::now() - quietSince > 2s) return;
      std::this_thread::sleep_for(200ms);
    }
    std::fprintf(stderr, "FAIL: the jobs did not settle in time\n");
    ++failures_;
  }

  int count() {
    // Which job each document belongs to, by the digest of its bytes.
    std::unordered_map<std::string, std::size_t> owner;
    for (std::size_t j = 0; j < jobs_.size(); ++j) {
      std::vector<std::string> argv{
          e2e::builtProgram("tools/relaytool"),      "process", "--printer-data",
          root() + "/" + jobs_[j].printer + "/data", "--model", "P"};
      argv.insert(argv.end(), jobs_[j].pageCopies.begin(), jobs_[j].pageCopies.end());
      Bytes want;
      if (e2e::runProgram(argv, &want) != 0) ++failures_;
      owner[base::sha256Hex(want)] = j;
    }
    std::vector<std::uint32_t> got(jobs_.size(), 0);
    std::size_t unmatched = 0;
    std::size_t received = 0;
    for (const std::string& p : printers_) {
      for (const std::string& n : documents(p)) {
        const Bytes doc = e2e::readFile(root() + "/" + p + "/documents/" + n).value_or(Bytes{});
        ++received;
        const auto it = owner.find(base::sha256Hex(doc));
        if (it == owner.end() || jobs_[it->second].printer != p) {
          ++unmatched;
        } else {
          ++got[it->second];
        }
      }
    }
    // Jobs the journal knows, and how they ended.
    std::set<std::uint32_t> recorded;
    std::map<std::string, int> outcomes;
    for (const std::string& line : journal()) {
      const std::size_t at = line.find("\"jobId\": ");
      if (at == std::string::npos || line.find("\"printer\": \"\"") != std::string::npos) continue;
      recorded.insert(static_cast<std::uint32_t>(std::stoul(line.substr(at + 9))));
      const std::size_t o = line.find("\"outcome\": ");
      ++outcomes[line.substr(o + 11, line.find(',', o) - o - 11)];
    }
    std::size_t expected = 0, lost = 0, lostUnrecorded = 0, twice = 0, jobsTwice = 0;
    std::size_t unrecordedJobs = 0;
    for (std::size_t j = 0; j < jobs_.size(); ++j) {
      expected += jobs_[j].copies;
      const bool known = recorded.count(jobs_[j].id) != 0;
      if (!known) ++unrecordedJobs;
      if (got[j] < jobs_[j].copies) (known ? lost : lostUnrecorded) += jobs_[j].copies - got[j];
      if (got[j] > jobs_[j].copies) {
        twice += got[j] - jobs_[j].copies;
        ++jobsTwice;
      }
    }
    std::printf("kill-and-restart soak: %zu jobs over %zu printers, %d kills\n", jobs_.size(),
                printers_.size(), kills_);
    std::printf(
        "documents: %zu expected, %zu received, %zu lost in recorded jobs, %zu sent twice "
        "(in %zu jobs), %zu belonging to no job\n",
        expected, received, lost, twice, jobsTwice, unmatched);
    std::printf(
        "notices never recorded (lost with a killed process before acceptance): %zu jobs, "
        "%zu documents\n",
        unrecordedJobs, lostUnrecorded);
    std::printf("outcomes:");
    for (const auto& [word, n] : outcomes) std::printf(" %s %d", word.c_str(), n);
    std::printf("\n");
    printRelayLines();
    if (lost > 0 || unmatched > 0) ++failures_;
    std::printf("soak: %d passed, %d failed\n", failures_ == 0 ? 1 : 0, failures_ == 0 ? 0 : 1);
    return failures_ == 0 ? 0 : 1;
  }

  /// The relay's debug lines over all its starts, each with how often it came.
  void printRelayLines() const {
    std::map<std::string, int> seen;
    for (int s = 0; s < starts_; ++s) {
      const Bytes log =
          e2e::readFile(tmp_.path() + "/relay-" + std::to_string(s) + ".log").value_or(Bytes{});
      const std::string text(log.begin(), log.end());
      for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
           at = end + 1) {
        ++seen[text.substr(at, end - at)];
      }
    }
    for (const auto& [line, n] : seen) std::printf("  relay said %5d x %s\n", n, line.c_str());
  }

  KillSoakOptions o_;
  std::mt19937 rng_;
  e2e::TempDir tmp_;
  std::string endpoint_ = "spr-killsoak-" + std::to_string(::getpid());
  std::unique_ptr<e2e::Child> relay_;
  std::vector<std::string> printers_;
  std::vector<Job> jobs_;
  int kills_ = 0;
  int starts_ = 0;
  int failures_ = 0;
};

}  // namespace

int runKillSoak(const KillSoakOptions& options) {
  return KillSoak(options).run();
}

}  // namespace soak
