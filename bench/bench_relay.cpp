// The Linux relay with the embedded directory spooler: one-page jobs per second, with
// notices posted back to back and timed until every document has landed; and the wait a
// user feels when a page file arrives after its notice, from the file's rename into place
// to its document landing.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/inotify.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "RelayBenchSupport.h"
#include "platform/posix/Fd.h"

namespace {

constexpr int kBatch = 20;

std::size_t documentCount(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& name : e2e::listDir(folder)) {
    if (name.size() == 12 && name.substr(8) == ".bin") ++n;
  }
  return n;
}

void BM_SpoolRelayerDirectoryJobs(benchmark::State& state) {
  bench::RelayUnderTest relay("dir");
  const std::string printer = "BenchPrinter";
  e2e::makeDirs(relay.printersRoot() + "/" + printer);
  const std::string documents = relay.printersRoot() + "/" + printer + "/documents";
  const auto page = bench::textPage(static_cast<std::size_t>(state.range(0)));
  std::uint32_t jobId = 1;
  std::size_t expected = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i, ++jobId) {
      relay.writePage(jobId, page);
      if (!relay.post(printer, jobId)) {
        state.SkipWithError("the relay took no notice");
        return;
      }
    }
    expected += kBatch;
    if (!e2e::waitUntil([&] { return documentCount(documents) >= expected; })) {
      state.SkipWithError("the documents did not arrive");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

BENCHMARK(BM_SpoolRelayerDirectoryJobs)->Arg(1024)->Arg(65536)->UseRealTime()->MinTime(3.0);

constexpr int kLateJobs = 200;

/// Waits until a document lands in the folder `watch` looks at ("NNNNNNNN.bin" moved into
/// place); false after 10 s.
bool documentLanded(int watch) {
  alignas(inotify_event) char buf[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{watch, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = ::read(watch, buf, sizeof buf);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
      const std::string name = event->len > 0 ? event->name : "";
      if (name.size() == 12 && name.substr(8) == ".bin") return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

/// A page file that arrives late: the notice is posted, the relay starts waiting for page
/// 1, and 10 to 110 ms later (a different delay for every job, so the arrival falls at
/// every point of a polling period) the driver renames the finished page file into place.
/// Measured from just before the rename to the moment the document's .bin lands, over
/// 200 one-page jobs: the median and the 99th percentile in milliseconds.
void BM_LatePageLatency(benchmark::State& state) {
  bench::RelayUnderTest relay("dir");
  const std::string printer = "BenchPrinter";
  const std::string documents = relay.printersRoot() + "/" + printer + "/documents";
  e2e::makeDirs(documents);
  posix::Fd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (!watch || ::inotify_add_watch(watch.get(), documents.c_str(), IN_MOVED_TO) < 0) {
    state.SkipWithError("cannot watch the documents folder");
    return;
  }
  const auto file = e2e::pageFile(bench::textPage(1024), 2);
  std::mt19937 random(16);
  std::uniform_int_distribution<int> lateByMs(10, 109);
  std::vector<double> latencies;
  std::uint32_t jobId = 1;
  for (auto _ : state) {
    for (int i = 0; i < kLateJobs; ++i, ++jobId) {
      if (!relay.post(printer, jobId)) {
        state.SkipWithError("the relay took no notice");
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(lateByMs(random)));
      const std::string path = relay.pagePath(jobId);
      const std::string written = path + ".tmp";
      e2e::writeFile(written, file);
      const auto renamed = std::chrono::steady_clock::now();
      if (std::rename(written.c_str(), path.c_str()) != 0 || !documentLanded(watch.get())) {
        state.SkipWithError("the document did not arrive");
        return;
      }
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - renamed;
      latencies.push_back(took.count());
    }
  }
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&](double q) {
    return latencies[static_cast<std::size_t>(q * static_cast<double>(latencies.size() - 1))];
  };
  state.counters["p50_ms"] = at(0.5);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = latencies.back();
}

BENCHMARK(BM_LatePageLatency)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
