// libtiff reads a TIFF file, so the code goes into a one-strip Group 3 image (Compression
// 3, T4Options 0, FillOrder 1) kept in memory, and comes back row by row.
#include "G3Decoder.h"

#include "MemoryTiff.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>

namespace preview {
namespace {

/// Keeps what libtiff reports about the file in the decoding's list of problems.
int report(TIFF*, void* problems, const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  static_cast<std::vector<std::string>*>(problems)->push_back(
      std::string(module ? module : "libtiff") + ": " + text);
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using UniqueTiff = std::unique_ptr<TIFF, TiffCloser>;

UniqueTiff open(MemoryTiff& file, std::vector<std::string>& problems, const char* mode) {
  const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), report, &problems);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), report, &problems);
  file.pos = 0;
  return UniqueTiff(TIFFClientOpenExt(
      "compressed raster", mode, &file, MemoryTiff::read, MemoryTiff::write, MemoryTiff::seek,
      MemoryTiff::close, MemoryTiff::size, MemoryTiff::map, MemoryTiff::unmap, options.get()));
}

/// The strip: one EOL (00 01: four fill bits, then 000000000001), then the code from bit
/// `from` on.
std::vector<std::uint8_t> stripOf(std::span<const std::uint8_t> code, std::size_t from) {
  std::vector<std::uint8_t> strip{0x00, 0x01};
  const std::size_t shift = from % 8;
  for (std::size_t i = from / 8; i < code.size(); ++i) {
    const auto next = i + 1 < code.size() ? code[i + 1] : std::uint8_t{0};
    strip.push_back(shift == 0
                        ? code[i]
                        : static_cast<std::uint8_t>((code[i] << shift) | (next >> (8 - shift))));
  }
  return strip;
}

bool writeImage(MemoryTiff& file, std::vector<std::string>& problems,
                const std::vector<std::uint8_t>& strip, std::uint32_t width, std::uint32_t lines) {
  const UniqueTiff tif = open(file, problems, "w");
  if (!tif) return false;
  TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, lines);
  TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, lines);
  TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif.get(), TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(tif.get(), TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  return TIFFWriteRawStrip(tif.get(), 0, const_cast<std::uint8_t*>(strip.data()),
                           static_cast<tmsize_t>(strip.size())) >= 0;
}

}  // namespace

std::uint32_t countLines(std::span<const std::uint8_t> code) {
  std::uint32_t lines = 0;
  std::uint32_t zeros = 0;
  bool data = false;  // bits of a line since the last EOL
  for (std::uint8_t byte : code) {
    for (int bit = 7; bit >= 0; --bit) {
      if (((byte >> bit) & 1) == 0) {
        ++zeros;
        continue;
      }
      if (zeros >= 11) {
        if (data) ++lines;
        data = false;
      } else {
        data = true;
      }
      zeros = 0;
    }
  }
  return lines + (data ? 1 : 0);
}

std::size_t leadingEolBits(std::span<const std::uint8_t> code) {
  std::size_t after = 0;
  std::uint32_t zeros = 0;
  for (std::size_t i = 0; i < code.size() * 8; ++i) {
    if (((code[i / 8] >> (7 - i % 8)) & 1) == 0) {
      ++zeros;
      continue;
    }
    if (zeros < 11) break;  // the first line's first code word
    after = i + 1;
    zeros = 0;
  }
  return after;
}

std::uint32_t printedWidth(const G3DecodeResult& decoded) {
  if (decoded.width <= kPrintableWidth) return decoded.width;
  for (std::uint32_t row = 0; row < decoded.rowCount; ++row) {
    const std::uint8_t* bits = decoded.rows.data() + std::size_t{row} * decoded.bytesPerRow;
    for (std::uint32_t x = kPrintableWidth; x < decoded.width; ++x) {
      if ((bits[x / 8] & (0x80u >> (x % 8))) != 0) return decoded.width;
    }
  }
  return kPrintableWidth;
}

G3DecodeResult decodeG3(std::span<const std::uint8_t> code, std::uint32_t width,
                        std::uint32_t maxRows) {
  G3DecodeResult result;
  result.width = width;
  result.bytesPerRow = (width + 7) / 8;
  const std::uint32_t lines = countLines(code);
  if (lines == 0) return result;
  const std::uint32_t wanted = std::min(lines, maxRows);
  if (lines > maxRows) {
    result.problems.push_back("only the first " + std::to_string(maxRows) + " of " +
                              std::to_string(lines) + " lines are drawn");
  }

  MemoryTiff file;
  if (!writeImage(file, result.problems, stripOf(code, leadingEolBits(code)), width, wanted)) {
    return result;
  }
  const UniqueTiff tif = open(file, result.problems, "r");
  if (!tif) return result;
  result.rows.resize(std::size_t{result.bytesPerRow} * wanted);
  // A row the decoder reports a problem in ends the decoding and is not kept.
  for (std::uint32_t row = 0; row < wanted; ++row) {
    const std::size_t problems = result.problems.size();
    std::uint8_t* bits = result.rows.data() + std::size_t{row} * result.bytesPerRow;
    if (TIFFReadScanline(tif.get(), bits, row, 0) < 0 || result.problems.size() > problems) break;
    result.rowCount = row + 1;
  }
  result.rows.resize(std::size_t{result.bytesPerRow} * result.rowCount);
  return result;
}

}  // namespace preview
