#include "Canvas.h"

#include <algorithm>

namespace preview {

void Canvas::growTo(std::uint32_t height) {
  if (height > maxHeight()) {
    clipped_ = true;
    height = maxHeight();
  }
  if (height <= height_) return;
  pixels_.resize(std::size_t{width_} * height, kWhite);
  height_ = height;
}

std::uint8_t Canvas::pixel(std::uint32_t x, std::uint32_t y) const {
  if (x >= width_ || y >= height_) return kWhite;
  return pixels_[std::size_t{y} * width_ + x];
}

std::span<const std::uint8_t> Canvas::row(std::uint32_t y) const {
  return std::span<const std::uint8_t>(pixels_).subspan(std::size_t{y} * width_, width_);
}

void Canvas::ink(std::uint32_t x, std::uint32_t y, std::uint8_t coverage) {
  if (x >= width_ || coverage == 0) return;
  growTo(y + 1);
  if (y >= height_) return;
  std::uint8_t& p = pixels_[std::size_t{y} * width_ + x];
  p = std::min(p, static_cast<std::uint8_t>(kWhite - coverage));
}

void Canvas::fillRect(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) {
  if (x >= width_ || w == 0 || h == 0) return;
  growTo(y + h);
  const std::uint32_t right = std::min(width_, x + w);
  for (std::uint32_t row = y; row < std::min(y + h, height_); ++row) {
    auto first = pixels_.begin() + static_cast<std::ptrdiff_t>(std::size_t{row} * width_ + x);
    std::fill(first, first + (right - x), kBlack);
  }
}

bool Canvas::isBilevel() const {
  return std::all_of(pixels_.begin(), pixels_.end(),
                     [](std::uint8_t p) { return p == kBlack || p == kWhite; });
}

std::uint32_t Canvas::paperRowsWithMargin(std::uint32_t margin) const {
  const std::uint32_t most = Canvas(width_ + 2 * margin).maxHeight();
  return std::min(height_, most > margin ? most - margin : 0);
}

Canvas Canvas::withMargin(std::uint32_t margin) const {
  Canvas framed(width_ + 2 * margin);
  framed.clipped_ = clipped_;
  framed.growTo(height_ + 2 * margin);
  // The wider canvas may hold fewer rows: the paper below what fits is dropped.
  const std::uint32_t kept = paperRowsWithMargin(margin);
  for (std::uint32_t y = 0; y < kept; ++y) {
    const auto source = row(y);
    std::copy(source.begin(), source.end(),
              framed.pixels_.begin() +
                  static_cast<std::ptrdiff_t>(std::size_t{y + margin} * framed.width_ + margin));
  }
  return framed;
}

}  // namespace preview
