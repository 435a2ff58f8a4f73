#include "page/TextPagePath.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

#include "base/ShortCopy.h"
#include "page/BarcodeBuilders.h"
#include "stream/ByteScan.h"

namespace page {
namespace {

/// A plain byte is appended only while the fill count stays below the buffer's size.
constexpr std::uint32_t kMostFilled = OutputBuffer::kSize - 1;
constexpr std::size_t kTypeOffset = 14;  // barcodeType, behind the 14-byte marker
constexpr std::size_t kSizeOffset = 15;  // GS ! n, or the separator 0D
constexpr std::size_t kRasterHeader = 8;

/// The positions the walk stops at: each 0x1D from rasterFrom on and each 0x98 from
/// markerFrom on. Before markersTo they are the caller's markers; after that they are
/// taken from the caller's list of stops as far as it covers and searched for beyond it.
class WalkStops {
 public:
  WalkStops(const std::uint8_t* data, std::size_t end, const AlreadySearched& searched)
      : data_(data),
        rasterFrom_(searched.rasterFrom),
        markerFrom_(searched.markerFrom),
        markers_(searched.markers),
        markersTo_(std::min(searched.markersTo, end)),
        listedTo_(searched.stops != nullptr ? std::min(searched.stops->coveredTo, end) : 0),
        listed_(searched.stops != nullptr ? *searched.stops : kNothingListed),
        rest_(data, end, {0x1D, 0x98},
              {std::max(rasterFrom_, listedTo_), std::max(markerFrom_, listedTo_)}) {}

  /// The first stop at or after `from`; the end when there is none. `from` never goes back.
  std::size_t next(std::size_t from) {
    if (from < markersTo_) {
      // Before markersTo the only stops are the markers found already. The search that
      // found them stepped over each whole marker; a marker the walk passes over without
      // stopping at it may hide others behind it, so the walk searches on for itself.
      for (; marker_ < markers_.size() && markers_[marker_] < from; ++marker_) {
        if (markers_[marker_] != returned_) markersTo_ = 0;
      }
      if (from < markersTo_) {
        if (marker_ < markers_.size() && markers_[marker_] < markersTo_) {
          returned_ = markers_[marker_];
          return returned_;
        }
        from = markersTo_;
      }
    }
    from = std::max(from, std::min(rasterFrom_, markerFrom_));
    if (from < listedTo_) {
      for (std::size_t p = listed_.next(from); p < listedTo_; p = listed_.next(p + 1)) {
        const std::uint8_t b = data_[p];
        if ((b == 0x98 && p >= markerFrom_) || (b == 0x1D && p >= rasterFrom_)) return p;
      }
      from = listedTo_;
    }
    return rest_.next(from);
  }

 private:
  static inline const stream::ClassHits kNothingListed{};

  const std::uint8_t* data_;
  std::size_t rasterFrom_;
  std::size_t markerFrom_;
  std::span<const std::size_t> markers_;
  std::size_t marker_ = 0;           // the first of markers_ not yet passed
  std::size_t returned_ = SIZE_MAX;  // the last of markers_ returned
  std::size_t markersTo_;
  std::size_t listedTo_;
  stream::ClassHitReader listed_;
  stream::CandidateFinder<2> rest_;
};

/// One walk over a page's stream into the output buffer.
class TextWalk {
 public:
  TextWalk(stream::StreamView stream, OutputBuffer& output, const page::PrinterSettings& settings,
           std::uint8_t& heightClass)
      : s_(stream),
        out_(output.data()),
        output_(output),
        heightClassOut_(heightClass),
        outLen_(output.outLen),
        settings_(settings),
        heightClass_(heightClass) {}

