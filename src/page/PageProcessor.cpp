#include "page/PageProcessor.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "page/TextPagePath.h"
#include "raster/BandMerger.h"
#include "raster/CompressedRasterWriter.h"
#include "stream/ByteScan.h"
#include "stream/ClassScan.h"
#include "stream/PairScan.h"

namespace page {
namespace {

constexpr std::uint32_t kReplacingCutMode = 4;
constexpr std::uint32_t kShortestImagePage = 8;  // this long or shorter: never image-only
constexpr std::size_t kCutSize = stream::PageMarkers::kCutCommand.size();
constexpr std::size_t kNone = SIZE_MAX;  // no such position

/// The end of the positions a scan may start a match at: the stream, inside the buffer.
std::size_t scanEnd(stream::StreamView s) {
  return std::min<std::size_t>(s.length, s.capacity);
}

/// Whether the job's cut mode and printer ask for the first cut to become FF 00 00 00.
bool replacesFirstCut(const PageJob& job) {
  return job.cutMode == kReplacingCutMode &&
         (job.modelFirstUnit == u'P' || job.settings.firmwareVersion[0] == 0x50);
}

/// What the first scan of a page finds: its first cut commands, in order, and its first
/// raster header. Before that header it also finds the first placeholder marker: none
/// starts before `firstMarker`, which is the marker's position, the raster header's, or
/// the end of the page. Past the header it notes how far no font selection or
/// placeholder marker can start: none starts at positions firstRaster + 1 to
/// markerFreeTo - 1.
/// When `stopsListed`, the scan's list of stops holds every byte of the walk's stop class
/// from position 0 on, as far as it covers.
struct PageScan {
  std::array<std::size_t, 3> cuts{};
  std::size_t cutCount = 0;
  std::size_t firstRaster = kNone;
  std::size_t firstMarker = kNone;
  std::size_t markerFreeTo = 0;
  bool stopsListed = false;
};

/// The placeholder markers the first scan meets before the first raster header, in order,
/// as many as fit: before `to` it met no other (it steps over each whole marker it meets).
struct NotedMarkers {
  static constexpr std::size_t kMost = 16;

