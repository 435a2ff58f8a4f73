// The job journal's cost per job, and the duplicate window: the time from the spooler's
// end of a document to the journal's durable record of it.
//
// - BM_JournalEntries: one job's entries (notice, one copy of three pages, outcome)
//   encoded and appended in memory: the journal's own CPU work, and its bytes per record.
// - BM_FdatasyncFloor: one 64-byte write and fdatasync() on the journal's disk, the
//   floor under every durable entry.
// - BM_JournalPerJob: the same job's entries into the real journal file, by 1 and 16
//   threads at once (16 printers): two durable entries per job, syncs shared.
// - BM_RunJob / BM_RunJobJournaled: a whole one-page job through runJob into the real
//   directory spooler on disk, without and with the journal; with it, each copy's
//   duplicate window is measured and reported as counters (microseconds): to the entry
//   written (a crash of the process) and to its sync (a crash of the system).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeJournal.h"
#include "fakes/FakePlatform.h"
#include "job/JobRunner.h"
#include "job/Journal.h"
#include "platform/posix/DirectorySpooler.h"
#include "platform/posix/PosixJobJournal.h"

namespace {

using Clock = std::chrono::steady_clock;

/// A folder on the disk the journal would use, removed at the end.
struct DiskDir {
  DiskDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/var/tmp") + "/spr-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~DiskDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

job::JobRequest request(std::uint32_t jobId, const char16_t* printer = u"Receipt") {
  return job::JobRequest{printer, jobId, 1, u'P', 0, 1000u};
}

/// One job's events as a run sends them: one copy of three pages.
void journalOneJob(job::Journal& journal, std::uint32_t jobId, const char16_t* printer) {
  auto log = journal.accept(request(jobId, printer));
  log->documentEnding();
  log->copyDone(job::CopyRecord{0, true, true, 0, 4, {312, 1480, 97}});
  log->copySettled();
  log->runEnded(job::RunEnd::kCopiesDone);
}

void BM_JournalEntries(benchmark::State& state) {
  fakes::FakeJournal store;
  fakes::FakeDebugOutput debug;
  job::Journal journal(store, debug);
  (void)journal.open();
  std::uint32_t jobId = 1;
  for (auto _ : state) {
    journalOneJob(journal, jobId++, u"Receipt");
    if (store.bytes.size() > (64u << 20)) {  // keep memory bounded; the rest is the same
      state.PauseTiming();
      store.bytes.resize(job::kJournalMark.size());
      state.ResumeTiming();
    }
  }
  fakes::FakeJournal sample;
  job::Journal one(sample, debug);
  (void)one.open();
  journalOneJob(one, 0x2A, u"Receipt");
  state.counters["bytes_per_record"] =
      static_cast<double>(sample.bytes.size() - job::kJournalMark.size());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JournalEntries)->Iterations(100000);  // enough for compactions to run

void BM_FdatasyncFloor(benchmark::State& state) {
  DiskDir dir;
  const std::string path = dir.path + "/floor";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const std::vector<std::uint8_t> entry(64, 0x5A);
  for (auto _ : state) {
    if (::write(fd, entry.data(), entry.size()) != 64 || ::fdatasync(fd) != 0) {
      state.SkipWithError("write or fdatasync failed");
      break;
    }
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FdatasyncFloor)->UseRealTime()->MinTime(2.0);

/// The journal file shared by the threads of one benchmark run.
struct SharedJournal {
  DiskDir dir;
  posix::PosixJobJournal store{dir.path};
  fakes::FakeDebugOutput debug;
  job::Journal journal{store, debug};
  SharedJournal() { (void)journal.open(); }
};

void BM_JournalPerJob(benchmark::State& state) {
  // One journal for every run, made once whichever thread comes first.
  static SharedJournal journal;
  SharedJournal* shared = &journal;
  static const char16_t* const kPrinters[] = {u"P0",  u"P1",  u"P2",  u"P3", u"P4",  u"P5",
                                              u"P6",  u"P7",  u"P8",  u"P9", u"P10", u"P11",
                                              u"P12", u"P13", u"P14", u"P15"};
  const char16_t* printer = kPrinters[state.thread_index() % 16];
  std::uint32_t jobId = static_cast<std::uint32_t>(state.thread_index()) << 24;
  for (auto _ : state) journalOneJob(shared->journal, jobId++, printer);
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    state.counters["journal_failures"] = static_cast<double>(shared->debug.lines.size());
  }
}
BENCHMARK(BM_JournalPerJob)->UseRealTime()->MinTime(2.0)->Threads(1)->Threads(16);

/// Records when the spooler's end of document returned, on this thread.
thread_local Clock::time_point tEndedAt;

class TimedPrinter : public platform::Printer {
 public:
  explicit TimedPrinter(std::unique_ptr<platform::Printer> p) : p_(std::move(p)) {}
  bool queryInfoSize(std::uint32_t& needed) override { return p_->queryInfoSize(needed); }
  bool readInfo(std::span<std::byte> block, std::u16string& port) override {
    return p_->readInfo(block, port);
  }
  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override {
    return p_->getData(name, dest);
  }
  bool startDoc(const platform::DocInfo& info) override { return p_->startDoc(info); }
  bool startPage() override { return p_->startPage(); }
  bool write(std::span<const std::uint8_t> bytes) override { return p_->write(bytes); }
  bool endPage() override { return p_->endPage(); }
  bool endDoc() override {
    const bool ended = p_->endDoc();  // the document is published as this returns
    tEndedAt = Clock::now();
    return ended;
  }
  bool settleDoc() override { return p_->settleDoc(); }
  bool enumJobs(std::vector<platform::JobEntry>& entries) override { return p_->enumJobs(entries); }
  bool deleteJob(const platform::JobEntry& entry) override { return p_->deleteJob(entry); }

