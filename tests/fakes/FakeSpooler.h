// An in-memory spooler: printers, documents, pages, every write, a job queue, printer
// data, and failures injected on the Nth call of any operation.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Spooler.h"

namespace fakes {

struct FakeDocument {
  platform::DocInfo info;
  std::vector<std::vector<std::uint8_t>> pages;   // the bytes of each page
  std::vector<std::vector<std::uint8_t>> writes;  // every write call, in order
  bool ended = false;

  /// The document as the printer receives it: its pages back to back.
  std::vector<std::uint8_t> bytes() const;
};

struct FakePrinterState {
  std::u16string port = u"USB001:";
  std::map<std::string, std::vector<std::uint8_t>> data;  // printer-data values
  std::vector<platform::JobEntry> queue;
  std::size_t listingFits = 100;  // how many entries fit the 6400-byte listing
  std::vector<FakeDocument> documents;
  int openHandles = 0;
};

class FakeSpooler : public platform::Spooler {
 public:
  /// Operation names used in `calls` and `failOn`: "OpenPrinter", "GetPrinter",
  /// "GetPrinterData", "StartDocPrinter", "StartPagePrinter", "WritePrinter",
  /// "EndPagePrinter", "EndDocPrinter", "SettleDoc", "EnumJobs", "SetJob", "ClosePrinter".
  FakePrinterState& addPrinter(const std::u16string& name);
  FakePrinterState& printer(const std::u16string& name) { return printers_.at(name); }

  /// Makes the `nth` call (1-based, counted from now) of `operation` fail with `error`;
  /// `nth` 0 makes every call fail. The failure's explanation line is `line`.
  void failOn(const std::string& operation, int nth, std::uint32_t error = 5,
              const std::string& line = "");
  /// Makes the level-2 information query report a block size that cannot be allocated.
  void setInfoSize(std::uint32_t size) { infoSize_ = size; }

  std::unique_ptr<platform::Printer> open(std::u16string_view name) override;
  std::uint32_t lastError() override { return lastError_; }
  std::string lastFailureLine() override { return lastLine_; }

  /// Every call made, in order, each as its operation name (GetPrinterData with ":" and
  /// the value name).
  std::vector<std::string> calls;

  /// Counts the calls of `operation` so far.
  int count(const std::string& operation) const;

  // Used by the printer objects.
  bool fails(const std::string& operation);
  void setLastError(std::uint32_t error) {
    lastError_ = error;
    lastLine_.clear();
  }
  std::uint32_t infoSize() const { return infoSize_; }

 private:
  struct Failure {
    int nth;
    std::uint32_t error;
    std::string line;
  };
  std::map<std::u16string, FakePrinterState> printers_;
  std::map<std::string, std::vector<Failure>> failures_;
  std::map<std::string, int> counts_;
  std::uint32_t lastError_ = 0;
  std::string lastLine_;
  std::uint32_t infoSize_ = 256;
};

}  // namespace fakes
