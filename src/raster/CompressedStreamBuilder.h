// Builds the framed compressed raster stream of one page into buffers it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "base/HeapBlock.h"
#include "mh/MhLineEncoder.h"
#include "platform/DebugOutput.h"
#include "platform/Spooler.h"
#include "stream/PageMarkers.h"
#include "stream/StreamView.h"

namespace raster {

/// The HuffmanEncodingBuffer: the coded bits waiting to be sent.
inline constexpr std::size_t kCodingBufferSize = 38480;
/// compressedOutput: the framed page, sent with one write.
inline constexpr std::size_t kCompressedOutputSize = 0x500000;
/// The least coding room that always suffices: the most a row can leave waiting (just
/// under 255 bytes, one chunk of the widest row) and one more line of the longest kind.
inline constexpr std::size_t kMinCodingBufferSize = (8 * 255 + mh::kMaxLineBits + 7) / 8;

/// Builds the framed compressed form of the page's stream into `output`, with `coding` as
/// the bit buffer (zeroed; `output` need not be). A band holds up to `bandRowLimit`
/// chunks, and never more than 65535, the most its 16-bit count can say; a limit of 0
/// closes every band after its first chunk, as 1 does. Returns the number of output
/// bytes, or nothing when the page is declined:
/// - fewer than two whole chunks are waiting after a row (however many rows came before);
/// - a row is 0 bytes wide, or its bytes run past the end of the page buffer;
/// - the output would not fit `output`, or `coding` is under kMinCodingBufferSize.
/// A header or row may reach past the stream's length into the page buffer's margin and
/// reads what is there; nothing past its capacity is read, and nothing is changed.
/// `coding` is left all zero in every case, ready for the next page.
std::optional<std::size_t> buildCompressedStream(stream::StreamView stream,
                                                 std::uint32_t bandRowLimit,
                                                 std::span<std::uint8_t> coding,
                                                 std::span<std::uint8_t> output);

/// Where a buffer of a page comes from: a block of `size` bytes (zeroed for the coding
/// buffer), or an empty block when there is none.
using BlockSource = base::HeapBlock (*)(std::size_t size);

/// writeCompressedPage with its coding buffer and its output taken from the two sources.
[[nodiscard]] bool writeCompressedPageWith(stream::StreamView stream, std::uint32_t bandRowLimit,
                                           platform::Printer& printer, platform::DebugOutput& debug,
                                           BlockSource codingSource, BlockSource outputSource);

}  // namespace raster
