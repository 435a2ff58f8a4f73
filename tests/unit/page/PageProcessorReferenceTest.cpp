// Compares processPage, which skips from candidate byte to candidate byte and copies in
// blocks, with a plain byte-by-byte reading of the same rules, on random pages.
#include <gtest/gtest.h>

#include <random>

#include "PageTestSupport.h"
#include "page/BarcodeBuilders.h"
#include "page/PageProcessor.h"
#include "raster/BandMerger.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;

const Bytes kCut = hex("1D 56 42 00");
const Bytes kRaster = hex("1D 76 30 00");
const Bytes kMarker = hex("98 07 98 07 98 07 98 07 98 07 98 07 98 07");

/// The page's stream and margin, read the slow way.
struct RefPage {
  Bytes buf;  // the stream from position 0 to the end of the page buffer
  std::uint32_t length = 0;

  std::uint8_t at(std::size_t i) const { return i < buf.size() ? buf[i] : 0; }
  bool holds(std::size_t i, const Bytes& m) const {
    if (i + m.size() > buf.size()) return false;
    return std::equal(m.begin(), m.end(), buf.begin() + static_cast<std::ptrdiff_t>(i));
  }
  std::size_t find(const Bytes& m, std::size_t from, std::size_t last) const {
    for (std::size_t p = from; p <= last; ++p) {
      if (holds(p, m)) return p;
    }
    return SIZE_MAX;
  }
};

void refCutFixups(RefPage& r, bool replace) {
  if (r.length <= 4) return;
  const std::size_t last = r.length - 5;
  if (replace) {
    const std::size_t k = r.find(kCut, 0, last);
    if (k != SIZE_MAX)
      std::copy_n(hex("0C 00 00 00").begin(), 4, r.buf.begin() + static_cast<std::ptrdiff_t>(k));
  }
  const std::size_t k = r.find(kCut, 0, last);
  if (k == SIZE_MAX) return;
  const std::size_t j = r.find(kCut, k + 4, last);
  if (j == SIZE_MAX) return;
  for (std::size_t i = j; i < r.length; ++i) r.buf[i] = r.buf[i + 4];
  r.length -= 4;
}

bool refImageOnly(const RefPage& r, std::vector<std::string>& lines) {
  if (r.length <= 8) return false;
  bool raster = false;
  for (std::size_t p = 0; p < r.length; ++p) raster = raster || r.holds(p, kRaster);
  if (!raster) return false;
  for (std::size_t i = 0; i < r.length; ++i) {
    if (r.at(i) == 0x1B && r.at(i + 1) == 0x4D) {
      if (r.at(i + 3) == 0x1B && r.at(i + 4) == 0x74) {
        lines.push_back("Image + Font !! \n");
        return false;
      }
    } else if (r.holds(i, kMarker)) {
      lines.push_back("Image + Barcode !! \n");
      return false;
    }
  }
  return true;
}

Bytes refTextPage(const RefPage& r, const page::PrinterSettings& settings, std::uint8_t& hc) {
  Bytes out;
  if (r.length <= 15) return out;
  for (std::size_t w = 0; w < r.length;) {
    if (r.holds(w, kRaster)) {
      w += 8 + std::size_t{r.at(w + 4)} * r.at(w + 6);
      if (r.at(w) == 0x0D) ++w;
    } else if (r.holds(w, kMarker)) {
      std::size_t h = 15;
      if (r.at(w + 15) == 0x1D && r.at(w + 16) == 0x21) {
        hc = r.at(w + 17);
        h = 18;
      } else if (r.at(w + 15) == 0x0D) {
        h = 16;
      }
      if (r.at(w + h) == 0x1B && r.at(w + h + 1) == 0x4A) {
        for (std::size_t i = 0; i < 3; ++i) out.push_back(r.at(w + h + i));
        h += 3;
      }
      const std::uint8_t type = r.at(w + 14);
      const std::span<const std::uint8_t> data(r.buf.data() + std::min(w + h, r.buf.size()),
                                               r.buf.size() - std::min(w + h, r.buf.size()));
      Bytes symbol(2000);
      std::uint32_t count = 0, consumed = 0;
      const bool ok = type == 9 ? page::buildQrCode(symbol, count, data, consumed, settings)
                      : type == 10
                          ? page::buildPdf417(symbol, count, data, consumed, settings)
                          : page::buildBarcode1D(symbol, count, type, hc, data, consumed, settings);
      if (ok) out.insert(out.end(), symbol.begin(), symbol.begin() + count);
      w += h + (ok ? consumed : 1);
    } else {
      out.push_back(r.at(w++));
    }
  }
  return out;
}

