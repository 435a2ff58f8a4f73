// The Modified Huffman line encoder against libtiff's CCITT Group 3 1D encoder on the
// same 588-pixel lines, and the compressed raster writer on a dithered photo page.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <vector>

#include "fakes/Bytes.h"
#include "fakes/CountingPrinter.h"
#include "fakes/RasterRows.h"
#include "mh/MhLineEncoder.h"
#include "page/PageBuffer.h"
#include "raster/CompressedRasterWriter.h"

#include "fakes/TiffMemory.h"

namespace {

using fakes::Row;

constexpr std::size_t kRowBytes = 72;  // a 576-dot receipt row, coded as a 588-pixel line
constexpr std::size_t kRows = 2000;

enum Kind { kText, kOrdered, kDiffused, kBlank, kSolid, kNoise, kReceipt };
constexpr const char* kKindNames[] = {"text",  "ordered_dither", "error_diffused", "blank",
                                      "solid", "noise",          "receipt_mix"};

const std::vector<Row>& corpus(int kind) {
  static std::map<int, std::vector<Row>> cache;
  std::vector<Row>& rows = cache[kind];
  if (!rows.empty()) return rows;
  fakes::RowMaker maker(static_cast<std::uint32_t>(1000 + kind));
  if (kind == kDiffused) return rows = fakes::errorDiffusedPhoto(kRows, kRowBytes);
  for (std::size_t y = 0; y < kRows; ++y) {
    switch (kind) {
      case kText:
        rows.push_back(maker.text(kRowBytes));
        break;
      case kOrdered:
        rows.push_back(fakes::RowMaker::orderedDither(kRowBytes, y));
        break;
      case kBlank:
        rows.push_back(maker.blank(kRowBytes));
        break;
      case kSolid:
        rows.push_back(maker.solid(kRowBytes));
        break;
      case kNoise:
        rows.push_back(maker.noise(kRowBytes));
        break;
      default:
        rows.push_back(maker.receipt(kRowBytes, y));
        break;
    }
  }
  return rows;
}

/// The rows back to back as one MH stream from bit `start`.
std::vector<std::uint8_t> encodeAll(const std::vector<Row>& rows, std::uint32_t start,
                                    std::uint32_t& end) {
  std::vector<std::uint8_t> code(rows.size() * (mh::kMaxLineBits / 8 + 1) + 8, 0);
  end = start;
  for (const Row& row : rows) mh::encodeLine(row, code.data(), end);
  return code;
}

void BM_EncodeLine(benchmark::State& state) {
  const std::vector<Row>& rows = corpus(static_cast<int>(state.range(0)));
  std::uint32_t end = 0;
  std::vector<std::uint8_t> code = encodeAll(rows, 0, end);
  for (auto _ : state) {
    // The encoder only sets bits: give it the zeroed buffer it expects, every pass.
    std::memset(code.data(), 0, (end + 7) / 8);
    end = 0;
    for (const Row& row : rows) mh::encodeLine(row, code.data(), end);
    benchmark::DoNotOptimize(code.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * rows.size()));
  state.SetLabel(kKindNames[state.range(0)]);
}
BENCHMARK(BM_EncodeLine)->DenseRange(kText, kReceipt);

using NullPrinter = fakes::CountingPrinter;
using NullDebug = fakes::NullDebugOutput;

/// A whole page of the error-diffused photograph's rows, each a one-row GS v 0 command
/// with its 0D separator, written in the compressed form; the same rows as
/// BM_EncodeLine/2, so the two rates compare the writer with the coding it does.
void BM_WriteCompressedPage(benchmark::State& state) {
  const std::vector<Row>& rows = corpus(kDiffused);
  fakes::Bytes stream;
  for (const Row& row : rows) {
    const fakes::Bytes command = fakes::rasterRow(row);
    stream.insert(stream.end(), command.begin(), command.end());
  }
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(fakes::pageFile(stream));
  NullPrinter printer;
  NullDebug debug;
  for (auto _ : state) {
    if (!raster::writeCompressedPage(buffer.stream(), 20, printer, debug)) {
      state.SkipWithError("the page was declined");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * rows.size()));
  state.counters["out_bytes"] = static_cast<double>(printer.written) /
                                static_cast<double>(std::max<std::int64_t>(state.iterations(), 1));
}
BENCHMARK(BM_WriteCompressedPage);

#if SPR_HAVE_LIBTIFF

/// The rows as libtiff's 74-byte scanlines of the same 588 pixels: the pixels after the
/// row are white, and so are those after the 588th.
std::vector<std::uint8_t> scanlines(const std::vector<Row>& rows) {
  constexpr std::size_t kScanline = (mh::kLineWidth + 7) / 8;
  std::vector<std::uint8_t> image(rows.size() * kScanline, 0);
  for (std::size_t y = 0; y < rows.size(); ++y) {
    std::memcpy(image.data() + y * kScanline, rows[y].data(), std::min(rows[y].size(), kScanline));
  }
  return image;
}

/// Whether libtiff codes exactly our lines: its strip puts EOL before every line where we
/// put it after, so it must equal one EOL followed by our stream without its last EOL.
bool sameCode(const std::vector<Row>& rows, const std::vector<std::uint8_t>& image) {
  preview::MemoryTiff file;
  TIFF* tif = fakes::openG3(file, mh::kLineWidth, static_cast<std::uint32_t>(rows.size()));
  if (!tif) return false;
  std::vector<std::uint8_t> pixels = image;
  TIFFWriteEncodedStrip(tif, 0, pixels.data(), static_cast<tmsize_t>(pixels.size()));
  TIFFClose(tif);
  tif = file.open("r");
  if (!tif) return false;
  std::vector<std::uint8_t> strip(static_cast<std::size_t>(TIFFRawStripSize(tif, 0)));
  TIFFReadRawStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(tif);
  std::uint32_t end = 12;
  std::vector<std::uint8_t> ours = encodeAll(rows, 12, end);
  ours[1] |= 0x10;  // EOL at bits 0..11
  const std::size_t whole = (end - 12) / 8;
  return strip.size() >= whole && std::memcmp(strip.data(), ours.data(), whole) == 0;
}

void BM_LibtiffG3Encode(benchmark::State& state) {
  const std::vector<Row>& rows = corpus(static_cast<int>(state.range(0)));
  const std::vector<std::uint8_t> image = scanlines(rows);
  if (!sameCode(rows, image)) {
    state.SkipWithError("libtiff codes other lines than the encoder");
    return;
  }
  preview::MemoryTiff file;
  TIFF* tif = fakes::openG3(file, mh::kLineWidth, static_cast<std::uint32_t>(rows.size()));
  std::vector<std::uint8_t> pixels = image;
  for (auto _ : state) {
    if (TIFFWriteEncodedStrip(tif, 0, pixels.data(), static_cast<tmsize_t>(pixels.size())) < 0) {
      state.SkipWithError("TIFFWriteEncodedStrip failed");
      break;
    }
  }
  TIFFClose(tif);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * rows.size()));
  state.SetLabel(kKindNames[state.range(0)]);
}
BENCHMARK(BM_LibtiffG3Encode)->DenseRange(kText, kReceipt);

#endif  // SPR_HAVE_LIBTIFF

}  // namespace

BENCHMARK_MAIN();
