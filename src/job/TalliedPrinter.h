// A printer that passes every call on and counts the bytes the spooler took for each page
// of the current document, for the job's record.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/Spooler.h"

namespace job {

class TalliedPrinter : public platform::Printer {
 public:
  /// The printer the calls go to; set before any call.
  void attach(platform::Printer& target) { target_ = &target; }
  /// Starts counting afresh, for a new document.
  void restart() {
    pages_.clear();
    writeFailed_ = false;
  }
  /// The byte count of each page started since restart().
  [[nodiscard]] const std::vector<std::uint64_t>& pages() const { return pages_; }
  /// True once after a write was refused.
  bool takeWriteFailure() { return std::exchange(writeFailed_, false); }

  bool queryInfoSize(std::uint32_t& needed) override { return target_->queryInfoSize(needed); }
  bool readInfo(std::span<std::byte> block, std::u16string& portName) override {
    return target_->readInfo(block, portName);
  }
  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override {
    return target_->getData(name, dest);
  }
  bool startDoc(const platform::DocInfo& info) override { return target_->startDoc(info); }
  bool startPage() override {
    if (!target_->startPage()) return false;
    pages_.push_back(0);
    return true;
  }
  bool write(std::span<const std::uint8_t> bytes) override {
    if (!target_->write(bytes)) {
      writeFailed_ = true;
      return false;
    }
    if (!pages_.empty()) pages_.back() += bytes.size();
    return true;
  }
  bool endPage() override { return target_->endPage(); }
  bool endDoc() override { return target_->endDoc(); }
  bool settleDoc() override { return target_->settleDoc(); }
  bool enumJobs(std::vector<platform::JobEntry>& entries) override {
    return target_->enumJobs(entries);
  }
  bool deleteJob(const platform::JobEntry& entry) override { return target_->deleteJob(entry); }

 private:
  platform::Printer* target_ = nullptr;
  std::vector<std::uint64_t> pages_;
  bool writeFailed_ = false;
};

}  // namespace job
