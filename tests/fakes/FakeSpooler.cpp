#include "fakes/FakeSpooler.h"

#include <algorithm>
#include <cstring>

namespace fakes {
namespace {

class FakePrinter : public platform::Printer {
 public:
  FakePrinter(FakeSpooler& spooler, FakePrinterState& state) : spooler_(spooler), state_(state) {
    ++state_.openHandles;
  }
  ~FakePrinter() override {
    (void)spooler_.fails("ClosePrinter");
    --state_.openHandles;
  }

  bool queryInfoSize(std::uint32_t& needed) override {
    if (spooler_.fails("GetPrinter")) return false;
    needed = spooler_.infoSize();
    spooler_.setLastError(platform::kErrorInsufficientBuffer);
    return false;
  }
  bool readInfo(std::span<std::byte> block, std::u16string& portName) override {
    if (spooler_.fails("GetPrinter")) return false;
    if (block.size() < spooler_.infoSize()) {
      spooler_.setLastError(platform::kErrorInsufficientBuffer);
      return false;
    }
    portName = state_.port;
    return true;
  }
  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override {
    spooler_.calls.push_back("GetPrinterData:" + std::string(name));
    if (spooler_.fails("GetPrinterData")) return spooler_.lastError();
    auto it = state_.data.find(std::string(name));
    if (it == state_.data.end()) return platform::kErrorFileNotFound;
    if (it->second.size() > dest.size()) return platform::kErrorMoreData;
    std::copy(it->second.begin(), it->second.end(), dest.begin());
    return platform::kErrorSuccess;
  }
  bool startDoc(const platform::DocInfo& info) override {
    if (spooler_.fails("StartDocPrinter")) return false;
    state_.documents.push_back(FakeDocument{info, {}, {}, false});
    doc_ = &state_.documents.back() - state_.documents.data();
    return true;
  }
  bool startPage() override {
    if (spooler_.fails("StartPagePrinter")) return false;
    if (doc_ < 0) {
      spooler_.setLastError(6);  // no document started
      return false;
    }
    state_.documents[static_cast<std::size_t>(doc_)].pages.emplace_back();
    return true;
  }
  bool write(std::span<const std::uint8_t> bytes) override {
    if (spooler_.fails("WritePrinter")) return false;
    if (doc_ < 0) return false;
    FakeDocument& doc = state_.documents[static_cast<std::size_t>(doc_)];
    if (doc.pages.empty()) return false;
    doc.writes.emplace_back(bytes.begin(), bytes.end());
    doc.pages.back().insert(doc.pages.back().end(), bytes.begin(), bytes.end());
    return true;
  }
  bool endPage() override { return !spooler_.fails("EndPagePrinter"); }
  bool endDoc() override {
    if (spooler_.fails("EndDocPrinter")) {
      doc_ = -1;  // the document is over, undelivered
      return false;
    }
    if (doc_ < 0) {
      spooler_.setLastError(6);  // no document started
      return false;
    }
    state_.documents[static_cast<std::size_t>(doc_)].ended = true;
    doc_ = -1;
    return true;
  }
  bool settleDoc() override { return !spooler_.fails("SettleDoc"); }
  bool enumJobs(std::vector<platform::JobEntry>& entries) override {
    entries.clear();
    if (spooler_.fails("EnumJobs")) return false;
    if (state_.queue.size() > state_.listingFits) {
      spooler_.setLastError(platform::kErrorInsufficientBuffer);
      return false;
    }
    entries = state_.queue;
    return true;
  }
  bool deleteJob(const platform::JobEntry& entry) override {
    if (spooler_.fails("SetJob")) return false;
    auto it = std::find_if(state_.queue.begin(), state_.queue.end(),
                           [&](const platform::JobEntry& e) { return e.jobId == entry.jobId; });
    if (it == state_.queue.end()) return false;
    state_.queue.erase(it);
    return true;
  }

 private:
  FakeSpooler& spooler_;
  FakePrinterState& state_;
  std::ptrdiff_t doc_ = -1;
};

}  // namespace

std::vector<std::uint8_t> FakeDocument::bytes() const {
  std::vector<std::uint8_t> all;
  for (const auto& page : pages) all.insert(all.end(), page.begin(), page.end());
  return all;
}

FakePrinterState& FakeSpooler::addPrinter(const std::u16string& name) {
  return printers_[name];
}

void FakeSpooler::failOn(const std::string& operation, int nth, std::uint32_t error,
                         const std::string& line) {
  failures_[operation].push_back(Failure{nth == 0 ? 0 : counts_[operation] + nth, error, line});
}

int FakeSpooler::count(const std::string& operation) const {
  auto it = counts_.find(operation);
  return it == counts_.end() ? 0 : it->second;
}

bool FakeSpooler::fails(const std::string& operation) {
  if (operation != "GetPrinterData") calls.push_back(operation);
  const int n = ++counts_[operation];
  for (const Failure& f : failures_[operation]) {
    if (f.nth == 0 || f.nth == n) {
      lastError_ = f.error;
      lastLine_ = f.line;
      return true;
    }
  }
  return false;
}

std::unique_ptr<platform::Printer> FakeSpooler::open(std::u16string_view name) {
  if (fails("OpenPrinter")) return nullptr;
  auto it = printers_.find(std::u16string(name));
  if (it == printers_.end()) {
    lastError_ = platform::kErrorInvalidPrinterName;
    return nullptr;
  }
  return std::make_unique<FakePrinter>(*this, it->second);
}

}  // namespace fakes
