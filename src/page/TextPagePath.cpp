#include "page/TextPagePath.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

#include "page/BarcodeBuilders.h"
#include "stream/ByteScan.h"

namespace page {
namespace {

/// A plain byte is appended only while the fill count stays below the buffer's size.
constexpr std::uint32_t kMostFilled = OutputBuffer::kSize - 1;
constexpr std::size_t kTypeOffset = 14;  // barcodeType, behind the 14-byte marker
constexpr std::size_t kSizeOffset = 15;  // GS ! n, or the separator 0D
constexpr std::size_t kRasterHeader = 8;

/// One walk over a page's stream into the output buffer.
class TextWalk {
 public:
  TextWalk(stream::StreamView stream, OutputBuffer& output, const page::PrinterSettings& settings,
           std::uint8_t& heightClass)
      : s_(stream),
        out_(output.data()),
        outLen_(output.outLen),
        settings_(settings),
        heightClass_(heightClass) {}

  void run(std::size_t rasterFrom) {
    // Positions past the buffer do not exist, whatever the header claims.
    const std::size_t end = std::min<std::size_t>(s_.length, s_.capacity);
    stream::CandidateFinder<2> candidates(s_.data, end, {0x1D, 0x98}, {rasterFrom, 0});
    std::size_t w = 0;
    while (w < end) {
      const std::size_t next = candidates.next(w);
      appendPlain(w, next);
      w = next;
      if (w >= end) break;
      if (s_.rasterAt(w)) {
        w = skipRaster(w);
      } else if (s_.matches(w, stream::PageMarkers::kPlaceholderMarker)) {
        w = expandPlaceholder(w);
      } else {
        appendPlain(w, w + 1);
        ++w;
      }
    }
  }

 private:
  /// Copies stream positions [from, to) as far as the bound allows; the rest is dropped.
  void appendPlain(std::size_t from, std::size_t to) {
    const std::size_t room = outLen_ < kMostFilled ? kMostFilled - outLen_ : 0;
    const std::size_t n = std::min(to - from, room);
    if (n == 0) return;
    std::memcpy(out_ + outLen_, s_.data + from, n);
    outLen_ += static_cast<std::uint32_t>(n);
  }

  /// The position after a raster command: its header, xL * yL data bytes and a 0D.
  std::size_t skipRaster(std::size_t w) const {
    const std::size_t rowBytes = s_.at(w + 4);
    const std::size_t rows = s_.at(w + 6);
    std::size_t next = w + kRasterHeader + rowBytes * rows;
    if (s_.at(next) == stream::PageMarkers::kSeparator) ++next;
    return next;
  }

  /// Replaces the placeholder at `w` and returns the position after what it used.
  std::size_t expandPlaceholder(std::size_t w) {
    std::size_t h = kSizeOffset;
    if (s_.matches(w + kSizeOffset, stream::PageMarkers::kCharacterSize)) {
      heightClass_ = s_.at(w + kSizeOffset + 2);
      h += 3;
    } else if (s_.at(w + kSizeOffset) == stream::PageMarkers::kSeparator) {
      h += 1;
    }
    if (s_.matches(w + h, stream::PageMarkers::kFeed)) {
      // ESC J n goes out ahead of the barcode, even when the barcode is not built.
      if (outLen_ + 3 < OutputBuffer::kSize) {
        for (std::size_t i = 0; i < 3; ++i) out_[outLen_ + i] = s_.at(w + h + i);
        outLen_ += 3;
      }
      h += 3;
    }
    const std::size_t dataStart = w + h;
    const std::span<const std::uint8_t> data = dataFrom(dataStart);
    std::uint32_t count = 0;
    std::uint32_t consumed = 0;
    if (build(s_.at(w + kTypeOffset), data, count, consumed)) {
      outLen_ += count;
      return dataStart + consumed;
    }
    const std::uint32_t n = barcodeDataLength(data);
    // Refused (900 characters or more): the walk copies the data after its first byte.
    if (n > kMaxBarcodeData) return dataStart + 1;
    // No room left for the symbol: it is dropped whole, with its data.
    return dataStart + n;
  }

  bool build(std::uint8_t type, std::span<const std::uint8_t> data, std::uint32_t& count,
             std::uint32_t& consumed) {
    const std::span<std::uint8_t> room(out_ + outLen_, OutputBuffer::kSize - outLen_);
    switch (type) {
      case kQrCodeType:
        return buildQrCode(room, count, data, consumed, settings_);
      case kPdf417Type:
        return buildPdf417(room, count, data, consumed, settings_);
      default:
        return buildBarcode1D(room, count, type, heightClass_, data, consumed, settings_);
    }
  }

  /// The bytes from `pos` to the end of the buffer: the data and what follows it.
  std::span<const std::uint8_t> dataFrom(std::size_t pos) const {
    const std::size_t start = std::min(pos, s_.capacity);
    return {s_.data + start, s_.capacity - start};
  }

  stream::StreamView s_;
  std::uint8_t* out_;
  std::uint32_t& outLen_;
  const page::PrinterSettings& settings_;
  std::uint8_t& heightClass_;
};

}  // namespace

void buildTextPage(stream::StreamView stream, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   std::size_t rasterFrom) {
  if (!output.ok() || stream.data == nullptr || output.outLen > OutputBuffer::kSize) return;
  if (stream.length <= kShortestTextPage) return;
  TextWalk(stream, output, settings, heightClass).run(rasterFrom);
}

void writeTextPage(stream::StreamView stream, platform::Printer& printer, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   std::size_t rasterFrom) {
  buildTextPage(stream, output, settings, heightClass, rasterFrom);
  const std::uint32_t filled = output.ok() ? std::min(output.outLen, OutputBuffer::kSize) : 0;
  (void)printer.write(std::span<const std::uint8_t>(output.data(), filled));
}

}  // namespace page
