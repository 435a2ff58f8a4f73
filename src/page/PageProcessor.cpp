#include "page/PageProcessor.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "page/ByteScan.h"
#include "page/TextPagePath.h"
#include "raster/BandMerger.h"
#include "raster/CompressedRasterWriter.h"

namespace page {
namespace {

constexpr std::uint32_t kReplacingCutMode = 4;
constexpr std::uint32_t kShortestImagePage = 8;  // this long or shorter: never image-only
constexpr std::size_t kCutSize = PageMarkers::kCutCommand.size();

/// The end of the positions a scan may start a match at: the stream, inside the buffer.
std::size_t scanEnd(StreamView s) {
  return std::min<std::size_t>(s.length, s.capacity);
}

/// Whether the job's cut mode and printer ask for the first cut to become FF 00 00 00.
bool replacesFirstCut(const PageJob& job) {
  return job.cutMode == kReplacingCutMode &&
         (job.modelFirstUnit == u'P' || job.settings->firmwareVersion[0] == 0x50);
}

/// Finds up to `want` cut commands, in order, starting at positions 0 to L - 5 (a cut
/// in the last four bytes is never found). Cuts cannot overlap, so after each hit the
/// search goes on behind it. Returns how many were found.
std::size_t findCuts(StreamView s, std::array<std::size_t, 3>& cuts, std::size_t want) {
  const std::size_t end = scanEnd(s);
  if (end <= kCutSize) return 0;
  const std::size_t lastStart = end - kCutSize;  // exclusive
  std::size_t found = 0;
  std::size_t p = findByte(s.data, 0, lastStart, 0x1D);
  while (p < lastStart && found < want) {
    if (s.matches(p, PageMarkers::kCutCommand)) {
      cuts[found++] = p;
      p += kCutSize;
    } else {
      ++p;
    }
    p = findByte(s.data, p, lastStart, 0x1D);
  }
  return found;
}

/// Removes the four bytes of the cut at `pos`: the tail moves down four and the four
/// bytes that followed the old end (the margin) close up behind it.
void removeCut(PageBuffer& page, std::size_t pos) {
  const StreamView s = page.stream();
  const std::size_t length = s.length;
  const std::size_t from = pos + kCutSize;
  const std::size_t moved = std::min(length + kCutSize, s.capacity) - from;
  std::memmove(s.data + pos, s.data + from, moved);
  // Only a buffer with no margin left could leave a gap; it reads as margin (zero).
  if (pos + moved < length) std::memset(s.data + pos + moved, 0, length - pos - moved);
  page.setLength(static_cast<std::uint32_t>(length - kCutSize));
}

/// Replaces the first cut when the job asks for it and removes the next cut after the
/// first one still standing, all in one forward scan. The replacement can neither make
/// nor break another match, so the cut removed is the third found when the first was
/// replaced and the second otherwise.
void applyCutFixups(PageBuffer& page, const PageJob& job) {
  const StreamView s = page.stream();
  const bool replace = replacesFirstCut(job);
  std::array<std::size_t, 3> cuts{};
  const std::size_t found = findCuts(s, cuts, replace ? 3 : 2);
  if (replace && found >= 1) {
    std::memcpy(s.data + cuts[0], PageMarkers::kCutReplacement.data(), kCutSize);
  }
  const std::size_t removed = replace ? 2 : 1;
  if (found > removed) removeCut(page, cuts[removed]);
}

bool holdsRaster(StreamView s) {
  const std::size_t end = scanEnd(s);
  for (std::size_t p = findByte(s.data, 0, end, 0x1D); p < end;
       p = findByte(s.data, p + 1, end, 0x1D)) {
    if (s.rasterAt(p)) return true;
  }
  return false;
}

/// An image-only page holds a raster command and neither a font selection (ESC M n
/// ESC t m) nor a placeholder marker; the first of those two found is reported.
bool isImageOnlyPage(StreamView s, platform::DebugOutput& debug) {
  if (s.length <= kShortestImagePage || !holdsRaster(s)) return false;
  const std::size_t end = scanEnd(s);
  CandidateFinder<2> candidates(s.data, end, {0x1B, 0x98});
  for (std::size_t i = candidates.next(0); i < end; i = candidates.next(i + 1)) {
    if (s.matches(i, PageMarkers::kFontSelect)) {
      if (s.matches(i + 3, PageMarkers::kCodeTableSelect)) {
        debug.write("Image + Font !! \n");
        return false;
      }
    } else if (s.matches(i, PageMarkers::kPlaceholderMarker)) {
      debug.write("Image + Barcode !! \n");
      return false;
    }
  }
  return true;
}

}  // namespace

OutputBuffer OutputBuffer::allocate() {
  OutputBuffer buffer;
  buffer.block_ = HeapBlock::zeroed(kSize);
  return buffer;
}

void processPage(PageBuffer& page, PageJob& job) {
  if (!page.ok() || job.settings == nullptr || job.output == nullptr || job.printer == nullptr ||
      job.debug == nullptr) {
    return;
  }
  applyCutFixups(page, job);
  const StreamView stream = page.stream();
  const job::PrinterSettings& settings = *job.settings;
  if (!isImageOnlyPage(stream, *job.debug)) {
    writeTextPage(stream, *job.printer, *job.output, settings, job.heightClass);
    return;
  }
  if (settings.highSpeedMode == 1 &&
      raster::writeCompressedPage(stream, settings.bandRowLimit, *job.printer, *job.debug)) {
    return;
  }
  raster::BandMerger(stream, settings.bandRowLimit, *job.printer);
}

}  // namespace page
