// Test helper: decodes one-dimensional T.4 lines with libtiff's own CCITT Group 3
// decoder, through a TIFF file kept in memory.
#pragma once

#if SPR_HAVE_LIBTIFF

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace g3 {

/// A TIFF file in memory, reached through libtiff's client procedures.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  std::size_t pos = 0;

  static MemoryFile& of(thandle_t h) { return *static_cast<MemoryFile*>(h); }
  static tmsize_t read(thandle_t h, void* buf, tmsize_t size) {
    MemoryFile& f = of(h);
    const std::size_t n =
        std::min(static_cast<std::size_t>(size), f.bytes.size() - std::min(f.pos, f.bytes.size()));
    if (n) std::memcpy(buf, f.bytes.data() + f.pos, n);
    f.pos += n;
    return static_cast<tmsize_t>(n);
  }
  static tmsize_t write(thandle_t h, void* buf, tmsize_t size) {
    MemoryFile& f = of(h);
    const auto n = static_cast<std::size_t>(size);
    if (f.bytes.size() < f.pos + n) f.bytes.resize(f.pos + n);
    std::memcpy(f.bytes.data() + f.pos, buf, n);
    f.pos += n;
    return size;
  }
  static toff_t seek(thandle_t h, toff_t off, int whence) {
    MemoryFile& f = of(h);
    if (whence == SEEK_SET) f.pos = static_cast<std::size_t>(off);
    if (whence == SEEK_CUR) f.pos += static_cast<std::size_t>(off);
    if (whence == SEEK_END) f.pos = f.bytes.size() + static_cast<std::size_t>(off);
    return f.pos;
  }
  static int close(thandle_t) { return 0; }
  static toff_t size(thandle_t h) { return of(h).bytes.size(); }
  static int map(thandle_t, void**, toff_t*) { return 0; }
  static void unmap(thandle_t, void*, toff_t) {}

  TIFF* open(const char* mode) {
    pos = 0;
    return TIFFClientOpen("memory", mode, this, read, write, seek, close, size, map, unmap);
  }
};

/// Collects what libtiff reports while it is alive.
class Messages {
 public:
  Messages() : error_(TIFFSetErrorHandler(collect)), warning_(TIFFSetWarningHandler(collect)) {
    current() = &lines;
  }
  ~Messages() {
    TIFFSetErrorHandler(error_);
    TIFFSetWarningHandler(warning_);
    current() = nullptr;
  }
  std::vector<std::string> lines;

 private:
  static std::vector<std::string>*& current() {
    static std::vector<std::string>* sink = nullptr;
    return sink;
  }
  static void collect(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (current()) current()->push_back(std::string(module ? module : "") + ": " + text);
  }
  TIFFErrorHandler error_;
  TIFFErrorHandler warning_;
};

struct Decoded {
  std::vector<std::vector<std::uint8_t>> rows;  // (width + 7) / 8 bytes each
  std::vector<std::string> messages;            // libtiff's errors and warnings
};

/// Decodes `lines` lines of `width` pixels from `code`, which holds them back to back,
/// each ending with EOL. One EOL (00 01) is put in front, as the decoder synchronises on
/// an EOL before the first line.
inline Decoded decode(const std::vector<std::uint8_t>& code, std::uint32_t width,
                      std::uint32_t lines) {
  Decoded out;
  Messages messages;
  std::vector<std::uint8_t> strip{0x00, 0x01};
  strip.insert(strip.end(), code.begin(), code.end());
  MemoryFile file;
  if (TIFF* tif = file.open("w")) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, lines);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, lines);
    TIFFWriteRawStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFClose(tif);
  }
  if (TIFF* tif = file.open("r")) {
    const std::size_t rowBytes = (width + 7) / 8;
    std::vector<std::uint8_t> pixels(rowBytes * lines, 0);
    const tmsize_t got =
        TIFFReadEncodedStrip(tif, 0, pixels.data(), static_cast<tmsize_t>(pixels.size()));
    if (got == static_cast<tmsize_t>(pixels.size())) {
      for (std::size_t y = 0; y < lines; ++y) {
        out.rows.emplace_back(pixels.begin() + static_cast<std::ptrdiff_t>(y * rowBytes),
                              pixels.begin() + static_cast<std::ptrdiff_t>((y + 1) * rowBytes));
      }
    }
    TIFFClose(tif);
  }
  out.messages = messages.lines;
  return out;
}

}  // namespace g3

#endif  // SPR_HAVE_LIBTIFF
