// One forward pass that stops only where one of a few byte pairs starts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace stream {

/// A byte pair searched for: `first` at a position and `second` right after it. With
/// `anySecond`, the pair stands wherever `first` does.
struct BytePair {
  std::uint8_t first = 0;
  std::uint8_t second = 0;
  bool anySecond = false;
};

/// The pairs one pass looks for: up to three. The vector kernels take only the first to be
/// `anySecond`; a set with more of them is searched byte by byte.
/// Bit 4 + k of classes[v & 0x7F] is set when pair k may open with byte v, bit k when
/// it may close with it (every byte closes an `anySecond` pair).
struct PairSet {
  std::array<BytePair, 3> pairs{};
  std::size_t count = 0;
  std::array<std::uint8_t, 128> classes{};
};

/// The set of the first three of `pairs`, the first `anySecond` pair moved to the front.
PairSet makePairSet(std::span<const BytePair> pairs);

/// The first position i in [from, end) of `data` where a pair of `set` starts; `end`
/// when there is none. Bytes are read only below `readable` (at least `end`): a pair
/// whose second byte would lie at or past it does not stand there.
using PairKernel = std::size_t (*)(const std::uint8_t* data, std::size_t from, std::size_t end,
                                   std::size_t readable, const PairSet& set);

/// Searches with the widest vectors the processor offers, chosen once.
class PairFinder {
 public:
  /// `pairs` holds one to three pairs (any past the third are left out).
  explicit PairFinder(std::span<const BytePair> pairs);

  [[nodiscard]] std::size_t find(const std::uint8_t* data, std::size_t from, std::size_t end,
                                 std::size_t readable) const {
    if (from >= end) return end;
    return kernel_(data, from, end, readable, set_);
  }

 private:
  PairSet set_;
  PairKernel kernel_;
};

/// A search kernel and the name of the instructions it uses.
struct NamedPairKernel {
  const char* name;
  PairKernel kernel;
};

/// Every kernel this processor can run, the byte-by-byte one first and the one
/// PairFinder uses last. Tests hold each to the first.
std::span<const NamedPairKernel> usablePairKernels();

}  // namespace stream
