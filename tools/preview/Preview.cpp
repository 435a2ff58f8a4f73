#include "Preview.h"

#include <algorithm>

#include "PageRenderer.h"
#include "StreamParser.h"
#include "base/LittleEndian.h"

namespace preview {
namespace {

constexpr std::size_t kPageHeaderSize = 5;

/// The stream of a page file: `length` bytes from offset 5, or what the file holds.
bool pageStream(std::span<const std::uint8_t> file, std::span<const std::uint8_t>& stream,
                std::vector<std::string>& messages, std::string& error) {
  if (file.size() < kPageHeaderSize) {
    error = "a page file starts with a 5-byte header; this one has " + std::to_string(file.size()) +
            (file.size() == 1 ? " byte" : " bytes");
    return false;
  }
  const std::uint32_t length = base::readU32(file.data());
  stream = file.subspan(kPageHeaderSize);
  if (length < stream.size()) {
    stream = stream.first(length);
  } else if (length > stream.size()) {
    messages.push_back("page header gives " + std::to_string(length) + " stream bytes, file has " +
                       std::to_string(stream.size()));
  }
  return true;
}

}  // namespace

bool renderPreview(std::span<const std::uint8_t> input, const PreviewOptions& options,
                   PreviewResult& result, std::string& error) {
  result = PreviewResult();
  std::span<const std::uint8_t> stream = input;
  ParseOptions parse;
  if (options.pageFile) {
    if (!pageStream(input, stream, result.messages, error)) return false;
    parse.placeholders = true;
    parse.baseOffset = kPageHeaderSize;
  }

  FontRenderer font;
  std::string fontError;
  if (!font.open(options.fontPath, fontError)) {
    if (options.fontRequired) {
      error = fontError;
      return false;
    }
    result.messages.push_back(fontError + "; text is drawn as boxes");
  }

  ParseResult parsed = parseStream(stream, parse);
  result.messages.insert(result.messages.end(), parsed.messages.begin(), parsed.messages.end());
  PageRenderer renderer(paperWidth(parsed.items), font, result.messages);
  for (const PrintItem& item : parsed.items) renderer.draw(item);
  result.canvas = renderer.finish();
  if (const std::uint32_t margin = std::min(options.margin, kMostMargin); margin > 0) {
    const std::uint32_t kept = result.canvas.paperRowsWithMargin(margin);
    if (kept < result.canvas.height()) {
      result.messages.push_back("with the margin, the preview stops after " + std::to_string(kept) +
                                " dots of paper");
    }
    result.canvas = result.canvas.withMargin(margin);
  }
  return true;
}

}  // namespace preview