  // Left unset until noted: the markers are noted afresh for each page.
  std::array<std::size_t, kMost> at;
  std::size_t count = 0;
  std::size_t to = 0;
};

// The two bytes every cut, font selection (ESC M) and placeholder marker (98 07) opens
// with: past the first raster header, where every row holds one, the scans stop only there.
constexpr stream::BytePair kCutStart{0x1D, 0x56};
constexpr stream::BytePair kFontStart{0x1B, 0x4D};
constexpr stream::BytePair kMarkerStart{0x98, 0x07};

/// The first raster header at positions 0 to L - 1 (it may read into the margin).
std::size_t findRaster(stream::StreamView s) {
  const std::size_t end = scanEnd(s);
  for (std::size_t p = stream::findByte(s.data, 0, end, 0x1D); p < end;
       p = stream::findByte(s.data, p + 1, end, 0x1D)) {
    if (s.rasterAt(p)) return p;
  }
  return kNone;
}

/// One forward scan for up to `wantCuts` cut commands starting at positions 0 to L - 5
/// (a cut in the last four bytes is never found), for the first raster header and for
/// the first placeholder marker before it. Until it meets a raster header it goes from
/// one byte of the walk's stop class (0x1D, 0x98 and the few bytes that share their
/// class) to the next, listed in `stops` a stretch at a time, and steps over each whole
/// placeholder marker met: no cut or header starts inside one. After that it stops only
/// where a cut, a font selection or a placeholder marker could start, and once one of the
/// last two is met, only where a cut could. Cuts cannot overlap one another.
PageScan scanPage(stream::StreamView s, std::size_t wantCuts, stream::ClassHits& stops,
                  NotedMarkers& markers) {
  PageScan scan;
  const std::size_t end = scanEnd(s);
  const std::size_t cutEnd = end > kCutSize ? end - kCutSize : 0;  // first position too late
  std::size_t next = 0;  // the first position not yet looked at
  std::size_t p = end;
  for (bool first = true;; first = false) {
    stream::listClass(s.data, next, end, s.capacity, kStopClass, stops);
    stream::ClassHitReader reader(stops);
    for (p = reader.next(next); p < stops.coveredTo; p = reader.next(next)) {
      next = p + 1;
      if (s.data[p] == 0x98) {
        if (s.matches(p, stream::PageMarkers::kPlaceholderMarker)) {
          if (scan.firstMarker == kNone) scan.firstMarker = p;
          if (markers.count < NotedMarkers::kMost) {
            markers.at[markers.count++] = p;
          } else if (markers.to == 0) {
            markers.to = p;  // the first marker not noted
          }
          next = p + stream::PageMarkers::kPlaceholderMarker.size();
        }
      } else if (s.data[p] != 0x1D) {
        continue;  // another byte of the class
      } else if (scan.cutCount < wantCuts && p < cutEnd &&
                 s.matches(p, stream::PageMarkers::kCutCommand)) {
        scan.cuts[scan.cutCount++] = p;
      } else if (s.rasterAt(p)) {
        scan.firstRaster = p;
        break;
      }
    }
    scan.stopsListed = first;
    if (p < stops.coveredTo || stops.coveredTo >= end) break;
    next = std::max(next, stops.coveredTo);
  }
  p = std::min(p, end);
  scan.firstMarker = std::min(scan.firstMarker, p);
  if (markers.to == 0) markers.to = p;
  if (scan.firstRaster == kNone) return scan;  // the whole page has been searched
  static const stream::BytePair kAllStarts[] = {kCutStart, kFontStart, kMarkerStart};
  static const stream::PairFinder allStarts(kAllStarts);
  static const stream::BytePair kCutStarts[] = {kCutStart};
  static const stream::PairFinder cutStarts(kCutStarts);
  std::size_t i = allStarts.find(s.data, p + 1, end, s.capacity);
  for (; i < end; i = allStarts.find(s.data, i + 1, end, s.capacity)) {
    if (s.data[i] != 0x1D) break;  // a font selection or placeholder marker may start here
    if (scan.cutCount < wantCuts && i < cutEnd && s.matches(i, stream::PageMarkers::kCutCommand)) {
      scan.cuts[scan.cutCount++] = i;
    }
    if (scan.cutCount == wantCuts) {
      scan.markerFreeTo = i + 1;
      return scan;
    }
  }
  scan.markerFreeTo = i;
  for (std::size_t c = cutStarts.find(s.data, i, cutEnd, s.capacity);
       scan.cutCount < wantCuts && c < cutEnd;
       c = cutStarts.find(s.data, c + 1, cutEnd, s.capacity)) {
    if (s.matches(c, stream::PageMarkers::kCutCommand)) scan.cuts[scan.cutCount++] = c;
  }
  return scan;
}

/// Removes the four bytes of the cut at `pos`: the tail moves down four and the four
/// bytes that followed the old end (the margin) close up behind it.
void removeCut(PageBuffer& page, std::size_t pos) {
  const stream::StreamView s = page.stream();
  const std::size_t length = s.length;
  const std::size_t from = pos + kCutSize;
  const std::size_t moved = std::min(length + kCutSize, s.capacity) - from;
  std::memmove(s.data + pos, s.data + from, moved);
  // Only a buffer with no margin left could leave a gap; it reads as margin (zero).
  const std::size_t stop = std::min(length, s.capacity);
  if (pos + moved < stop) std::memset(s.data + pos + moved, 0, stop - pos - moved);
  page.setLength(static_cast<std::uint32_t>(length - kCutSize));
}

/// Where the fixed page stands: its first raster header, how far no placeholder marker
/// starts before it (0 when not known), and the stretch past it known to hold no font
/// selection or placeholder marker (positions raster + 1 to freeTo - 1).
struct FixedPage {
  std::size_t firstRaster = kNone;
  std::size_t firstMarker = 0;
  std::size_t markerFreeTo = 0;
  const stream::ClassHits* stops = nullptr;  // the walk's stops from 0 on, when known
  const NotedMarkers* markers = nullptr;     // the markers the first scan met, when known
};

/// Replaces the first cut when the job asks for it and removes the next cut after the
/// first one still standing. The replacement can neither make nor break another match,
/// nor a font selection or placeholder marker (their bytes are none of a cut's), so the
/// cut removed is the third found when the first was replaced and the second otherwise.
FixedPage applyCutFixups(PageBuffer& page, const PageJob& job, stream::ClassHits& stops,
                         NotedMarkers& markers) {
  const bool replace = replacesFirstCut(job);
  const PageScan scan = scanPage(page.stream(), replace ? 3 : 2, stops, markers);
  if (replace && scan.cutCount >= 1) {
    std::memcpy(page.stream().data + scan.cuts[0], stream::PageMarkers::kCutReplacement.data(),
                kCutSize);
  }
  const std::size_t removed = replace ? 2 : 1;
  // The replacement neither makes nor breaks a stop (its bytes and a cut's are none of
  // the class but 0x1D, which the walk looks at again), so the list still holds.
  if (scan.cutCount <= removed) {
    return {scan.firstRaster, scan.firstMarker, scan.markerFreeTo,
            scan.stopsListed ? &stops : nullptr, &markers};
  }
  // Closing the gap can join bytes into a new header, so the fixed page is searched again.
  removeCut(page, scan.cuts[removed]);
  return {findRaster(page.stream()), 0, 0, nullptr, nullptr};
}

/// An image-only page holds a raster command and neither a font selection (ESC M n
/// ESC t m) nor a placeholder marker; the first of those two found is reported. Positions
/// raster + 1 to freeTo - 1 of `fixed` are known to hold neither and are not searched.
bool isImageOnlyPage(stream::StreamView s, FixedPage fixed, platform::DebugOutput& debug) {
  if (s.length <= kShortestImagePage || fixed.firstRaster == kNone) return false;
  const std::size_t end = scanEnd(s);
  static const stream::BytePair kMarkerStarts[] = {kFontStart, kMarkerStart};
  static const stream::PairFinder markerStarts(kMarkerStarts);
  const std::size_t skipFrom = fixed.firstRaster + 1;
  const std::size_t skipTo = std::max(skipFrom, fixed.markerFreeTo);
  auto next = [&](std::size_t from) {
    const std::size_t hit = markerStarts.find(s.data, from, std::min(skipFrom, end), s.capacity);
    return hit < skipFrom ? hit
                          : markerStarts.find(s.data, std::max(from, skipTo), end, s.capacity);
  };
  for (std::size_t i = next(0); i < end; i = next(i + 1)) {
    if (s.matches(i, stream::PageMarkers::kFontSelect)) {
      if (s.matches(i + 3, stream::PageMarkers::kCodeTableSelect)) {
        debug.write("Image + Font !! \n");
        return false;
      }
    } else if (s.matches(i, stream::PageMarkers::kPlaceholderMarker)) {
      debug.write("Image + Barcode !! \n");
      return false;
    }
  }
  return true;
}

}  // namespace

OutputBuffer OutputBuffer::allocate() {
  OutputBuffer buffer;
  // Only the filled bytes are ever sent, so the buffer is never cleared.
  buffer.block_ = base::HeapBlock::uninitialized(kSize);
  return buffer;
}

void processPage(PageBuffer& page, PageJob& job) {
  if (!page.ok()) return;
  stream::ClassHits stops;
  NotedMarkers markers;
  const FixedPage fixed = applyCutFixups(page, job, stops, markers);
  const std::size_t firstRaster = fixed.firstRaster;
  const stream::StreamView stream = page.stream();
  const page::PrinterSettings& settings = job.settings;
  if (!isImageOnlyPage(stream, fixed, job.debug)) {
    AlreadySearched searched;
    searched.rasterFrom = std::min(firstRaster, scanEnd(stream));
    searched.markerFrom = fixed.firstMarker;
    searched.stops = fixed.stops;
    if (fixed.markers != nullptr) {
      searched.markers = std::span(fixed.markers->at).first(fixed.markers->count);
      searched.markersTo = fixed.markers->to;
    }
    writeTextPage(stream, job.printer, job.output, settings, job.heightClass, searched);
    return;
  }
  if (settings.highSpeedMode == 1 &&
      raster::writeCompressedPage(stream, settings.bandRowLimit, job.printer, job.debug)) {
    return;
  }
  raster::writeBandedPage(stream, settings.bandRowLimit, job.printer);
}

}  // namespace page
