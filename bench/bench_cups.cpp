// One-page RAW jobs per second on a CUPS scheduler: straight through libcups (the floor
// the relay's CUPS spooler is compared with), and through the CupsSpooler seam as the
// relay uses it per job. Needs a scheduler with a pass-through queue:
//   scripts/with-cups-test-server build/release/bench/bench_cups
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "RelayBenchSupport.h"
#include "base/Utf.h"
#include "platform/posix/CupsSpooler.h"

namespace {

constexpr int kBatch = 20;  // jobs submitted back to back, then waited for
constexpr auto kDeadline = std::chrono::seconds(60);

std::string queueName() {
  const char* name = std::getenv("CUPS_TEST_PRINTER");
  return name && *name ? name : "TESTPRN";
}

/// A page of ESC/POS-like bytes: text lines and a cut.
std::vector<char> pageOf(std::size_t size) {
  std::vector<char> page(size);
  for (std::size_t i = 0; i < size; ++i)
    page[i] = i % 48 == 47 ? '\n' : static_cast<char>('A' + i % 26);
  return page;
}

/// Waits until every job of `ids` is completed; false on another final state or timeout.
bool waitCompleted(http_t* http, const std::string& queue, const std::vector<int>& ids) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    cups_job_t* jobs = nullptr;
    const int n = cupsGetJobs2(http, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
    int completed = 0;
    bool failed = n < 0;
    for (int i = 0; i < n; ++i) {
      for (int id : ids) {
        if (jobs[i].id != id) continue;
        if (jobs[i].state == IPP_JSTATE_COMPLETED) ++completed;
        if (jobs[i].state == IPP_JSTATE_CANCELED || jobs[i].state == IPP_JSTATE_ABORTED ||
            jobs[i].state == IPP_JSTATE_STOPPED)
          failed = true;
      }
    }
    cupsFreeJobs(n < 0 ? 0 : n, jobs);
    if (failed) return false;
    if (completed == static_cast<int>(ids.size())) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

void purge(http_t* http, const std::string& queue, const std::vector<int>& ids) {
  for (int id : ids) (void)cupsCancelJob2(http, queue.c_str(), id, 1);
}

/// Submits one RAW document with libcups; the job id, or 0.
int submitRaw(http_t* http, const std::string& queue, const std::vector<char>& page) {
  const int id = cupsCreateJob(http, queue.c_str(), "My Document", 0, nullptr);
  if (id == 0) return 0;
  if (cupsStartDocument(http, queue.c_str(), id, "My Document", CUPS_FORMAT_RAW, 1) !=
          HTTP_STATUS_CONTINUE ||
      cupsWriteRequestData(http, page.data(), page.size()) != HTTP_STATUS_CONTINUE ||
      cupsFinishDocument(http, queue.c_str()) != IPP_STATUS_OK)
    return 0;
  return id;
}

/// Runs batches of kBatch jobs, each made by `submit`, and waits for each batch to
/// complete inside the timing; purging the batch afterwards is not timed.
template <typename Submit>
void runBatches(benchmark::State& state, Submit submit) {
  if (!std::getenv("CUPS_SERVER")) {
    state.SkipWithError("CUPS_SERVER is not set: run through scripts/with-cups-test-server");
    return;
  }
  const std::string queue = queueName();
  posix::UniqueHttp http = posix::connectTo(cupsServer(), ippPort());
  if (!http) {
    state.SkipWithError("cannot reach the scheduler");
    return;
  }
  const std::vector<char> page = pageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<int> ids;
    for (int i = 0; i < kBatch; ++i) {
      const int id = submit(http.get(), queue, page);
      if (id == 0) break;
      ids.push_back(id);
    }
    if (ids.size() != kBatch || !waitCompleted(http.get(), queue, ids)) {
      state.SkipWithError("a job was not accepted or did not complete");
      break;
    }
    state.PauseTiming();
    purge(http.get(), queue, ids);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.SetBytesProcessed(state.iterations() * kBatch * state.range(0));
}

/// The floor: documents straight to CUPS over one open connection.
void BM_LibcupsRawJobs(benchmark::State& state) {
  runBatches(state, submitRaw);
}

/// What the relay does per job through the seam: open the queue (its own connection and
/// attribute query), read the port and one value, send the document as a page, list the
/// jobs, close.
void BM_CupsSpoolerRelayJobs(benchmark::State& state) {
  posix::CupsSpooler spooler;
  runBatches(state, [&](http_t*, const std::string& queue, const std::vector<char>& page) {
    auto printer = spooler.openQueue(base::toUtf16(queue));
    if (!printer) return 0;
    std::uint32_t needed = 0;
    (void)printer->queryInfoSize(needed);
    std::vector<std::byte> block(needed);
    std::u16string port;
    std::uint8_t value[4] = {};
    std::vector<platform::JobEntry> entries;
    const auto bytes = reinterpret_cast<const std::uint8_t*>(page.data());
    if (!printer->readInfo(block, port)) return 0;
    (void)printer->getData("PRTDATA_IDX_TEST", value);
    if (!printer->startDoc({u"My Document", std::nullopt, u"RAW"}) || !printer->startPage() ||
        !printer->write({bytes, page.size()}) || !printer->endPage() || !printer->endDoc())
      return 0;
    (void)printer->enumJobs(entries);
    return printer->jobId();
  });
}

/// The whole relay: `spoolrelayer --spooler cups` given one-page jobs by notices, timed
/// until CUPS reports every document completed.
void BM_SpoolRelayerCupsJobs(benchmark::State& state) {
  if (!std::getenv("CUPS_SERVER")) {
    state.SkipWithError("CUPS_SERVER is not set: run through scripts/with-cups-test-server");
    return;
  }
  const std::string queue = queueName();
  posix::UniqueHttp http = posix::connectTo(cupsServer(), ippPort());
  if (!http) {
    state.SkipWithError("cannot reach the scheduler");
    return;
  }
  auto completed = [&] {
    cups_job_t* jobs = nullptr;
    const int n = cupsGetJobs2(http.get(), &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_COMPLETED);
    cupsFreeJobs(n < 0 ? 0 : n, jobs);
    return n;
  };
  (void)cupsCancelJob2(http.get(), queue.c_str(), CUPS_JOBID_ALL, 1);
  bench::RelayUnderTest relay("cups");
  const auto page = bench::textPage(static_cast<std::size_t>(state.range(0)));
  std::uint32_t jobId = 1;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i, ++jobId) {
      relay.writePage(jobId, page);
      if (!relay.post(queue, jobId)) {
        state.SkipWithError("the relay took no notice");
        return;
      }
    }
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    // Polled gently: every query is work for the same scheduler the relay is using.
    while (completed() < kBatch && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (completed() < kBatch) {
      state.SkipWithError("the relay's documents did not complete");
      return;
    }
    state.PauseTiming();
    (void)cupsCancelJob2(http.get(), queue.c_str(), CUPS_JOBID_ALL, 1);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.SetBytesProcessed(state.iterations() * kBatch * state.range(0));
}

/// The number of completed jobs CUPS lists for `queue`; -1 on failure.
int completedJobs(http_t* http, const std::string& queue) {
  cups_job_t* jobs = nullptr;
  const int n = cupsGetJobs2(http, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_COMPLETED);
  cupsFreeJobs(n < 0 ? 0 : n, jobs);
  return n;
}

/// Waits until CUPS lists `count` completed jobs for `queue`, polling every 5 ms.
bool waitForCompleted(http_t* http, const std::string& queue, int count) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (completedJobs(http, queue) < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

/// Straight libcups and the whole relay in turns, a batch of each per iteration (which
/// goes first alternates), each timed from its first submission until CUPS lists its 20
/// jobs completed, with the same gentle polling for both; the queue is purged between
/// batches, untimed. Taking turns lets both see the same machine, which on a shared one
/// changes from minute to minute. Reports jobs per second of each and how much longer a
/// job takes through the relay.
void BM_RelayBesideLibcups(benchmark::State& state) {
  if (!std::getenv("CUPS_SERVER")) {
    state.SkipWithError("CUPS_SERVER is not set: run through scripts/with-cups-test-server");
    return;
  }
  const std::string queue = queueName();
  posix::UniqueHttp http = posix::connectTo(cupsServer(), ippPort());
  if (!http) {
    state.SkipWithError("cannot reach the scheduler");
    return;
  }
  (void)cupsCancelJob2(http.get(), queue.c_str(), CUPS_JOBID_ALL, 1);
  bench::RelayUnderTest relay("cups");
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::vector<char> page = pageOf(size);
  const auto relayPage = bench::textPage(size);
  std::uint32_t jobId = 1;
  using Seconds = std::chrono::duration<double>;
  // One batch made by `submit`: its time, or nullopt when a job failed.
  const auto timeBatch = [&](auto submit) -> std::optional<Seconds> {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      if (!submit()) return std::nullopt;
    }
    if (!waitForCompleted(http.get(), queue, kBatch)) return std::nullopt;
    const Seconds took = std::chrono::steady_clock::now() - start;
    (void)cupsCancelJob2(http.get(), queue.c_str(), CUPS_JOBID_ALL, 1);
    return took;
  };
  const auto straight = [&] { return submitRaw(http.get(), queue, page) != 0; };
  const auto relayed = [&] {
    relay.writePage(jobId, relayPage);
    return relay.post(queue, jobId++);
  };
  Seconds libcupsTime{0};
  Seconds relayTime{0};
  bool relayFirst = false;
  for (auto _ : state) {
    std::optional<Seconds> relayTook = relayFirst ? timeBatch(relayed) : std::nullopt;
    const std::optional<Seconds> libcupsTook = timeBatch(straight);
    if (!relayFirst) relayTook = timeBatch(relayed);
    if (!libcupsTook || !relayTook) {
      state.SkipWithError("a job was not accepted or did not complete");
      return;
    }
    libcupsTime += *libcupsTook;
    relayTime += *relayTook;
    state.SetIterationTime(relayTook->count());
    relayFirst = !relayFirst;
  }
  const double jobs = static_cast<double>(state.iterations() * kBatch);
  state.counters["libcups_jobs_per_s"] = jobs / libcupsTime.count();
  state.counters["relay_jobs_per_s"] = jobs / relayTime.count();
  state.counters["relay_adds_pct"] = 100.0 * (relayTime.count() / libcupsTime.count() - 1.0);
}

BENCHMARK(BM_LibcupsRawJobs)->Arg(1024)->Arg(65536)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_CupsSpoolerRelayJobs)->Arg(1024)->Arg(65536)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_SpoolRelayerCupsJobs)->Arg(1024)->Arg(65536)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_RelayBesideLibcups)->Arg(1024)->Arg(65536)->UseManualTime()->MinTime(12.0);

}  // namespace

BENCHMARK_MAIN();
