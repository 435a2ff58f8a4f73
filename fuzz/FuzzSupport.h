// Shared pieces of the fuzz targets: a printer that keeps only a running count of the
// bytes written, and a reader that takes settings from the front of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Spooler.h"

namespace fuzz {

/// Accepts every call; keeps the number and a checksum of the bytes written so the
/// writes are not optimised away.
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
    for (std::uint8_t b : bytes) checksum = checksum * 31 + b;
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

/// Takes bytes from the front of the input; past its end every byte reads as zero.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return v;
  }
  std::span<const std::uint8_t> rest() const {
    return pos_ < size_ ? std::span<const std::uint8_t>(data_ + pos_, size_ - pos_)
                        : std::span<const std::uint8_t>();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzz
