// In-memory fakes of the clock, the named locks, the public folder and the page files.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/KnownFolders.h"
#include "platform/NamedLock.h"
#include "platform/PageFiles.h"

namespace fakes {

/// A clock that never sleeps: sleeping advances the time and is recorded.
class FakeClock : public platform::Clock {
 public:
  std::uint64_t nowMs() override { return now; }
  void sleepMs(std::uint32_t ms) override {
    now += ms;
    sleeps.push_back(ms);
  }
  std::uint64_t now = 0;
  std::vector<std::uint32_t> sleeps;
};

class FakeNamedLocks : public platform::NamedLocks {
 public:
  struct Lock {
    bool owned = false;
    bool abandoned = false;  // the next wait reports that the owner ended without releasing
    int handles = 0;
  };
  std::unique_ptr<platform::NamedLockHandle> create(std::u16string_view name,
                                                    bool& alreadyExisted) override;
  bool failCreate = false;
  std::map<std::u16string, Lock> locks;
  std::vector<std::u16string> created;  // every name asked for
};

class FakeKnownFolders : public platform::KnownFolders {
 public:
  bool publicFolder(std::u16string& path, std::uint32_t& error) override {
    if (error_ != 0) {
      error = error_;
      return false;
    }
    path = folder;
    return true;
  }
  void fail(std::uint32_t error) { error_ = error; }
  std::u16string folder = u"/pub";

 private:
  std::uint32_t error_ = 0;
};

/// Page files kept in memory. A file may appear only once the clock reaches a time,
/// may be held open by its writer, and may report a size or read count of its own.
/// A watched folder changes when one of its files appears, at each of `changesAtMs`, and
/// every `changeEveryMs` when that is set; a wait advances the clock to the first change
/// it has not seen, or by its whole time when none comes sooner.
class FakePageFiles : public platform::PageFiles {
 public:
  struct File {
    std::vector<std::uint8_t> bytes;
    std::uint64_t appearsAtMs = 0;
    bool held = false;
    bool sizeFails = false;
    std::optional<std::uint64_t> reportedSize;
    std::optional<std::size_t> readLimit;  // a short read returns at most this many bytes
  };
  explicit FakePageFiles(platform::Clock& clock) : clock_(clock) {}

  std::unique_ptr<platform::PageFile> open(const std::u16string& path,
                                           std::optional<std::uint32_t> sender) override;
  void remove(const std::u16string& path) override {
    removed.push_back(path);
    files.erase(path);
  }
  std::unique_ptr<platform::FolderWatch> watchFolder(const std::u16string& folder) override;
  char16_t separator() const override { return u'/'; }

  /// The time of the folder's first change after `afterMs`; none when no more come.
  std::optional<std::uint64_t> nextChange(const std::u16string& folder,
                                          std::uint64_t afterMs) const;

  std::map<std::u16string, File> files;
  std::vector<std::u16string> removed;
  int openAttempts = 0;
  std::vector<std::optional<std::uint32_t>> senders;  // the sender of every open
  int openNow = 0;
  std::vector<std::uint64_t> changesAtMs;
  std::uint32_t changeEveryMs = 0;
  std::vector<std::u16string> watched;  // the folder of every watch made
  int wakeUps = 0;                      // waits that a change ended early

 private:
  platform::Clock& clock_;
};

}  // namespace fakes
