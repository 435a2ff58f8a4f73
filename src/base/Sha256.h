// SHA-256 (FIPS 180-4), for names that must stay distinct when shortened.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace base {

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> data);

/// The digest as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::span<const std::uint8_t> data);

}  // namespace base
