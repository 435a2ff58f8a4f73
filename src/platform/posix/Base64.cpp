#include "platform/posix/Base64.h"

#include <array>
#include <utility>

namespace posix {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

/// The 6-bit value of each character, kInvalid for characters outside the alphabet.
constexpr std::array<std::uint8_t, 256> makeValues() {
  std::array<std::uint8_t, 256> values{};
  values.fill(kInvalid);
  for (std::uint8_t v = 0; v < 64; ++v) values[static_cast<unsigned char>(kAlphabet[v])] = v;
  return values;
}
constexpr std::array<std::uint8_t, 256> kValues = makeValues();

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    std::uint32_t group = std::uint32_t{bytes[i]} << 16;
    if (n > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
    if (n > 2) group |= bytes[i + 2];
    // n bytes give n + 1 characters; "=" fills the group of four.
    for (std::size_t k = 0; k < 4; ++k) {
      text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

bool base64Decode(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() % 4 != 0) return false;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const std::size_t chars = last ? 4 - padding : 4;
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < chars; ++k) {
      const std::uint8_t v = kValues[static_cast<unsigned char>(text[i + k])];
      if (v == kInvalid) return false;  // also catches a "=" before the padding
      group |= std::uint32_t{v} << (18 - 6 * k);
    }
    // The bits below the last whole byte are pad bits and must be zero.
    const std::size_t count = chars - 1;
    if ((group & ((std::uint32_t{1} << (24 - 8 * count)) - 1)) != 0) return false;
    for (std::size_t k = 0; k < count; ++k) {
      bytes.push_back(static_cast<std::uint8_t>(group >> (16 - 8 * k)));
    }
  }
  out = std::move(bytes);
  return true;
}

}  // namespace posix
