// One forward pass that lists where the bytes of a small class of values stand, as
// fast as a search for one byte; the list is then read without searching again.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace stream {

/// The byte values v with (v & mask) == value. The class of two values holds every value
/// that agrees with both wherever they agree: 2^k values when they differ in k bits.
struct ByteClass {
  std::uint8_t mask = 0xFF;
  std::uint8_t value = 0;

  [[nodiscard]] constexpr bool holds(std::uint8_t v) const { return (v & mask) == value; }
};

/// The smallest class holding both `a` and `b`.
constexpr ByteClass classOf(std::uint8_t a, std::uint8_t b) {
  const auto mask = static_cast<std::uint8_t>(~(a ^ b));
  return {mask, static_cast<std::uint8_t>(a & mask)};
}

/// Where the bytes of a class stand in a stretch [from, end) of a buffer. The stretch is
/// cut into 64-byte blocks from `from` on; each block holding any byte of the class is
/// listed with its start and a bit for each position that holds one (bit j for position
/// start + j), and no block without one is: ClassHitReader relies on every listed block
/// holding a position. Every position of the class in [from, coveredTo) is listed; past
/// that, when the list is full, nothing is known.
struct ClassHits {
  static constexpr std::size_t kBlock = 64;
  static constexpr std::size_t kMostBlocks = 64;
  // Left unset until listed: a page's list is made afresh for each page.
  struct Block {
    std::size_t start;
    std::uint64_t bits;
  };

  std::array<Block, kMostBlocks> blocks;
  std::size_t count = 0;
  std::size_t coveredTo = 0;
};

/// Lists the positions of `c` in [from, end) of `data` into `hits`, reading below
/// `readable` only (at least `end`). A caller with bytes to spare past `end` lets the
/// pass finish in whole vectors.
using ClassKernel = void (*)(const std::uint8_t* data, std::size_t from, std::size_t end,
                             std::size_t readable, ByteClass c, ClassHits& hits);

/// Lists with the widest vectors the processor offers, chosen once.
void listClass(const std::uint8_t* data, std::size_t from, std::size_t end, std::size_t readable,
               ByteClass c, ClassHits& hits);

/// Reads a list forward, position after position.
class ClassHitReader {
 public:
  explicit ClassHitReader(const ClassHits& hits) : hits_(&hits) {}

  /// The first listed position at or after `from`; coveredTo when none is. `from` never
  /// goes back between calls.
  [[nodiscard]] std::size_t next(std::size_t from) {
    for (; block_ < hits_->count; ++block_) {
      const ClassHits::Block& b = hits_->blocks[block_];
      // A listed block holds at least one position.
      if (from <= b.start) return b.start + static_cast<std::size_t>(std::countr_zero(b.bits));
      const std::size_t skipped = from - b.start;
      if (skipped >= ClassHits::kBlock) continue;
      const std::uint64_t bits = b.bits >> skipped;
      if (bits != 0) return from + static_cast<std::size_t>(std::countr_zero(bits));
    }
    return hits_->coveredTo;
  }

 private:
  const ClassHits* hits_;
  std::size_t block_ = 0;
};

/// A list kernel and the name of the instructions it uses.
struct NamedClassKernel {
  const char* name;
  ClassKernel kernel;
};

/// Every kernel this processor can run, the byte-by-byte one first and the one
/// listClass() uses last. Tests hold each to the first.
std::span<const NamedClassKernel> usableClassKernels();

}  // namespace stream