 private:
  std::unique_ptr<platform::Printer> p_;
};

class TimedSpooler : public platform::Spooler {
 public:
  explicit TimedSpooler(std::string root) : spooler_(std::move(root)) {}
  std::unique_ptr<platform::Printer> open(std::u16string_view name) override {
    auto printer = spooler_.open(name);
    return printer ? std::make_unique<TimedPrinter>(std::move(printer)) : nullptr;
  }
  std::uint32_t lastError() override { return spooler_.lastError(); }

 private:
  posix::DirectorySpooler spooler_;
};

/// Records when this thread's last append to the journal returned.
thread_local Clock::time_point tAppendedAt;

class TimedJournalFile : public platform::JobJournal {
 public:
  explicit TimedJournalFile(std::string dir) : file_(std::move(dir)) {}
  bool take(std::string& why) override { return file_.take(why); }
  bool read(std::vector<std::uint8_t>& bytes, std::string& why) override {
    return file_.read(bytes, why);
  }
  bool append(std::span<const std::uint8_t> bytes, std::string& why) override {
    const bool ok = file_.append(bytes, why);
    tAppendedAt = Clock::now();
    return ok;
  }
  bool sync(std::string& why) override { return file_.sync(why); }
  bool replace(std::span<const std::uint8_t> bytes, std::string& why) override {
    return file_.replace(bytes, why);
  }
  std::int64_t nowUnixMs() override { return file_.nowUnixMs(); }

 private:
  posix::PosixJobJournal file_;
};

/// Each copy's two windows, in microseconds from the document's end: to the copy's entry
/// written into the file (what a crash of the process can lose: the kernel keeps what was
/// written) and to its sync (what a crash of the system can lose).
struct Windows {
  std::vector<double> writtenUs;
  std::vector<double> durableUs;
};

/// Passes a run's events to its log and times each copy's windows.
class WindowTimer : public job::JobEvents {
  static double us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
  }

 public:
  WindowTimer(job::JobEvents& log, Windows& windows) : log_(log), windows_(windows) {}
  void line(std::string_view line) override { log_.line(line); }
  void emptyPage(std::uint32_t page) override { log_.emptyPage(page); }
  void documentEnding() override { log_.documentEnding(); }
  void copyDone(const job::CopyRecord& copy) override {
    log_.copyDone(copy);  // appends the copy's entry on this thread
    windows_.writtenUs.push_back(us(tAppendedAt - tEndedAt));
  }
  void copySettled() override {
    log_.copySettled();  // after the spooler's sync of the document, the entry's
    windows_.durableUs.push_back(us(Clock::now() - tEndedAt));
  }
  void runEnded(job::RunEnd end) override { log_.runEnded(end); }

