// What a debug line costs the Linux relay: to standard error only (the output before
// watchers existed), and through the relay's output with nobody watching, with one
// watcher and with four. Standard error is /dev/null, so the write(2) itself is the floor.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/DebugWatch.h"
#include "platform/posix/Fd.h"
#include "platform/posix/RelayDebugOutput.h"
#include "platform/posix/StderrDebugOutput.h"

namespace {

constexpr std::string_view kLine = "pData->State : 0x00000000 \n";

std::string uniqueEndpoint() {
  static int count = 0;
  return "spr-bench-watch-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
}

/// A watcher that reads everything on a thread of its own, as relaytool watch does.
class DrainingWatcher {
 public:
  explicit DrainingWatcher(const std::string& name) : fd_(posix::connectWatcher(name)) {
    char hello[64];
    (void)::recv(fd_.get(), hello, sizeof hello, 0);  // taken on: every line reaches it
    thread_ = std::thread([this] {
      char buffer[4096];
      while (::recv(fd_.get(), buffer, sizeof buffer, 0) > 0) received_.fetch_add(1);
    });
  }
  ~DrainingWatcher() {
    (void)::shutdown(fd_.get(), SHUT_RDWR);
    thread_.join();
  }
  long received() const { return received_.load(); }

 private:
  posix::Fd fd_;
  std::atomic<long> received_{0};
  std::thread thread_;
};

void BM_StderrOnly(benchmark::State& state) {
  const posix::Fd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  posix::StderrDebugOutput debug(null.get());
  for (auto _ : state) debug.write(kLine);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StderrOnly);

void BM_RelayOutput(benchmark::State& state) {
  const posix::Fd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  const std::string endpoint = uniqueEndpoint();
  posix::RelayDebugOutput debug(endpoint, posix::RelayDebugOutput::Sink::kStderr, null.get());
  std::vector<std::unique_ptr<DrainingWatcher>> watchers;
  for (int i = 0; i < state.range(0); ++i) {
    watchers.push_back(std::make_unique<DrainingWatcher>(posix::watchEndpointName(endpoint)));
  }
  const bool inRun = state.range(1) != 0;
  if (inRun) debug.enterRun(u"Receipt", 42);
  for (auto _ : state) debug.write(kLine);
  if (inRun) debug.leaveRun();
  state.SetItemsProcessed(state.iterations());
  long received = 0;
  for (const auto& w : watchers) received += w->received();
  state.counters["watchers"] = static_cast<double>(state.range(0));
  state.counters["lines_seen_per_watcher"] =
      watchers.empty() ? 0.0 : static_cast<double>(received) / static_cast<double>(watchers.size());
}
BENCHMARK(BM_RelayOutput)
    ->ArgNames({"watchers", "in_run"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({4, 1});

}  // namespace

BENCHMARK_MAIN();
