// A strip of paper: 8-bit grey pixels, 255 white and 0 black, as wide as the paper and
// growing downwards as the printer feeds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace preview {

class Canvas {
 public:
  static constexpr std::uint8_t kWhite = 255;
  static constexpr std::uint8_t kBlack = 0;
  /// The longest strip drawn (about 12 metres at 8 dots per millimetre); what would go
  /// further is dropped and clipped() says so.
  static constexpr std::uint32_t kMaxHeight = 100000;
  /// The most pixels a canvas holds (64 MiB): a wide paper is cut shorter than kMaxHeight.
  static constexpr std::uint64_t kMaxPixels = 64ull << 20;

  explicit Canvas(std::uint32_t width = 0) : width_(width) {}

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }

  /// The longest strip this canvas draws: kMaxHeight, or less on a paper so wide that
  /// kMaxPixels would be passed.
  std::uint32_t maxHeight() const {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(kMaxHeight, kMaxPixels / (width_ == 0 ? 1 : width_)));
  }

  /// True when something fell beyond maxHeight().
  bool clipped() const { return clipped_; }

  /// Adds white rows until the canvas is at least `height` rows high (at most maxHeight()).
  void growTo(std::uint32_t height);

  /// The pixel at x, y; white outside the canvas.
  std::uint8_t pixel(std::uint32_t x, std::uint32_t y) const;

  /// The `width()` pixels of row y (y < height()).
  std::span<const std::uint8_t> row(std::uint32_t y) const;

  /// Lays ink of the given coverage (0 none, 255 full) over x, y, growing the canvas
  /// downwards if need be; pixels right of the paper are dropped.
  void ink(std::uint32_t x, std::uint32_t y, std::uint8_t coverage);

  /// Full ink over a rectangle, clipped at the paper's right edge.
  void fillRect(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h);

  /// True when every pixel is pure black or pure white.
  bool isBilevel() const;

  /// A copy with `margin` white pixels around every side. The copy is wider, so it may
  /// hold fewer rows: it keeps paperRowsWithMargin() rows of this paper, and it is
  /// clipped() when this canvas was or when the paper and its margin do not all fit.
  Canvas withMargin(std::uint32_t margin) const;

  /// How many of this canvas's rows withMargin(margin) keeps.
  std::uint32_t paperRowsWithMargin(std::uint32_t margin) const;

 private:
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  bool clipped_ = false;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace preview
