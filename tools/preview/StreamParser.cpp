// The stream parser walks the printer bytes once, keeping the printer's settings the way
// the printer would (bar height, QR parameters, line spacing, ...) and emitting an item
// for everything that prints.
#include "StreamParser.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "CommandTable.h"
#include "G3Decoder.h"
#include "StreamParserImpl.h"

namespace preview {
namespace detail {

ParseResult StreamParser::run() {
  while (pos_ < stream_.size() && result_.items.size() < kMaxItems) step();
  flushSegment();
  if (result_.items.size() >= kMaxItems) {
    message("the preview stops after " + std::to_string(kMaxItems) + " things to draw, at offset " +
            std::to_string(offset()));
  }
  if (inCompressed_) {
    message("compressed raster stream from offset " + std::to_string(compressedOffset_) +
            " has no end (01 39 36 02 CC)");
  }
  for (const SkippedKind& kind : skipped_) {
    message("skipped " + kind.what + ": " + std::to_string(kind.count) + " time" +
            (kind.count == 1 ? "" : "s") + ", first at offset " + std::to_string(kind.firstOffset));
  }
  if (messagesLeftOut_ > 0) {
    result_.messages.push_back("and " + std::to_string(messagesLeftOut_) + " more messages");
  }
  return std::move(result_);
}

bool StreamParser::matches(std::span<const std::uint8_t> sequence) const {
  if (stream_.size() - pos_ < sequence.size()) return false;
  return std::equal(sequence.begin(), sequence.end(), stream_.begin() + static_cast<long>(pos_));
}

std::string StreamParser::hexAt(std::size_t count) const {
  std::string text;
  for (std::size_t i = pos_; i < pos_ + count && i < stream_.size(); ++i) {
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(stream_[i]));
    if (!text.empty()) text += ' ';
    text += buffer;
  }
  return text;
}

void StreamParser::unknown(std::size_t count) {
  count = std::min(count, stream_.size() - pos_);
  message("unknown command " + hexAt(count) + " at offset " + std::to_string(offset()));
  pos_ += count;
}

// Steps over a command the preview knows but does not draw, and counts it.
void StreamParser::skipNoted(std::size_t length, const std::string& what) {
  const std::string kind = hexAt(std::min<std::size_t>(length, 2)) + " (" + what + ")";
  auto found = std::find_if(skipped_.begin(), skipped_.end(),
                            [&](const SkippedKind& k) { return k.what == kind; });
  if (found == skipped_.end()) {
    skipped_.push_back({kind, offset(), 0});
    found = skipped_.end() - 1;
  }
  ++found->count;
  pos_ += length;
}

// True (and the rest of the stream given up) when the command at the position needs more
// bytes than are left.
bool StreamParser::truncated(std::size_t needed) {
  const std::size_t left = stream_.size() - pos_;
  if (left >= needed) return false;
  message("truncated command " + hexAt(2) + " at offset " + std::to_string(offset()) + ": needs " +
          std::to_string(needed) + " bytes, " + std::to_string(left) + " left");
  pos_ = stream_.size();
  return true;
}

void StreamParser::addText(char32_t c) {
  if (!result_.items.empty()) {
    if (auto* text = std::get_if<TextItem>(&result_.items.back()); text && text->style == style_) {
      text->text += c;
      return;
    }
  }
  addItem(TextItem{std::u32string(1, c), style_});
}

void StreamParser::reset() {
  style_ = {};
  codeTable_ = 0;
  lineSpacing_ = kDefaultLineSpacing;
  barcode_ = {};
  symbols_.reset();
}

void StreamParser::step() {
  if (inCompressed_ && stepCompressed()) return;
  if (matches(kStreamStart)) {
    if (inCompressed_)
      message("compressed raster stream restarts at offset " + std::to_string(offset()));
    inCompressed_ = true;
    compressedOffset_ = offset();
    pos_ += kStreamStart.size();
    return;
  }
  const std::uint8_t b = stream_[pos_];
  if (options_.placeholders && matches(kPlaceholderMarker)) {
    parsePlaceholder();
  } else if (b == kEsc) {
    parseEsc();
  } else if (b == kGs) {
    parseGs();
  } else if (b == kDle || b == kFs) {
    parseTable(b);
  } else if (b >= 0x20 && b != kDel) {
    addText(mapCodeTable(codeTable_, b));
    ++pos_;
  } else {
    stepControl(b);
  }
}

void StreamParser::stepControl(std::uint8_t b) {
  if (matches(kCutReplacement)) {
    addItem(CutItem{});
    pos_ += kCutReplacement.size();
    return;
  }
  switch (b) {
    case kLf:
      addItem(LineFeedItem{1, lineSpacing_});
      break;
    case kHt:
      addItem(TabItem{});
      break;
    case kCr:   // with automatic line feed off, as printers leave it: nothing
    case kNul:  // the byte that closes a document
    case kFf:   // in standard mode: nothing to print
    case kCan:  // page mode only
      break;
    default:
      unknown(1);
      return;
  }
  ++pos_;
}

// Ends the stream at a command that cannot be completed.
void StreamParser::giveUp(const std::string& why) {
  message("truncated command " + hexAt(2) + " at offset " + std::to_string(offset()) + ": " + why);
  pos_ = stream_.size();
}

// Inside the compressed raster stream every GS v 0 carries Modified Huffman code rather
// than pixels. Consecutive commands form one segment whose code runs on from chunk to
// chunk; any other byte ends the segment, and the code after it starts on a fresh byte.
bool StreamParser::stepCompressed() {
  if (at(pos_) == kGs && at(pos_ + 1) == 0x76 && at(pos_ + 2) == 0x30) {
    if (truncated(8)) return true;
    const std::size_t length = std::size_t{at(pos_ + 4) + 256u * at(pos_ + 5)} *
                               std::size_t{at(pos_ + 6) + 256u * at(pos_ + 7)};
    if (truncated(8 + length)) return true;
    if (segment_.empty()) segmentOffset_ = offset();
    const auto data = stream_.subspan(pos_ + 8, length);
    segment_.insert(segment_.end(), data.begin(), data.end());
    pos_ += 8 + length;
    return true;
  }
  flushSegment();
  if (!matches(kStreamEnd)) return false;
  inCompressed_ = false;
  pos_ += kStreamEnd.size();
  return true;
}

void StreamParser::flushSegment() {
  if (segment_.empty()) return;
  G3DecodeResult decoded = decodeG3(segment_);
  const std::string where = "compressed raster at offset " + std::to_string(segmentOffset_) + ": ";
  for (const std::string& problem : decoded.problems) message(where + problem);
  if (decoded.rowCount > 0) {
    const std::uint32_t width = printedWidth(decoded);
    addItem(RasterItem{width, decoded.bytesPerRow, decoded.rowCount, 1, 1, std::move(decoded.rows),
                       segmentOffset_});
  }
  segment_.clear();
}

// 98 07 x 7, the barcode type, GS ! n or a CR, ESC J n, then the data bytes 0x2A to 0x7D.
void StreamParser::parsePlaceholder() {
  PlaceholderItem item;
  item.offset = offset();
  std::size_t p = pos_ + kPlaceholderMarker.size();
  item.barcodeType = at(p++);
  if (at(p) == kGs && at(p + 1) == 0x21) {
    item.heightClass = at(p + 2);
    p += 3;
  } else if (at(p) == kCr) {
    ++p;
  }
  if (at(p) == kEsc && at(p + 1) == 0x4A) {
    addItem(FeedItem{at(p + 2)});
    p += 3;
  }
  const std::size_t dataStart = std::min(p, stream_.size());
  while (p < stream_.size() && isDataByte(stream_[p])) ++p;
  p = std::max(p, dataStart);
  item.data.assign(stream_.begin() + static_cast<long>(dataStart),
                   stream_.begin() + static_cast<long>(std::min(p, stream_.size())));
  addItem(std::move(item));
  pos_ = std::min(p, stream_.size());
}
}  // namespace detail

ParseResult parseStream(std::span<const std::uint8_t> stream, const ParseOptions& options) {
  return detail::StreamParser(stream, options).run();
}

}  // namespace preview
