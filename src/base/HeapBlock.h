// A zero-filled heap block that may fail to allocate without throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace base {

/// Owns one block from calloc or malloc, freed with the object.
class HeapBlock {
 public:
  HeapBlock() = default;

  /// Allocates `size` zero bytes; an empty block (`!ok()`) when that is not possible.
  static HeapBlock zeroed(std::size_t size) {
    HeapBlock block;
    if (size == 0) return block;
    block.data_.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
    if (block.data_) block.size_ = size;
    return block;
  }

  /// Allocates `size` bytes whose contents are unspecified, for a buffer that is filled
  /// from its start and never read past what was filled. A large block taken again from
  /// the heap costs nothing per byte this way, where zeroing it would touch every page.
  static HeapBlock uninitialized(std::size_t size) {
    HeapBlock block;
    if (size == 0) return block;
    block.data_.reset(static_cast<std::uint8_t*>(std::malloc(size)));
    if (block.data_) block.size_ = size;
    return block;
  }

  [[nodiscard]] bool ok() const { return data_ != nullptr; }
  [[nodiscard]] std::uint8_t* data() { return data_.get(); }
  [[nodiscard]] const std::uint8_t* data() const { return data_.get(); }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] std::span<std::uint8_t> span() { return {data_.get(), size_}; }
  [[nodiscard]] std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> data_;
  std::size_t size_ = 0;
};

}  // namespace base
