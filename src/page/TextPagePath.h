// Sends a text page: plain bytes copied, rasters dropped, barcode placeholders expanded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "page/PageProcessor.h"
#include "page/PrinterSettings.h"
#include "platform/Spooler.h"
#include "stream/ClassScan.h"
#include "stream/PageMarkers.h"
#include "stream/StreamView.h"

namespace page {

/// Pages this short or shorter are sent as a write of zero bytes.
inline constexpr std::uint32_t kShortestTextPage = 15;

/// The bytes the walk may stop at: raster headers open with 0x1D, placeholder markers with
/// 0x98; the class holds a few more bytes, which the walk passes over.
inline constexpr stream::ByteClass kStopClass = stream::classOf(0x1D, 0x98);

/// What a caller has searched the stream for already: no raster header starts before
/// `rasterFrom` and no placeholder marker before `markerFrom` (0 where it is not known);
/// `stops`, when given, lists every byte of kStopClass from position 0 to its coveredTo.
/// `markers`, when `markersTo` is not 0, holds in order the placeholder markers before
/// `markersTo` that a search stepping over each whole marker it finds meets; no raster
/// header starts before markersTo, and a stop or the end stands there.
struct AlreadySearched {
  std::size_t rasterFrom = 0;
  std::size_t markerFrom = 0;
  const stream::ClassHits* stops = nullptr;
  std::span<const std::size_t> markers;
  std::size_t markersTo = 0;
};

/// Walks the page's stream once and appends what the printer gets to `output` from its
/// fill count on. Plain bytes are copied while the fill count stays below 0x500000 and
/// dropped silently after that; a raster command is skipped with its data and a 0D
/// behind it; a barcode placeholder is replaced with its builder's commands and may set
/// `heightClass` (GS ! n). A barcode that would pass the end of the buffer is dropped
/// whole with its data. Every read stays inside the stream's buffer: a raster or
/// placeholder that claims more than the buffer holds ends the page.
/// `searched` may tell how far a caller has searched the stream already.
void buildTextPage(stream::StreamView stream, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   const AlreadySearched& searched = {});

/// Builds the page as buildTextPage does and sends the filled bytes with one write, also
/// when there are none. Into an empty output, the page's opening plain bytes are not
/// copied: when everything built fits the stream's buffer, it is put together there behind
/// them and sent from there, so the stream is rewritten from its first placeholder or
/// raster on.
void writeTextPage(stream::StreamView stream, platform::Printer& printer, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   const AlreadySearched& searched = {});

}  // namespace page
