// Writes an image-only page as the framed compressed raster stream (MH-coded rows).
#pragma once

#include <cstdint>

#include "platform/DebugOutput.h"
#include "platform/Spooler.h"
#include "stream/PageMarkers.h"
#include "stream/StreamView.h"

namespace raster {

/// Codes every raster row of the page with the Modified Huffman line encoder, frames
/// the result by 01 39 36 02 AA ... 01 39 36 02 CC and writes it with one spooler
/// write. Returns false, writing nothing, when the page is declined (fewer than two
/// whole chunks waiting after a row, or no buffers); the stream is never changed.
[[nodiscard]] bool writeCompressedPage(stream::StreamView stream, std::uint32_t bandRowLimit,
                                       platform::Printer& printer, platform::DebugOutput& debug);

}  // namespace raster
