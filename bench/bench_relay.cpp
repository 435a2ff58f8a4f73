// One-page jobs per second through the Linux relay with the embedded directory spooler:
// notices posted back to back, timed until every document has landed.
#include <benchmark/benchmark.h>

#include "RelayBenchSupport.h"

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

}  // namespace

BENCHMARK_MAIN();
