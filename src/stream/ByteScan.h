// Forward scans that stop only at bytes that can start a marker.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace stream {

/// The first position in [from, end) of `data` holding `value`; `end` when there is none.
inline std::size_t findByte(const std::uint8_t* data, std::size_t from, std::size_t end,
                            std::uint8_t value) {
  if (from >= end) return end;
  const void* hit = std::memchr(data + from, value, end - from);
  return hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data) : end;
}

/// Finds, position after position, the bytes of [0, end) that hold one of N values.
/// Each value keeps its own next hit, found with memchr and searched again only once
/// the scan has passed it, so a whole scan reads every byte about once per value.
template <std::size_t N>
class CandidateFinder {
 public:
  CandidateFinder(const std::uint8_t* data, std::size_t end, std::array<std::uint8_t, N> values)
      : CandidateFinder(data, end, values, {}) {}

  /// As above, where value k is known not to occur before position starts[k].
  CandidateFinder(const std::uint8_t* data, std::size_t end, std::array<std::uint8_t, N> values,
                  std::array<std::size_t, N> starts)
      : data_(data), end_(end), values_(values) {
    for (std::size_t k = 0; k < N; ++k) hits_[k] = findByte(data_, starts[k], end_, values_[k]);
  }

  /// The first position at or after `from` holding one of the values; `end` when none.
  std::size_t next(std::size_t from) {
    std::size_t best = end_;
    for (std::size_t k = 0; k < N; ++k) {
      if (hits_[k] < from) hits_[k] = findByte(data_, from, end_, values_[k]);
      if (hits_[k] < best) best = hits_[k];
    }
    return best;
  }

 private:
  const std::uint8_t* data_;
  std::size_t end_;
  std::array<std::uint8_t, N> values_;
  std::array<std::size_t, N> hits_{};
};

}  // namespace stream