 private:
  job::JobEvents& log_;
  Windows& windows_;
};

/// The median, 99th percentile and maximum of `values`, as counters named `name_*_us`.
void reportWindows(benchmark::State& state, const std::string& name, std::vector<double> values) {
  if (values.empty()) return;
  std::sort(values.begin(), values.end());
  auto at = [&](double q) {
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
  };
  state.counters[name + "_p50_us"] = at(0.5);
  state.counters[name + "_p99_us"] = at(0.99);
  state.counters[name + "_max_us"] = values.back();
}

/// The spooler root and journal shared by the threads of one run.
struct SharedRelay {
  DiskDir dir;
  TimedSpooler spooler{dir.path + "/printers"};
  TimedJournalFile store{dir.path + "/state"};
  fakes::FakeDebugOutput debug;
  job::Journal journal{store, debug};
  std::mutex mutex;
  Windows windows;
  std::atomic<int> added{0};
  SharedRelay() { (void)journal.open(); }
};

/// One-page jobs through runJob into the directory spooler on disk, each thread on a
/// printer of its own; with the journal, each copy's window is timed.
void runJobs(benchmark::State& state, bool journaled) {
  // One relay each for the runs with and without the journal, made once whichever thread
  // comes first; thread 0 starts the run's windows afresh before the loop's barrier.
  static SharedRelay plain;
  static SharedRelay withJournal;
  SharedRelay* shared = journaled ? &withJournal : &plain;
  if (state.thread_index() == 0) {
    shared->windows = {};
    shared->added = 0;
  }
  const std::u16string printer =
      u"P" + std::u16string(1, static_cast<char16_t>(u'A' + state.thread_index()));
  const std::string folder = shared->dir.path + "/printers/P" +
                             std::string(1, static_cast<char>('A' + state.thread_index()));
  std::filesystem::create_directories(folder);
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files{clock};
  fakes::FakeDebugOutput debug;
  job::JobPorts ports{shared->spooler, locks, folders, files, clock, debug};
  Windows windows;
  std::vector<std::uint8_t> page(5 + 600, 'x');
  page[0] = 0x58;  // 600, little-endian
  page[1] = 0x02;
  page[4] = 2;  // the last page
  std::uint32_t jobId = 1;
  for (auto _ : state) {
    if (jobId % 256 == 0) {  // a documents folder of thousands would slow its listing
      state.PauseTiming();
      std::error_code ignored;
      std::filesystem::remove_all(folder + "/documents", ignored);
      state.ResumeTiming();
    }
    files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', jobId, 1)].bytes = page;
    const job::JobRequest r{printer, jobId++, 1, u'P', 0, 1000u};
    if (journaled) {
      auto log = shared->journal.accept(r);
      WindowTimer timer(*log, windows);
      job::runJob(ports, r, timer);
    } else {
      job::runJob(ports, r);
    }
  }
  state.SetItemsProcessed(state.iterations());
  {
    std::lock_guard lock(shared->mutex);
    auto& all = shared->windows;
    all.writtenUs.insert(all.writtenUs.end(), windows.writtenUs.begin(), windows.writtenUs.end());
    all.durableUs.insert(all.durableUs.end(), windows.durableUs.begin(), windows.durableUs.end());
  }
  shared->added.fetch_add(1);
  if (state.thread_index() == 0 && journaled) {
    // Every thread adds its windows after the loop; thread 0 reports them all.
    while (shared->added.load() < state.threads()) std::this_thread::yield();
    reportWindows(state, "written", shared->windows.writtenUs);
    reportWindows(state, "durable", shared->windows.durableUs);
  }
}
void BM_RunJob(benchmark::State& state) {
  runJobs(state, false);
}
void BM_RunJobJournaled(benchmark::State& state) {
  runJobs(state, true);
}
BENCHMARK(BM_RunJob)->UseRealTime()->MinTime(3.0)->Threads(1)->Threads(16);
BENCHMARK(BM_RunJobJournaled)->UseRealTime()->MinTime(3.0)->Threads(1)->Threads(16);

}  // namespace

BENCHMARK_MAIN();
