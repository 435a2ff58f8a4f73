#include "mh/MhLineEncoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace mh {
namespace {

// ---- The line coder's own form of the tables ---------------------------------------

/// The whole code of one run up to a line long: its make-up code (for 64 pixels or more)
/// followed by its terminating code, at most 13 + 12 bits, held in the top `count` bits
/// of `aligned`.
struct RunCode {
  std::uint32_t aligned;
  std::uint32_t count;
};

/// The white runs of 0 to 588 pixels, then the black runs.
constexpr std::uint32_t kBlackRunsAt = kLineWidth + 1;
using RunCodes = std::array<RunCode, std::size_t{2} * kBlackRunsAt>;

constexpr RunCodes joinedRunCodes() {
  RunCodes codes{};
  for (std::uint32_t i = 0; i < codes.size(); ++i) {
    const MhColour colour = i < kBlackRunsAt ? kWhite : kBlack;
    const std::uint32_t run = i % kBlackRunsAt;
    const MhCodeEntry& term = terminatingCode(colour, run % 64);
    std::uint32_t bits = term.code;
    std::uint32_t count = term.bitCount;
    if (run >= 64) {
      const MhCodeEntry& makeup = makeupCode(colour, run);
      bits |= static_cast<std::uint32_t>(makeup.code) << count;
      count += makeup.bitCount;
    }
    codes[i] = {bits << (32 - count), count};
  }
  return codes;
}

constexpr RunCodes kRunCodes = joinedRunCodes();
constexpr RunCode kEndOfLineCode{std::uint32_t{kEndOfLine.code} << (32 - kEndOfLine.bitCount),
                                 kEndOfLine.bitCount};

// ---- Words and bits ------------------------------------------------------------------

constexpr std::uint32_t kLineBytes = (kLineWidth + 7) / 8;  // 74
constexpr std::uint32_t kLineWords = (kLineBytes + 7) / 8;  // 10
/// Of the last word, only the pixels up to the 588th count.
constexpr std::uint64_t kLastWordPixels = ~std::uint64_t{0} << (64 * kLineWords - kLineWidth);

constexpr std::uint64_t byteSwap(std::uint64_t v) {
  v = (v & 0x00FF00FF00FF00FFull) << 8 | (v >> 8 & 0x00FF00FF00FF00FFull);
  v = (v & 0x0000FFFF0000FFFFull) << 16 | (v >> 16 & 0x0000FFFF0000FFFFull);
  return v << 32 | v >> 32;
}

constexpr std::uint64_t reverseBits(std::uint64_t v) {
  v = byteSwap(v);
  v = (v >> 4 & 0x0F0F0F0F0F0F0F0Full) | (v & 0x0F0F0F0F0F0F0F0Full) << 4;
  v = (v >> 2 & 0x3333333333333333ull) | (v & 0x3333333333333333ull) << 2;
  return (v >> 1 & 0x5555555555555555ull) | (v & 0x5555555555555555ull) << 1;
}

/// Eight bytes as a big-endian word: the leftmost pixel in the most significant bit.
std::uint64_t loadBigEndian(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return std::endian::native == std::endian::big ? v : byteSwap(v);
}

void storeBigEndian(std::uint8_t* p, std::uint64_t v) {
  if constexpr (std::endian::native != std::endian::big) v = byteSwap(v);
  std::memcpy(p, &v, sizeof v);
}

/// Copies `n` bytes, at least 4. Short lines (a white line is 4 or 5 bytes) are copied
/// with two overlapping fixed-size moves instead of a call.
void copyLine(std::uint8_t* to, const std::uint8_t* from, std::uint32_t n) {
  if (n <= 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else {
    std::memcpy(to, from, n);
  }
}

/// Writes code words most significant bit first. Every code is stored at once as a whole
/// 8-byte word, with no test of how full the accumulator is, so the bytes go to a stack
/// buffer with room behind the longest line; the caller's buffer then gets only the bytes
/// the line's bits fall in. A local object, its state stays in registers.
class BitWriter {
 public:
  /// Starts at `out` with `used` bits (fewer than 8) already in the top of `acc`.
  BitWriter(std::uint8_t* out, std::uint64_t acc, std::uint32_t used)
      : out_(out), acc_(acc), used_(used) {}

  void put(const RunCode& code) {
    acc_ |= std::uint64_t{code.aligned} << (32 - used_);
    used_ += code.count;
    store();
  }

  /// Two codes at once: with fewer than 8 bits held, 8 + 25 + 25 bits still fit.
  void put(const RunCode& a, const RunCode& b) {
    const std::uint64_t both = std::uint64_t{a.aligned} << 32 | std::uint64_t{b.aligned}
                                                                    << (32 - a.count);
    acc_ |= both >> used_;
    used_ += a.count + b.count;
    store();
  }

  /// The byte the next bit falls in, and how many of its bits are taken.
  [[nodiscard]] const std::uint8_t* out() const { return out_; }
  [[nodiscard]] std::uint32_t used() const { return used_; }

 private:
  void store() {
    storeBigEndian(out_, acc_);
    out_ += used_ / 8;
    acc_ <<= used_ & ~7u;
    used_ &= 7;
  }

  std::uint8_t* out_;
  std::uint64_t acc_;   // the bits from out_'s first on, the first in the top bit
  std::uint32_t used_;  // bits in acc_, fewer than 8 between codes
};

/// Codes the runs of one line: `changes` has a bit set for each pixel of the word that
/// differs from the pixel before it (white before the first), so every set bit ends one
/// run and starts the next, of the other colour, and a line beginning black begins with
/// a white run of 0 pixels.
class RunCoder {
 public:
  explicit RunCoder(BitWriter& writer) : writer_(writer) {}

  /// Takes the 64 pixels from pixel `base` on, `pixels` a big-endian word.
  void word(std::uint64_t pixels, std::uint32_t base, std::uint64_t counted = ~std::uint64_t{0}) {
    std::uint64_t changes = (pixels ^ (pixels >> 1 | carry_ << 63)) & counted;
    carry_ = pixels & 1;
    if (changes == 0) return;
    changes = reverseBits(changes);  // pixel base + k is now bit k
    // Runs are taken two at a time, a white and a black one, while the word has them.
    do {
      const std::uint32_t end = base + static_cast<std::uint32_t>(std::countr_zero(changes));
      changes &= changes - 1;
      const RunCode& code = kRunCodes[colour_ + end - start_];
      colour_ ^= kBlackRunsAt;
      if (changes == 0) {
        writer_.put(code);
        start_ = end;
        return;
      }
      const std::uint32_t next = base + static_cast<std::uint32_t>(std::countr_zero(changes));
      changes &= changes - 1;
      writer_.put(code, kRunCodes[colour_ + next - end]);
      colour_ ^= kBlackRunsAt;
      start_ = next;
    } while (changes != 0);
  }

  /// Ends the line: the last run reaches the 588th pixel.
  void finish() { writer_.put(kRunCodes[colour_ + kLineWidth - start_]); }

 private:
  BitWriter& writer_;
  std::uint64_t carry_ = 0;   // the last pixel of the previous word
  std::uint32_t start_ = 0;   // where the current run began
  std::uint32_t colour_ = 0;  // 0 in a white run, kBlackRunsAt in a black one
};

/// Feeds the row's first 588 pixels to `coder`, reading only the row's own bytes.
void codeRow(std::span<const std::uint8_t> row, RunCoder& coder) {
  const std::uint32_t used =
      static_cast<std::uint32_t>(std::min<std::size_t>(row.size(), kLineBytes));
  const std::uint32_t whole = used / 8;
  std::uint32_t i = 0;
  for (; i < whole; ++i) coder.word(loadBigEndian(row.data() + std::size_t{8} * i), 64 * i);
  if (used % 8 != 0) {
    std::array<std::uint8_t, 8> tail{};
    std::memcpy(tail.data(), row.data() + std::size_t{8} * i, used % 8);
    const bool last = i == kLineWords - 1;
    coder.word(loadBigEndian(tail.data()), 64 * i, last ? kLastWordPixels : ~std::uint64_t{0});
    ++i;
  }
  // The white after a row that ends black before the 588th pixel starts a run of its own.
  if (i < kLineWords) coder.word(0, 64 * i);
}

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
  // The longest line may start 7 bits into its first byte; the last store reaches 8 past.
  std::array<std::uint8_t, (7 + kMaxLineBits + 7) / 8 + 8> stage;
  const std::uint32_t first = bitPosition % 8;
  const std::uint64_t kept = first == 0 ? 0 : std::uint64_t{buffer[bitPosition / 8]} << 56;
  BitWriter writer{stage.data(), kept, first};
  RunCoder coder(writer);
  codeRow(row, coder);
  coder.finish();
  writer.put(kEndOfLineCode);

  const auto whole = static_cast<std::uint32_t>(writer.out() - stage.data());
  copyLine(buffer + bitPosition / 8, stage.data(), whole + (writer.used() + 7) / 8);
  bitPosition += 8 * whole + writer.used() - first;
}

}  // namespace mh
