// Test and benchmark helpers: raster rows with the look of receipt content, made from a
// fixed-seed generator so every run sees the same rows.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace fakes {

using Row = std::vector<std::uint8_t>;

inline void setPixel(Row& row, std::size_t x) {
  if (x / 8 < row.size()) row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | 0x80 >> (x % 8));
}

inline bool pixel(const Row& row, std::size_t x) {
  return x / 8 < row.size() && ((row[x / 8] >> (7 - x % 8)) & 1) != 0;
}

/// The grey level (0 white .. 1 black) of a smooth synthetic photograph at (x, y).
inline double photoGrey(std::size_t x, std::size_t y) {
  const double fx = static_cast<double>(x);
  const double fy = static_cast<double>(y);
  const double g = 0.5 + 0.3 * std::sin(fx / 23.0 + fy / 41.0) * std::cos(fy / 17.0 - fx / 53.0) +
                   0.15 * std::sin((fx + 2 * fy) / 97.0);
  return std::clamp(g, 0.0, 1.0);
}

class RowMaker {
 public:
  explicit RowMaker(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }

  /// Independent pixels, each black with probability `black`.
  Row noise(std::size_t width, double black = 0.5) {
    Row row(width);
    std::bernoulli_distribution dot(black);
    for (std::size_t x = 0; x < 8 * width; ++x) {
      if (dot(rng_)) setPixel(row, x);
    }
    return row;
  }

  /// Pixels that change colour with probability `flip` at each step: mostly runs of one.
  Row busy(std::size_t width, double flip = 0.8) {
    Row row(width);
    std::bernoulli_distribution change(flip);
    bool black = below(2) == 1;
    for (std::size_t x = 0; x < 8 * width; ++x) {
      if (black) setPixel(row, x);
      if (change(rng_)) black = !black;
    }
    return row;
  }

  /// A row through a line of printed text: 12-pixel character cells after a margin, each
  /// with one to three strokes one to three pixels wide, and gaps between words.
  Row text(std::size_t width) {
    Row row(width);
    for (std::size_t cell = 8 + below(16); cell + 12 <= 8 * width; cell += 12) {
      if (below(7) == 0) continue;  // a space
      for (std::uint32_t s = 1 + below(3); s > 0; --s) {
        const std::size_t start = cell + below(10);
        for (std::size_t x = start; x < start + 1 + below(3); ++x) setPixel(row, x);
      }
    }
    return row;
  }

  /// Bars two to eight pixels wide with gaps of the same widths, as a 1D barcode.
  Row bars(std::size_t width) {
    Row row(width);
    for (std::size_t x = 24; x < 8 * width;) {
      const std::size_t bar = 2 + below(7);
      for (std::size_t i = x; i < x + bar; ++i) setPixel(row, i);
      x += bar + 2 + below(7);
    }
    return row;
  }

  Row solid(std::size_t width) { return Row(width, 0xFF); }
  Row blank(std::size_t width) { return Row(width, 0x00); }

  /// A receipt's mix of rows: mostly white space and text, some logo, rules and bars.
  Row receipt(std::size_t width, std::size_t y) {
    const std::uint32_t pick = below(100);
    if (pick < 40) return blank(width);
    if (pick < 80) return text(width);
    if (pick < 90) return orderedDither(width, y);
    if (pick < 95) return solid(width);
    return bars(width);
  }

  /// Row `y` of the synthetic photograph, dithered with an 8x8 Bayer matrix.
  static Row orderedDither(std::size_t width, std::size_t y) {
    static constexpr int bayer[8][8] = {
        {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
        {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
        {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
        {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
    Row row(width);
    for (std::size_t x = 0; x < 8 * width; ++x) {
      if (photoGrey(x, y) * 64.0 > bayer[y % 8][x % 8] + 0.5) setPixel(row, x);
    }
    return row;
  }

 private:
  std::mt19937 rng_;
};

/// `rows` rows of the synthetic photograph dithered by Floyd-Steinberg error diffusion.
inline std::vector<Row> errorDiffusedPhoto(std::size_t rows, std::size_t width) {
  const std::size_t w = 8 * width;
  std::vector<double> here(w + 2, 0.0);
  std::vector<double> next(w + 2, 0.0);
  std::vector<Row> out;
  for (std::size_t y = 0; y < rows; ++y) {
    Row row(width);
    for (std::size_t x = 0; x < w; ++x) {
      const double want = photoGrey(x, y) + here[x + 1];
      const double got = want > 0.5 ? 1.0 : 0.0;
      if (got > 0) setPixel(row, x);
      const double err = want - got;
      here[x + 2] += err * 7 / 16;
      next[x] += err * 3 / 16;
      next[x + 1] += err * 5 / 16;
      next[x + 2] += err * 1 / 16;
    }
    out.push_back(std::move(row));
    here.swap(next);
    std::fill(next.begin(), next.end(), 0.0);
  }
  return out;
}

/// `count` rows of every kind and of widths 1 to 255, each in a vector of exactly its
/// size, so that a read past a row's end is caught by the sanitizer build.
inline std::vector<Row> mixedRows(std::uint32_t seed, int count) {
  RowMaker maker(seed);
  std::vector<Row> rows;
  for (int i = 0; i < count; ++i) {
    const std::size_t width = 1 + maker.below(255);
    const auto y = static_cast<std::size_t>(i);
    switch (maker.below(6)) {
      case 0:
        rows.push_back(maker.noise(width, 0.05 + 0.009 * maker.below(100)));
        break;
      case 1:
        rows.push_back(maker.busy(width));
        break;
      case 2:
        rows.push_back(maker.text(width));
        break;
      case 3:
        rows.push_back(maker.receipt(width, y));
        break;
      case 4:
        rows.push_back(RowMaker::orderedDither(width, y));
        break;
      default:
        rows.push_back(maker.below(2) ? maker.solid(width) : maker.blank(width));
        break;
    }
  }
  return rows;
}

}  // namespace fakes
