#include "fakes/FakeNotices.h"

#include <algorithm>

namespace fakes {
namespace {

class FakeReader : public platform::NoticeReader {
 public:
  explicit FakeReader(FakeNoticeEndpoint& endpoint) : endpoint_(endpoint) { endpoint_.open = true; }
  ~FakeReader() override { endpoint_.open = false; }
  platform::ReadResult read(std::span<std::uint8_t> dest,
                            std::optional<std::uint32_t>& sender) override {
    if (endpoint_.messages.empty()) return platform::ReadResult::kClosed;
    auto message = std::move(endpoint_.messages.front());
    endpoint_.messages.pop_front();
    if (!message || message->size() > dest.size()) return platform::ReadResult::kFailed;
    std::copy(message->begin(), message->end(), dest.begin());
    sender = endpoint_.sender;
    return platform::ReadResult::kMessage;
  }

 private:
  FakeNoticeEndpoint& endpoint_;
};

class FakeHandle : public platform::ThreadHandle {
 public:
  FakeHandle(FakeThreads& threads, bool ended) : threads_(threads), ended_(ended) {}
  bool waitFor(std::uint32_t ms) override {
    threads_.waits.push_back(ms);
    return ended_;
  }

 private:
  FakeThreads& threads_;
  bool ended_;
};

}  // namespace

std::unique_ptr<platform::NoticeReader> FakeNoticeEndpoint::create(std::uint32_t& error) {
  ++creates;
  if (open) {
    error = 183;
    return nullptr;
  }
  return std::make_unique<FakeReader>(*this);
}

bool FakeThreads::startDetached(std::function<void()> body) {
  if (failStarts) return false;
  ++detachedStarted;
  body();
  return true;
}

std::unique_ptr<platform::ThreadHandle> FakeThreads::start(std::function<void()> body) {
  if (failStarts) return nullptr;
  ++keptStarted;
  if (!deferKept) body();
  return std::make_unique<FakeHandle>(*this, !deferKept);
}

}  // namespace fakes
