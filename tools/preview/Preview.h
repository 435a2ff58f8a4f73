// The preview as a whole: from the bytes a printer would receive (or a page file as the
// driver left it) to a picture of the paper.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Canvas.h"
#include "FontRenderer.h"

namespace preview {

/// The widest margin drawn around the paper, in dots.
inline constexpr std::uint32_t kMostMargin = 4096;

struct PreviewOptions {
  bool pageFile = false;  ///< the input is a page file: 5-byte header, then the stream
  std::string fontPath = kDefaultFontPath;
  bool fontRequired = false;  ///< the font was asked for: failing to load it is an error
  std::uint32_t margin = 0;   ///< white paper drawn around the printable width, at most kMostMargin
};

struct PreviewResult {
  Canvas canvas;
  std::vector<std::string> messages;  ///< what was skipped or could not be drawn
};

/// Draws `input`. False, with `error` set, when the input or the font cannot be used at
/// all; everything less is a line in `result.messages`.
bool renderPreview(std::span<const std::uint8_t> input, const PreviewOptions& options,
                   PreviewResult& result, std::string& error);

}  // namespace preview
