#include "fakes/FakePlatform.h"

#include <algorithm>

namespace fakes {
namespace {

class FakeLockHandle : public platform::NamedLockHandle {
 public:
  explicit FakeLockHandle(FakeNamedLocks::Lock& lock, bool owned) : lock_(lock), owned_(owned) {
    ++lock_.handles;
  }
  ~FakeLockHandle() override { --lock_.handles; }
  bool wait() override {
    if (lock_.abandoned) {
      lock_.abandoned = false;
      lock_.owned = owned_ = true;
      return false;
    }
    if (lock_.owned) return false;  // a single thread would wait forever: report it
    lock_.owned = owned_ = true;
    return true;
  }
  void release() override {
    if (owned_) lock_.owned = owned_ = false;
  }

 private:
  FakeNamedLocks::Lock& lock_;
  bool owned_;
};

class FakeFile : public platform::PageFile {
 public:
  FakeFile(FakePageFiles::File& file, int& openNow) : file_(file), openNow_(openNow) { ++openNow_; }
  ~FakeFile() override { --openNow_; }
  bool size(std::uint64_t& size) override {
    if (file_.sizeFails) return false;
    size = file_.reportedSize.value_or(file_.bytes.size());
    return true;
  }
  std::size_t read(std::span<std::uint8_t> dest) override {
    std::size_t n = std::min(dest.size(), file_.bytes.size());
    if (file_.readLimit) n = std::min(n, *file_.readLimit);
    std::copy_n(file_.bytes.begin(), n, dest.begin());
    return n;
  }

 private:
  FakePageFiles::File& file_;
  int& openNow_;
};

class FakeFolderWatch : public platform::FolderWatch {
 public:
  FakeFolderWatch(FakePageFiles& files, platform::Clock& clock, std::u16string folder)
      : files_(files), clock_(clock), folder_(std::move(folder)), seenMs_(clock.nowMs()) {}

  bool waitForChange(std::uint32_t ms) override {
    const std::uint64_t now = clock_.nowMs();
    const std::optional<std::uint64_t> next = files_.nextChange(folder_, seenMs_);
    const bool changed = next && *next <= now + ms;
    const std::uint64_t until = changed ? std::max(*next, now) : now + ms;
    if (until > now) clock_.sleepMs(static_cast<std::uint32_t>(until - now));
    seenMs_ = until;
    if (changed) ++files_.wakeUps;
    return changed;
  }

 private:
  FakePageFiles& files_;
  platform::Clock& clock_;
  std::u16string folder_;
  std::uint64_t seenMs_;  // changes up to this time have been seen
};

}  // namespace

std::unique_ptr<platform::NamedLockHandle> FakeNamedLocks::create(std::u16string_view name,
                                                                  bool& alreadyExisted) {
  created.emplace_back(name);
  if (failCreate) return nullptr;
  auto [it, inserted] = locks.try_emplace(std::u16string(name));
  Lock& lock = it->second;
  alreadyExisted = !inserted && lock.handles > 0;
  if (!alreadyExisted) lock.owned = true;
  return std::make_unique<FakeLockHandle>(lock, !alreadyExisted);
}

std::unique_ptr<platform::PageFile> FakePageFiles::open(const std::u16string& path,
                                                        std::optional<std::uint32_t> sender) {
  ++openAttempts;
  senders.push_back(sender);
  auto it = files.find(path);
  if (it == files.end() || it->second.held || clock_.nowMs() < it->second.appearsAtMs) {
    return nullptr;
  }
  return std::make_unique<FakeFile>(it->second, openNow);
}

std::unique_ptr<platform::FolderWatch> FakePageFiles::watchFolder(const std::u16string& folder) {
  watched.push_back(folder);
  return std::make_unique<FakeFolderWatch>(*this, clock_, folder);
}

std::optional<std::uint64_t> FakePageFiles::nextChange(const std::u16string& folder,
                                                       std::uint64_t afterMs) const {
  std::optional<std::uint64_t> next;
  const auto consider = [&](std::uint64_t at) {
    if (at > afterMs && (!next || at < *next)) next = at;
  };
  const std::u16string prefix = folder + separator();
  for (const auto& [path, file] : files) {
    if (path.starts_with(prefix)) consider(file.appearsAtMs);
  }
  for (std::uint64_t at : changesAtMs) consider(at);
  if (changeEveryMs > 0) consider((afterMs / changeEveryMs + 1) * changeEveryMs);
  return next;
}

}  // namespace fakes
