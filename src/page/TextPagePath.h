// Sends a text page: plain bytes copied, rasters dropped, barcode placeholders expanded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "page/PageProcessor.h"
#include "page/PrinterSettings.h"
#include "platform/Spooler.h"
#include "stream/PageMarkers.h"
#include "stream/StreamView.h"

namespace page {

/// Pages this short or shorter are sent as a write of zero bytes.
inline constexpr std::uint32_t kShortestTextPage = 15;

/// Walks the page's stream once and appends what the printer gets to `output` from its
/// fill count on. Plain bytes are copied while the fill count stays below 0x500000 and
/// dropped silently after that; a raster command is skipped with its data and a 0D
/// behind it; a barcode placeholder is replaced with its builder's commands and may set
/// `heightClass` (GS ! n). A barcode that would pass the end of the buffer is dropped
/// whole with its data. Every read stays inside the stream's buffer: a raster or
/// placeholder that claims more than the buffer holds ends the page.
/// `rasterFrom` may tell that no raster header starts before that position (a caller that
/// has searched for one already); 0 when that is not known.
void buildTextPage(stream::StreamView stream, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   std::size_t rasterFrom = 0);

/// Builds the page as buildTextPage does and sends the filled bytes with one write, also
/// when there are none. Into an empty output, the page's opening plain bytes are not
/// copied: when everything built fits the stream's buffer, it is put together there behind
/// them and sent from there, so the stream is rewritten from its first placeholder or
/// raster on.
void writeTextPage(stream::StreamView stream, platform::Printer& printer, OutputBuffer& output,
                   const page::PrinterSettings& settings, std::uint8_t& heightClass,
                   std::size_t rasterFrom = 0);

}  // namespace page
