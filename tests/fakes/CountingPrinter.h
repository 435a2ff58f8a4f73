// A printer that takes every call and keeps only a count and a checksum of the bytes
// written, for benchmarks and fuzz targets; and a debug output that drops its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/Spooler.h"

namespace fakes {

class CountingPrinter : public platform::Printer {
 public:
  bool queryInfoSize(std::uint32_t& needed) override {
    needed = 16;
    return false;
  }
  bool readInfo(std::span<std::byte>, std::u16string& port) override {
    port = u"USB001:";
    return true;
  }
  std::uint32_t getData(std::string_view, std::span<std::uint8_t>) override { return 2; }
  bool startDoc(const platform::DocInfo&) override { return true; }
  bool startPage() override { return true; }
  bool write(std::span<const std::uint8_t> bytes) override {
    written += bytes.size();
    if (!bytes.empty()) checksum = checksum * 31 + bytes.front() + bytes.back();
    return true;
  }
  bool endPage() override { return true; }
  bool endDoc() override { return true; }
  bool enumJobs(std::vector<platform::JobEntry>& entries) override {
    entries.clear();
    return true;
  }
  bool deleteJob(const platform::JobEntry&) override { return true; }

  std::size_t written = 0;
  std::uint64_t checksum = 0;
};

class NullDebugOutput : public platform::DebugOutput {
 public:
  void write(std::string_view) override {}
};

}  // namespace fakes
