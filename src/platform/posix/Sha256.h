// SHA-256 (FIPS 180-2), used to give long lock names a short file name of their own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace posix {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void update(std::span<const std::uint8_t> bytes);
  /// Pads the message and returns its digest; the object is not to be used again.
  Digest finish();

  /// The digest of `bytes` in one call.
  static Digest of(std::span<const std::uint8_t> bytes);
  /// The digest as 64 lower-case hexadecimal digits.
  static std::string hex(const Digest& digest);

 private:
  void compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> block_{};
  std::size_t blockFill_ = 0;
  std::uint64_t totalBytes_ = 0;
};

}  // namespace posix
