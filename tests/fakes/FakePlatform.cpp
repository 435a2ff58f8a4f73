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

}  // namespace fakes
