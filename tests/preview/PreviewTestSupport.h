// Helpers for the preview tests: byte streams written as hex, a scratch folder, PNG
// files read back with libpng, and runs of the preview command with its messages caught.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Preview.h"

namespace preview::test {

/// "1D 76 30 00" -> the bytes; spaces and "|" separate them.
std::vector<std::uint8_t> hex(std::string_view text);

/// "0011 0101 ..." -> the bits packed most significant first, zero-padded to a byte.
std::vector<std::uint8_t> bits(std::string_view text);

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts);

/// A fresh folder under the temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

 private:
  std::string path_;
};

/// An 8-bit grey picture as read from a PNG file; empty when the file does not read.
struct GreyImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;

  std::uint8_t at(std::uint32_t x, std::uint32_t y) const {
    return pixels[std::size_t{y} * width + x];
  }
};

GreyImage readPng(const std::string& path);

/// The picture and messages of `stream`, drawn as the command would draw it.
PreviewResult render(const std::vector<std::uint8_t>& stream, bool pageFile = false);

/// runPreview with these arguments; `diagnostics` receives what it wrote to its stream.
int runCommand(const std::vector<std::string>& args, std::string& diagnostics);

#ifdef SPR_HAVE_LIBTIFF
/// Rows of `width` pixels (packed, most significant bit leftmost, 1 = black) coded by
/// libtiff's Group 3 one-dimensional encoder: the raw strip of a TIFF written to `path`.
/// Empty if libtiff fails.
std::vector<std::uint8_t> libtiffCode(const std::vector<std::uint8_t>& image, std::uint32_t width,
                                      std::uint32_t rows, const std::string& path);
#endif

/// Dots of `canvas` as text rows ('#' black, '.' white), for readable failures.
std::string asciiArt(const Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t w,
                     std::uint32_t h);

}  // namespace preview::test
