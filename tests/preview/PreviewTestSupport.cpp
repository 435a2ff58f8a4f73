#include "PreviewTestSupport.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "PreviewCommand.h"

#ifdef SPR_HAVE_LIBTIFF
#include <tiffio.h>
#endif

namespace preview::test {

std::vector<std::uint8_t> hex(std::string_view text) {
  std::vector<std::uint8_t> out;
  std::string digits;
  for (const char c : text) {
    if (c == ' ' || c == '|' || c == '\n') continue;
    digits += c;
    if (digits.size() == 2) {
      out.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    }
  }
  return out;
}

std::vector<std::uint8_t> bits(std::string_view text) {
  std::vector<std::uint8_t> out;
  std::size_t n = 0;
  for (const char c : text) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() = static_cast<std::uint8_t>(out.back() | (0x80u >> (n % 8)));
    ++n;
  }
  return out;
}

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "preview-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::ofstream file(path(name), std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

GreyImage readPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_GRAY;
  GreyImage grey;
  grey.width = image.width;
  grey.height = image.height;
  grey.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, grey.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  return grey;
}

PreviewResult render(const std::vector<std::uint8_t>& stream, bool pageFile) {
  PreviewOptions options;
  options.pageFile = pageFile;
  PreviewResult result;
  std::string error;
  if (!renderPreview(stream, options, result, error)) result.messages.push_back("error: " + error);
  return result;
}

int runCommand(const std::vector<std::string>& args, std::string& diagnostics) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& arg : copies) argv.push_back(arg.data());
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> capture(std::tmpfile());
  const int code = preview::runPreview(static_cast<int>(argv.size()), argv.data(), capture.get());
  std::rewind(capture.get());
  diagnostics.clear();
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, capture.get())) > 0) {
    diagnostics.append(buffer, got);
  }
  return code;
}

#ifdef SPR_HAVE_LIBTIFF
std::vector<std::uint8_t> libtiffCode(const std::vector<std::uint8_t>& image, std::uint32_t width,
                                      std::uint32_t rows, const std::string& path) {
  TIFF* out = TIFFOpen(path.c_str(), "w");
  if (!out) return {};
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, rows);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(out, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, 0);  // one-dimensional, no fill bits
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rows);
  const std::uint32_t bytesPerRow = (width + 7) / 8;
  std::vector<std::uint8_t> row(bytesPerRow);
  bool written = true;
  for (std::uint32_t y = 0; y < rows; ++y) {
    std::copy_n(image.begin() + static_cast<long>(std::size_t{y} * bytesPerRow), bytesPerRow,
                row.begin());
    written = written && TIFFWriteScanline(out, row.data(), y, 0) == 1;
  }
  TIFFClose(out);
  if (!written) return {};

  TIFF* in = TIFFOpen(path.c_str(), "r");
  if (!in) return {};
  std::vector<std::uint8_t> code(static_cast<std::size_t>(TIFFRawStripSize(in, 0)));
  const tmsize_t got = TIFFReadRawStrip(in, 0, code.data(), static_cast<tmsize_t>(code.size()));
  TIFFClose(in);
  code.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return code;
}
#endif

std::string asciiArt(const Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t w,
                     std::uint32_t h) {
  std::string art;
  for (std::uint32_t row = y; row < y + h; ++row) {
    for (std::uint32_t col = x; col < x + w; ++col) {
      art += canvas.pixel(col, row) == Canvas::kBlack ? '#' : '.';
    }
    art += '\n';
  }
  return art;
}

}  // namespace preview::test