  /// Walks the whole stream. With `leaveLeadInPlace`, the plain bytes that open the page
  /// are counted into an empty output but not copied: the output's first leadInPlace()
  /// bytes are then the stream's own first bytes, still standing in the stream.
  void run(const AlreadySearched& searched, bool leaveLeadInPlace) {
    // Positions past the buffer do not exist, whatever the header claims.
    const std::size_t end = std::min<std::size_t>(s_.length, s_.capacity);
    WalkStops candidates(s_.data, end, searched);
    std::size_t w = 0;
    if (leaveLeadInPlace && outLen_ == 0) {
      w = candidates.next(0);
      leadInPlace_ = static_cast<std::uint32_t>(std::min<std::size_t>(w, kMostFilled));
      outLen_ = leadInPlace_;
    }
    // No stop stands in [searchFrom, w): the next one is searched for from searchFrom.
    std::size_t searchFrom = w;
    while (w < end) {
      const std::size_t next = candidates.next(searchFrom);
      appendPlain(w, next);
      w = next;
      if (w >= end) break;
      // A stop holds 0x1D or 0x98: only the first may open a raster header, only the
      // second a placeholder marker.
      if (s_.data[w] == 0x1D && s_.rasterAt(w)) {
        w = skipRaster(w);
        searchFrom = w;
      } else if (s_.data[w] == 0x98 && s_.matches(w, stream::PageMarkers::kPlaceholderMarker)) {
        // The search goes on from the placeholder's data, not from its end: no data byte
        // is a stop, and so the next stop is found without waiting for the data's length.
        w = expandPlaceholder(w, searchFrom);
      } else {
        appendPlain(w, w + 1);
        ++w;
        searchFrom = w;
      }
    }
    output_.outLen = outLen_;
    heightClassOut_ = heightClass_;
  }

  [[nodiscard]] std::uint32_t leadInPlace() const { return leadInPlace_; }

 private:
  /// Copies stream positions [from, to) as far as the bound allows; the rest is dropped.
  void appendPlain(std::size_t from, std::size_t to) {
    const std::size_t room = outLen_ < kMostFilled ? kMostFilled - outLen_ : 0;
    const std::size_t n = std::min(to - from, room);
    if (n == 0) return;
    base::copyShort(out_ + outLen_, s_.data + from, n);
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

  /// Replaces the placeholder at `w` and returns the position after what it used;
  /// `dataAt` is set to where its data starts, which that position never precedes and
  /// from which on up to it all bytes are data.
  std::size_t expandPlaceholder(std::size_t w, std::size_t& dataAt) {
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
    dataAt = dataStart;
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
  // The fill count and the height class are worked on here and handed back when the walk
  // ends: every byte the walk writes could otherwise be taken to change them.
  OutputBuffer& output_;
  std::uint8_t& heightClassOut_;
  std::uint32_t outLen_;
  const page::PrinterSettings& settings_;
  std::uint8_t heightClass_;
  std::uint32_t leadInPlace_ = 0;
};

/// Whether the walk can run at all: a usable output, a stream, a page long enough.
bool walks(stream::StreamView stream, const OutputBuffer& output) {
  return output.ok() && stream.data != nullptr && output.outLen <= OutputBuffer::kSize &&
         stream.length > kShortestTextPage;
}

}  // namespace

void buildTextPage(stream::StreamView stream, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   const AlreadySearched& searched) {
  if (!walks(stream, output)) return;
  TextWalk(stream, output, settings, heightClass).run(searched, false);
}

void writeTextPage(stream::StreamView stream, platform::Printer& printer, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   const AlreadySearched& searched) {
  std::uint32_t lead = 0;
  if (walks(stream, output)) {
    TextWalk walk(stream, output, settings, heightClass);
    walk.run(searched, true);
    lead = walk.leadInPlace();
  }
  const std::uint32_t filled = output.ok() ? std::min(output.outLen, OutputBuffer::kSize) : 0;
  std::uint8_t* from = output.data();
  if (lead > 0) {
    // The page's opening plain bytes were left in the stream. When the whole page fits
    // the page buffer, the rest joins them there (the walk has read all it needs);
    // otherwise they join the rest in the output buffer.
    if (filled <= stream.capacity) {
      std::memcpy(stream.data + lead, output.data() + lead, filled - lead);
      from = stream.data;
    } else {
      std::memcpy(output.data(), stream.data, lead);
    }
  }
  (void)printer.write(std::span<const std::uint8_t>(from, filled));
}

}  // namespace page
