// The job journal in memory: its bytes, a clock of its own, writes that fail on demand,
// and a torn last entry on demand (a crash in the middle of a write).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/JobJournal.h"

namespace fakes {

class FakeJournal : public platform::JobJournal {
 public:
  ~FakeJournal() override = default;
  bool take(std::string& why) override {
    if (takeFails) {
      why = "journal not taken \n";
      return false;
    }
    taken = true;
    return true;
  }
  bool read(std::vector<std::uint8_t>& out, std::string& why) override {
    if (readFails) {
      why = "journal not read \n";
      return false;
    }
    out = bytes;
    return true;
  }
  bool append(std::span<const std::uint8_t> entry, std::string& why) override {
    ++appends;
    if (appendFails) {
      why = "journal not written \n";
      return false;
    }
    // A torn write: only the first part of the entry gets there, and the process "dies":
    // nothing after it reaches the journal.
    if (tearNextAppend) {
      bytes.insert(bytes.end(), entry.begin(), entry.begin() + static_cast<long>(entry.size() / 2));
      tearNextAppend = false;
      dead = true;
      return true;
    }
    if (!dead) bytes.insert(bytes.end(), entry.begin(), entry.end());
    if (appends == dieAfterAppends) dead = true;
    return true;
  }
  bool sync(std::string& why) override {
    ++syncs;
    if (syncFails) {
      why = "journal not synced \n";
      return false;
    }
    durable = bytes.size();
    return true;
  }
  bool replace(std::span<const std::uint8_t> all, std::string& why) override {
    ++replaces;
    if (replaceFails) {
      why = "journal not rewritten \n";
      return false;
    }
    bytes.assign(all.begin(), all.end());
    durable = bytes.size();
    return true;
  }
  std::int64_t nowUnixMs() override { return now; }

  /// Cuts the last `count` bytes, as a crash during the last write would.
  void tear(std::size_t count) { bytes.resize(bytes.size() - count); }

  std::vector<std::uint8_t> bytes;
  std::int64_t now = 1'700'000'000'000;  // 2023-11-14T22:13:20Z
  bool taken = false;
  bool takeFails = false;
  bool readFails = false;
  bool appendFails = false;
  bool replaceFails = false;
  bool tearNextAppend = false;
  bool dead = false;         // after a torn write nothing more is kept
  int dieAfterAppends = -1;  // the process "dies" after this many appends
  bool syncFails = false;
  int appends = 0;
  int syncs = 0;
  int replaces = 0;
  std::size_t durable = 0;  // how many of the bytes a sync has made durable
};

}  // namespace fakes
