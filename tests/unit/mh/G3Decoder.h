// Test helper: decodes one-dimensional T.4 lines with libtiff's own CCITT Group 3
// decoder, through a TIFF file kept in memory.
#pragma once

#if SPR_HAVE_LIBTIFF

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fakes/TiffMemory.h"

namespace g3 {

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
  preview::MemoryTiff file;
  if (TIFF* tif = fakes::openG3(file, width, lines)) {
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
