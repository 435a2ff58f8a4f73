#include "raster/CompressedRasterWriter.h"

#include "raster/CompressedStreamBuilder.h"

namespace raster {

bool writeCompressedPage(page::StreamView stream, std::uint32_t bandRowLimit,
                         platform::Printer& printer, platform::DebugOutput& debug) {
  // calloc hands large blocks out as fresh zero pages: zeroing them costs nothing.
  return writeCompressedPageWith(stream, bandRowLimit, printer, debug, &page::HeapBlock::zeroed);
}

}  // namespace raster
