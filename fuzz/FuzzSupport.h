// Shared pieces of the fuzz targets: a printer that keeps only a count of the bytes
// written, and a reader that takes settings from the front of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "fakes/CountingPrinter.h"

namespace fuzz {

using CountingPrinter = fakes::CountingPrinter;

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
