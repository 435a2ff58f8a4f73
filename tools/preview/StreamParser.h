// Reads a printer byte stream (ESC/POS commands, banded rasters, the compressed raster
// stream) into the items the page renderer draws, with a message for everything it
// could not draw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "PrintItems.h"

namespace preview {

struct ParseOptions {
  bool placeholders = false;   ///< recognise the driver's barcode placeholders (page files)
  std::size_t baseOffset = 0;  ///< added to stream positions in messages
};

struct ParseResult {
  std::vector<PrintItem> items;
  /// One line each: "unknown command 1B 7A at offset 123", skipped commands, symbols
  /// without data, compressed code that does not decode, ...
  std::vector<std::string> messages;
};

ParseResult parseStream(std::span<const std::uint8_t> stream, const ParseOptions& options);

}  // namespace preview
