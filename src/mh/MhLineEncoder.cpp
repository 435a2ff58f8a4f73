#include "mh/MhLineEncoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace mh {
namespace {

// ---- The line coder's own forms of the tables ------------------------------------------

/// The whole code of one run up to a line long: its make-up code (for 64 pixels or more)
/// followed by its terminating code, at most 13 + 12 bits, in the low `count` bits.
struct RunCode {
  std::uint32_t bits;
  std::uint32_t count;
};

using RunCodes = std::array<RunCode, kLineWidth + 1>;

constexpr RunCodes joinedRunCodes(MhColour colour) {
  RunCodes codes{};
  for (std::uint32_t run = 0; run <= kLineWidth; ++run) {
    const MhCodeEntry& term = terminatingCode(colour, run % 64);
    RunCode& out = codes[run];
    out = {term.code, term.bitCount};
    if (run >= 64) {
      const MhCodeEntry& makeup = makeupCode(colour, run);
      out.bits |= static_cast<std::uint32_t>(makeup.code) << term.bitCount;
      out.count += makeup.bitCount;
    }
  }
  return codes;
}

constexpr RunCodes kWhiteRuns = joinedRunCodes(kWhite);
constexpr RunCodes kBlackRuns = joinedRunCodes(kBlack);

// ---- The row as 64-bit words -------------------------------------------------------

/// 640 bits hold the 588 pixels of a line; the pixels after the 588th are kept white.
constexpr std::uint32_t kWords = 10;
constexpr std::uint32_t kLineBytes = (kLineWidth + 7) / 8;  // 74
using LineWords = std::array<std::uint64_t, kWords>;

std::uint64_t loadBigEndian(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}

/// Copies the row's first 588 pixels (at most its own bytes) into words, leftmost pixel
/// in the most significant bit, and white from the row's end or the 589th pixel on.
LineWords loadLine(std::span<const std::uint8_t> row) {
  std::array<std::uint8_t, kWords * 8> bytes{};
  const std::size_t used = std::min<std::size_t>(row.size(), kLineBytes);
  std::memcpy(bytes.data(), row.data(), used);
  bytes[kLineBytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 * kLineBytes - kLineWidth));
  LineWords words;
  for (std::uint32_t i = 0; i < kWords; ++i) words[i] = loadBigEndian(bytes.data() + 8 * i);
  return words;
}

/// The first pixel at or after `pos` whose bit differs from `fill` (0 while in a white
/// run, all ones while in a black run), or 588 if there is none before the line's end.
std::uint32_t runEnd(const LineWords& words, std::uint32_t pos, std::uint64_t fill) {
  std::uint32_t i = pos / 64;
  std::uint64_t word = (words[i] ^ fill) << (pos % 64);
  if (word != 0)
    return std::min(pos + static_cast<std::uint32_t>(std::countl_zero(word)), kLineWidth);
  while (++i < kWords) {
    word = words[i] ^ fill;
    if (word != 0) {
      return std::min(64 * i + static_cast<std::uint32_t>(std::countl_zero(word)), kLineWidth);
    }
  }
  return kLineWidth;
}

// ---- Bit output through a 64-bit accumulator ---------------------------------------------

/// Collects code words in the high bits of a 64-bit word and stores them four whole bytes
/// at a time; `finish` stores the bytes the last bits fall in. No byte past the last bit
/// given is written. The byte the start position falls in is taken over with the bits
/// already set in it, so those stay set.
class BitSink {
 public:
  BitSink(std::uint8_t* buffer, std::uint32_t bitPosition)
      : first_(buffer + bitPosition / 8), out_(first_), used_(bitPosition % 8), start_(used_) {
    if (used_ != 0) acc_ = static_cast<std::uint64_t>(*out_) << 56;
  }

  /// Appends the low `count` bits of `bits`, 1 <= count <= 25.
  void put(std::uint32_t bits, std::uint32_t count) {
    acc_ |= static_cast<std::uint64_t>(bits) << (64 - used_ - count);
    used_ += count;
    if (used_ >= 32) {
      store(4);
      out_ += 4;
      acc_ <<= 32;
      used_ -= 32;
    }
  }
  void put(const RunCode& code) { put(code.bits, code.count); }

  /// Stores the last started bytes and returns how many bits were appended.
  std::uint32_t finish() {
    store((used_ + 7) / 8);
    return static_cast<std::uint32_t>(8 * (out_ - first_)) + used_ - start_;
  }

 private:
  void store(std::uint32_t n) {
    for (std::uint32_t k = 0; k < n; ++k) {
      out_[k] = static_cast<std::uint8_t>(acc_ >> (56 - 8 * k));
    }
  }

  std::uint8_t* const first_;
  std::uint8_t* out_;
  std::uint32_t used_;  // bits held in acc_, from its most significant bit down
  const std::uint32_t start_;
  std::uint64_t acc_ = 0;
};

}  // namespace

void writeCode(std::uint8_t* buffer, std::uint32_t& bitPosition, std::uint16_t code,
               std::uint8_t bitCount) {
  if (buffer == nullptr) return;
  std::uint32_t count = bitCount;
  if (count > 16) {
    bitPosition += count - 16;  // bits 16 and up of a 16-bit code are zero
    count = 16;
  }
  // A code word spans at most three bytes; set its bits byte by byte.
  while (count > 0) {
    const std::uint32_t room = 8 - bitPosition % 8;
    const std::uint32_t take = std::min(room, count);
    const std::uint32_t part =
        (static_cast<std::uint32_t>(code) >> (count - take)) & ((1u << take) - 1);
    buffer[bitPosition / 8] |= static_cast<std::uint8_t>(part << (room - take));
    bitPosition += take;
    count -= take;
  }
}

void codeRun(std::uint8_t* buffer, std::uint32_t& bitPosition, std::uint16_t length,
             MhColour colour) {
  if (buffer == nullptr) return;
  auto write = [&](const MhCodeEntry& e) { writeCode(buffer, bitPosition, e.code, e.bitCount); };
  if (length == 0) {
    write(kEndOfLine);
    return;
  }
  std::uint32_t rest = length;
  for (; rest >= 2560; rest -= 2560) write(extendedMakeupCodes[12]);
  if (rest >= 1792) {
    const MhCodeEntry& e = extendedMakeupCode(rest);
    write(e);
    rest -= e.runLength;
  }
  if (rest >= 64) {
    const MhCodeEntry& e = makeupCode(colour, rest);
    write(e);
    rest -= e.runLength;
  }
  write(terminatingCode(colour, rest));
}

void encodeLine(std::span<const std::uint8_t> row, std::uint8_t* buffer,
                std::uint32_t& bitPosition) {
  if (row.empty() || row.data() == nullptr || buffer == nullptr) return;
  const LineWords words = loadLine(row);
  BitSink sink(buffer, bitPosition);

  // Runs alternate from white (possibly of 0 pixels) and end at the 588th pixel.
  std::uint32_t pos = 0;
  for (;;) {
    std::uint32_t end = runEnd(words, pos, 0);
    sink.put(kWhiteRuns[end - pos]);
    if ((pos = end) == kLineWidth) break;
    end = runEnd(words, pos, ~std::uint64_t{0});
    sink.put(kBlackRuns[end - pos]);
    if ((pos = end) == kLineWidth) break;
  }
  sink.put(kEndOfLine.code, kEndOfLine.bitCount);
  bitPosition += sink.finish();
}

}  // namespace mh
