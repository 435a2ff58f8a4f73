#include "mh/MhCodeTables.h"

namespace mh {
namespace {

// The tables are checked where they are compiled: the layout of the run lengths, code
// words that fit their bit counts, the lengths T.4 gives each group of codes, and that
// no code word of a colour (EOL and the extended codes included) is a prefix of another.

constexpr bool layoutHolds(const MhColourCodes& codes) {
  for (std::size_t i = 0; i < kColourCodeCount; ++i) {
    const std::size_t run = i < 64 ? i : 64 * (i - 63);
    if (codes[i].runLength != run) return false;
  }
  return true;
}

constexpr bool extendedLayoutHolds() {
  for (std::size_t k = 0; k < kExtendedCodeCount; ++k) {
    if (extendedMakeupCodes[k].runLength != 1792 + 64 * k) return false;
  }
  return true;
}

template <std::size_t N>
constexpr bool lengthsWithin(const std::array<MhCodeEntry, N>& codes, std::size_t first,
                             std::size_t last, unsigned shortest, unsigned longest) {
  for (std::size_t i = first; i <= last; ++i) {
    const MhCodeEntry& e = codes[i];
    if (e.bitCount < shortest || e.bitCount > longest) return false;
    if ((e.code >> e.bitCount) != 0) return false;
  }
  return true;
}

constexpr bool isPrefix(const MhCodeEntry& a, const MhCodeEntry& b) {
  if (a.bitCount > b.bitCount) return false;
  return (b.code >> (b.bitCount - a.bitCount)) == a.code;
}

constexpr MhCodeEntry codeOf(const MhColourCodes& codes, std::size_t i) {
  if (i < kColourCodeCount) return codes[i];
  if (i < kColourCodeCount + kExtendedCodeCount) {
    return extendedMakeupCodes[i - kColourCodeCount];
  }
  return kEndOfLine;
}

constexpr bool prefixFree(const MhColourCodes& codes) {
  constexpr std::size_t total = kColourCodeCount + kExtendedCodeCount + 1;
  for (std::size_t i = 0; i < total; ++i) {
    for (std::size_t j = 0; j < total; ++j) {
      if (i != j && isPrefix(codeOf(codes, i), codeOf(codes, j))) return false;
    }
  }
  return true;
}

static_assert(layoutHolds(whiteCodes) && layoutHolds(blackCodes) && extendedLayoutHolds());
static_assert(lengthsWithin(whiteCodes, 0, 63, 4, 8) && lengthsWithin(whiteCodes, 64, 90, 5, 9));
static_assert(lengthsWithin(blackCodes, 0, 63, 2, 12) && lengthsWithin(blackCodes, 64, 90, 10, 13));
static_assert(lengthsWithin(extendedMakeupCodes, 0, 12, 11, 12));
static_assert(prefixFree(whiteCodes) && prefixFree(blackCodes));

}  // namespace

const MhColourCodes& buildWhiteCodes() {
  return whiteCodes;
}
const MhColourCodes& buildBlackCodes() {
  return blackCodes;
}
const MhExtendedCodes& buildExtendedMakeupCodes() {
  return extendedMakeupCodes;
}

}  // namespace mh