/// A random page stream built from pieces that meet every rule of the page processing.
class PageDice {
 public:
  /// With `symbolsOnly`, placeholders stand where raster commands and cuts would: the page
  /// is text to its end and reaches the text walk as the first scan found it.
  explicit PageDice(std::uint32_t seed, bool symbolsOnly = false)
      : rng_(seed), symbolsOnly_(symbolsOnly) {}
  int roll(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::uint8_t byte() { return static_cast<std::uint8_t>(roll(0, 255)); }
  Bytes bytes(int n, int lo = 0, int hi = 255) {
    Bytes b(static_cast<std::size_t>(n));
    for (auto& v : b) v = static_cast<std::uint8_t>(roll(lo, hi));
    return b;
  }

  Bytes stream(int fewest = 1, int most = 24) {
    Bytes s;
    for (int pieces = roll(fewest, most); pieces > 0; --pieces) s = concat({s, piece()});
    return s;
  }

 private:
  Bytes piece() {
    const int kind = roll(0, 9);
    switch (symbolsOnly_ && (kind == 2 || kind == 3) ? 4 : kind) {
      case 0:
        return bytes(roll(1, 12));
      case 1:
        return bytes(roll(1, 30), 0x20, 0x7E);
      case 2:
        return kCut;
      case 3:
        return raster();
      case 4:
        return placeholder();
      case 5:
        return hex("1B 4D 00 1B 74 10");
      case 6:
        return hex("1B 4D 01 0D 1B 74");
      case 7:
        return Bytes(kMarker.begin(), kMarker.begin() + roll(1, 13));
      case 8:
        return roll(0, 1) ? hex("1D 21 11") : hex("1B 4A 20");
      default:
        return Bytes(kRaster.begin(), kRaster.begin() + roll(1, 3));
    }
  }
  Bytes raster() {
    const int xL = roll(0, 24), yL = roll(0, 3);
    Bytes data = bytes(xL * yL);
    if (!data.empty() && roll(0, 3) == 0) data = concat({data, roll(0, 1) ? kCut : kMarker});
    const Bytes head{
        0x1D, 0x76, 0x30, 0x00, static_cast<std::uint8_t>(xL), 0, static_cast<std::uint8_t>(yL), 0};
    return concat({head, data, roll(0, 2) ? hex("0D") : Bytes{byte()}});
  }
  Bytes placeholder() {
    Bytes p = concat(
        {kMarker, Bytes{static_cast<std::uint8_t>(roll(0, 3) ? roll(0, 10) : roll(11, 255))}});
    const int size = roll(0, 2);
    if (size == 0) p = concat({p, hex("1D 21"), Bytes{static_cast<std::uint8_t>(roll(0, 6))}});
    if (size == 1) p = concat({p, hex("0D")});
    if (roll(0, 1)) p = concat({p, hex("1B 4A"), Bytes{byte()}});
    const int n = roll(0, 9) ? roll(0, 20) : (roll(0, 1) ? roll(250, 300) : roll(895, 905));
    return concat({p, bytes(n, 0x2A, 0x7D), Bytes{static_cast<std::uint8_t>(roll(0, 0x29))}});
  }
  std::mt19937 rng_;
  bool symbolsOnly_;
};

/// Runs `jobs` random jobs of one to three pages, each of `fewest` to `most` pieces,
/// through processPage and through the plain reading above.
void matchPlainReading(std::uint32_t seed, int jobs, int fewest, int most,
                       bool symbolsOnly = false) {
  PageDice dice(seed, symbolsOnly);
  for (int jobIndex = 0; jobIndex < jobs; ++jobIndex) {
    pagetest::PrinterPage p;
    p.job.cutMode = dice.roll(0, 1) ? 4 : 0;
    p.job.modelFirstUnit = dice.roll(0, 1) ? u'P' : u'T';
    p.settings.firmwareVersion[0] = dice.roll(0, 2) ? 0 : 0x50;
    p.settings.bandRowLimit = static_cast<std::uint32_t>(dice.roll(0, 2) * 10 + 1);
    p.settings.highSpeedMode = dice.roll(0, 1) ? 0 : 2;
    const bool replace = p.job.cutMode == 4 &&
                         (p.job.modelFirstUnit == u'P' || p.settings.firmwareVersion[0] == 0x50);
    std::uint8_t hc = 0;
    for (int pageIndex = dice.roll(1, 3); pageIndex > 0; --pageIndex) {
      const Bytes stream = dice.stream(fewest, most);
      const Bytes file = concat({fakes::pageFile(stream), dice.bytes(dice.roll(0, 8))});
      page::PageBuffer buffer = page::PageBuffer::fromFileBytes(file);
      RefPage ref{Bytes(buffer.stream().data, buffer.stream().data + buffer.stream().capacity),
                  buffer.length()};
      p.debug.lines.clear();
      p.output.reset();
      page::processPage(buffer, p.job);

      std::vector<std::string> lines;
      refCutFixups(ref, replace);
      Bytes expected;
      if (refImageOnly(ref, lines)) {
        stream::StreamView view{ref.buf.data(), ref.length, ref.buf.size()};
        expected.assign(ref.buf.begin(),
                        ref.buf.begin() + raster::mergeBands(view, p.settings.bandRowLimit));
      } else {
        expected = refTextPage(ref, p.settings, hc);
      }
      ASSERT_EQ(buffer.length(), ref.length) << fakes::toHex(stream);
      ASSERT_EQ(p.debug.lines, lines) << fakes::toHex(stream);
      ASSERT_EQ(fakes::toHex(p.writes().back()), fakes::toHex(expected)) << fakes::toHex(stream);
      ASSERT_EQ(p.job.heightClass, hc);
    }
  }
}

TEST(PageProcessorReference, RandomPagesMatchAPlainReading) {
  matchPlainReading(20240607, 1500, 1, 24);
}

// Pages of hundreds of pieces hold more commands and markers before their first raster
// than one listing of the page's stops takes, so the scans go on past it.
TEST(PageProcessorReference, LongRandomPagesMatchAPlainReading) {
  matchPlainReading(20261208, 60, 150, 400);
}

// Long text pages hold dozens of placeholders, more than the first scan notes for the walk,
// so the walk goes on searching for the rest.
TEST(PageProcessorReference, ManyPlaceholdersBeforeAnyRasterMatchAPlainReading) {
  matchPlainReading(20261209, 40, 150, 300, true);
}

}  // namespace
