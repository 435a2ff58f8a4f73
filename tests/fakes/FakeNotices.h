// An in-memory notice endpoint and threads that run their bodies at once.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/NoticeEndpoint.h"
#include "platform/Threads.h"

namespace fakes {

/// A queue of messages; a nullopt entry is a failed read. When the queue runs dry the
/// reader reports the endpoint closed, which ends the listener.
class FakeNoticeEndpoint : public platform::NoticeEndpoint {
 public:
  std::unique_ptr<platform::NoticeReader> create(std::uint32_t& error) override;

  std::deque<std::optional<std::vector<std::uint8_t>>> messages;
  std::optional<std::uint32_t> sender;  // told with every message
  bool open = false;                    // one reader at a time, as for a mailslot name
  int creates = 0;
};

/// Runs every started thread's body at once, on the caller's thread, unless told to
/// fail. Kept handles report whether their body has returned.
class FakeThreads : public platform::Threads {
 public:
  bool startDetached(std::function<void()> body) override;
  std::unique_ptr<platform::ThreadHandle> start(std::function<void()> body) override;

  bool failStarts = false;
  bool deferKept = false;  // kept threads don't run: they stay "running" forever
  int detachedStarted = 0;
  int keptStarted = 0;
  std::vector<std::uint32_t> waits;  // the time limit of every wait on a kept handle
};

}  // namespace fakes
