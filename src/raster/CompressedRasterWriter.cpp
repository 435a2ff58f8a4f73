#include "raster/CompressedRasterWriter.h"

#include "raster/CompressedStreamBuilder.h"

namespace raster {

bool writeCompressedPage(stream::StreamView stream, std::uint32_t bandRowLimit,
                         platform::Printer& printer, platform::DebugOutput& debug) {
  // The coding buffer must start zeroed (bits are only ever set); the output is filled
  // from its start and only what was filled is sent, so it is never cleared.
  return writeCompressedPageWith(stream, bandRowLimit, printer, debug, &base::HeapBlock::zeroed,
                                 &base::HeapBlock::uninitialized);
}

}  // namespace raster
