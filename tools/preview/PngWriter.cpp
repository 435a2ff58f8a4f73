// libpng reports failures by jumping back to a setjmp point. The jump lands in
// writeImage, which holds nothing that needs destroying; the png_struct, its info and
// the file are owned one level up and released on every path.
#include "PngWriter.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace preview {
namespace {

constexpr std::size_t kMessageSize = 128;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

/// The write struct and its info struct, destroyed together. libpng's error messages go
/// to `message`, kMessageSize bytes.
class PngWriteHandle {
 public:
  explicit PngWriteHandle(char* message) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, &PngWriteHandle::onError,
                                   &PngWriteHandle::onWarning);
    if (png_) info_ = png_create_info_struct(png_);
  }
  ~PngWriteHandle() { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }
  PngWriteHandle(const PngWriteHandle&) = delete;
  PngWriteHandle& operator=(const PngWriteHandle&) = delete;

  bool valid() const { return png_ && info_; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  static void onError(png_structp png, png_const_charp message) {
    auto* text = static_cast<char*>(png_get_error_ptr(png));
    if (text) std::snprintf(text, kMessageSize, "%s", message);
    png_longjmp(png, 1);
  }
  static void onWarning(png_structp, png_const_charp) {}

  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

/// Packs row y of the canvas to one bit per pixel, 1 = white as PNG greyscale has it.
void packRow(const Canvas& canvas, std::uint32_t y, png_bytep packed) {
  const auto row = canvas.row(y);
  std::memset(packed, 0, (canvas.width() + 7) / 8);
  for (std::uint32_t x = 0; x < canvas.width(); ++x) {
    if (row[x] == Canvas::kWhite) packed[x / 8] |= static_cast<png_byte>(0x80u >> (x % 8));
  }
}

// Nothing here may own a resource: a libpng error longjmps out of the calls below.
bool writeImage(png_structp png, png_infop info, std::FILE* file, const Canvas& canvas,
                bool bilevel, png_bytep rowBuffer) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, canvas.width(), canvas.height(), bilevel ? 1 : 8, PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < canvas.height(); ++y) {
    if (bilevel) {
      packRow(canvas, y, rowBuffer);
      png_write_row(png, rowBuffer);
    } else {
      png_write_row(png, canvas.row(y).data());
    }
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool writePng(const std::string& path, const Canvas& canvas, std::string& error) {
  if (canvas.width() == 0 || canvas.height() == 0) {
    error = "nothing to write";
    return false;
  }
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  char pngMessage[kMessageSize] = "libpng error";
  PngWriteHandle handle(pngMessage);
  if (!handle.valid()) {
    error = "libpng does not start";
    return false;
  }
  const bool bilevel = canvas.isBilevel();
  std::vector<png_byte> rowBuffer((canvas.width() + 7) / 8);
  if (!writeImage(handle.png(), handle.info(), file.get(), canvas, bilevel, rowBuffer.data())) {
    error = "cannot write " + path + ": " + pngMessage;
    return false;
  }
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace preview
