// Joins runs of one-row raster commands into bands of several rows.
#pragma once

#include <cstdint>

#include "platform/Spooler.h"
#include "stream/PageMarkers.h"
#include "stream/StreamView.h"

namespace raster {

/// Merges consecutive one-row GS v 0 commands in place, in one forward pass, and
/// returns the stream's new length. Each merged row loses its 8-byte header and the
/// separator before it, and the band's one-byte row counter (the first command's yL)
/// grows by one, up to `bandRowLimit` rows (a limit above 255 counts as 255, the most
/// the counter holds). A header that would be merged but is cut short by the end of the
/// stream is left as it stands.
std::uint32_t mergeBands(stream::StreamView stream, std::uint32_t bandRowLimit);

/// Merges the page's bands and writes the merged stream with one spooler write.
void writeBandedPage(stream::StreamView stream, std::uint32_t bandRowLimit,
                     platform::Printer& printer);

}  // namespace raster
