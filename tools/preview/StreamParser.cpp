// The stream parser walks the printer bytes once, keeping the printer's settings the way
// the printer would (bar height, QR parameters, line spacing, ...) and emitting an item
// for everything that prints.
#include "StreamParser.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "CommandTable.h"
#include "MhDecoder.h"
#include "SymbolCommands.h"

namespace preview {
namespace {

constexpr std::uint8_t kNul = 0x00;
constexpr std::uint8_t kHt = 0x09;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kFf = 0x0C;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kFs = 0x1C;
constexpr std::uint8_t kGs = 0x1D;
constexpr std::uint8_t kDel = 0x7F;

constexpr std::array<std::uint8_t, 5> kStreamStart = {0x01, 0x39, 0x36, 0x02, 0xAA};
constexpr std::array<std::uint8_t, 5> kStreamEnd = {0x01, 0x39, 0x36, 0x02, 0xCC};
constexpr std::array<std::uint8_t, 4> kCutReplacement = {0x0C, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 14> kPlaceholderMarker = {
    0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07};

constexpr std::uint32_t kDefaultLineSpacing = 30;

struct BarcodeSettings {
  std::uint32_t height = 162;
  std::uint32_t moduleWidth = 3;
  std::uint8_t hriPosition = 0;
  std::uint8_t hriFont = 0;
};

/// A command the preview steps over, counted once per kind and listed at the end.
struct SkippedKind {
  std::string what;
  std::size_t firstOffset = 0;
  std::size_t count = 0;
};

bool isDataByte(std::uint8_t b) {
  return b >= 0x2A && b <= 0x7D;
}

class StreamParser {
 public:
  StreamParser(std::span<const std::uint8_t> stream, const ParseOptions& options)
      : stream_(stream), options_(options) {}

  ParseResult run();

 private:
  std::uint8_t at(std::size_t i) const { return i < stream_.size() ? stream_[i] : kNul; }
  bool matches(std::span<const std::uint8_t> sequence) const;
  std::size_t offset() const { return options_.baseOffset + pos_; }
  std::string hexAt(std::size_t count) const;

  void message(std::string line) { result_.messages.push_back(std::move(line)); }
  void unknown(std::size_t count);
  void skipNoted(std::size_t length, const std::string& what);
  bool truncated(std::size_t needed);
  void addItem(PrintItem item) { result_.items.push_back(std::move(item)); }
  void addText(char32_t c);
  void reset();

  void step();
  void stepControl(std::uint8_t b);
  bool stepCompressed();
  void flushSegment();
  void giveUp(const std::string& why);
  void parseEsc();
  bool parseEscSetting(std::uint8_t code);
  void parseGs();
  bool parseGsSetting(std::uint8_t code);
  void skipKnown(std::uint8_t prefix, std::uint8_t code);
  void parseTable(std::uint8_t prefix);
  void parseRaster();
  void parseBarcode();
  void parseCut();
  void parseVariable(std::size_t length, const std::string& what);
  void parseParen(std::uint8_t prefix);
  void parsePlaceholder();

  std::span<const std::uint8_t> stream_;
  ParseOptions options_;
  std::size_t pos_ = 0;
  ParseResult result_;
  std::vector<SkippedKind> skipped_;

  TextStyle style_;
  std::uint8_t codeTable_ = 0;
  std::uint32_t lineSpacing_ = kDefaultLineSpacing;
  BarcodeSettings barcode_;
  SymbolCommands symbols_;

  bool inCompressed_ = false;
  std::size_t compressedOffset_ = 0;
  std::vector<std::uint8_t> segment_;
  std::size_t segmentOffset_ = 0;
};

ParseResult StreamParser::run() {
  while (pos_ < stream_.size()) step();
  flushSegment();
  if (inCompressed_) {
    message("compressed raster stream from offset " + std::to_string(compressedOffset_) +
            " has no end (01 39 36 02 CC)");
  }
  for (const SkippedKind& kind : skipped_) {
    message("skipped " + kind.what + ": " + std::to_string(kind.count) + " time" +
            (kind.count == 1 ? "" : "s") + ", first at offset " + std::to_string(kind.firstOffset));
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
  MhDecodeResult decoded = decodeMh(segment_);
  const std::string where = "compressed raster at offset " + std::to_string(segmentOffset_);
  if (!decoded.ok) message(where + ": " + decoded.error);
  if (decoded.linesWithoutEol > 0) {
    message(where + ": " + std::to_string(decoded.linesWithoutEol) + " of " +
            std::to_string(decoded.rowCount) + " lines have no EOL");
  }
  if (decoded.rowCount > 0) {
    addItem(RasterItem{decoded.width, decoded.bytesPerRow, decoded.rowCount, 1, 1,
                       std::move(decoded.rows), segmentOffset_});
  }
  segment_.clear();
}

void StreamParser::parseEsc() {
  if (truncated(2)) return;
  const std::uint8_t code = at(pos_ + 1);
  switch (code) {
    case 0x40:  // ESC @
      reset();
      pos_ += 2;
      return;
    case 0x32:  // ESC 2
      lineSpacing_ = kDefaultLineSpacing;
      pos_ += 2;
      return;
    case 0x69:  // ESC i
    case 0x6D:  // ESC m
      addItem(CutItem{0, true});
      pos_ += 2;
      return;
    case 0x2A: {  // ESC * m nL nH d1...dk: 8-dot or 24-dot columns
      if (truncated(5)) return;
      const std::size_t columns = at(pos_ + 3) + 256u * at(pos_ + 4);
      parseVariable(5 + columns * (at(pos_ + 2) >= 32 ? 3 : 1), "bit image");
      return;
    }
    case 0x44: {  // ESC D n1...nk NUL
      const auto end =
          std::find(stream_.begin() + static_cast<long>(pos_) + 2, stream_.end(), kNul);
      if (end == stream_.end()) return giveUp("no NUL after the tab positions");
      parseVariable(static_cast<std::size_t>(end - stream_.begin()) + 1 - pos_, "tab positions");
      return;
    }
    case 0x28:  // ESC ( fn pL pH ...
      parseParen(kEsc);
      return;
    default:
      break;
  }
  if (!parseEscSetting(code)) skipKnown(kEsc, code);
}

bool StreamParser::parseEscSetting(std::uint8_t code) {
  switch (code) {
    case 0x21:
    case 0x33:
    case 0x4A:
    case 0x4D:
    case 0x64:
    case 0x74:
      break;
    default:
      return false;
  }
  if (truncated(3)) return true;
  const std::uint8_t n = at(pos_ + 2);
  switch (code) {
    case 0x21:  // ESC ! n: font, double height, double width
      style_.font = n & 1u;
      style_.heightScale = (n & 0x10u) ? 2 : 1;
      style_.widthScale = (n & 0x20u) ? 2 : 1;
      break;
    case 0x33:  // ESC 3 n
      lineSpacing_ = n;
      break;
    case 0x4A:  // ESC J n
      addItem(FeedItem{n});
      break;
    case 0x4D:  // ESC M n
      style_.font = (n == 1 || n == 0x31) ? 1 : 0;
      break;
    case 0x64:  // ESC d n
      addItem(LineFeedItem{n, lineSpacing_});
      break;
    default:  // ESC t n
      codeTable_ = n;
      if (!isCodeTableDrawn(n)) {
        message("character code table " + std::to_string(n) + " at offset " +
                std::to_string(offset()) + " is drawn as PC437");
      }
  }
  pos_ += 3;
  return true;
}

void StreamParser::parseGs() {
  if (truncated(2)) return;
  const std::uint8_t code = at(pos_ + 1);
  switch (code) {
    case 0x76:
      parseRaster();
      return;
    case 0x6B:
      parseBarcode();
      return;
    case 0x56:
      parseCut();
      return;
    case 0x28:
      parseParen(kGs);
      return;
    case 0x38: {  // GS 8 L p1 p2 p3 p4 m fn ...
      if (truncated(7)) return;
      const std::size_t length = at(pos_ + 3) + (std::size_t{at(pos_ + 4)} << 8) +
                                 (std::size_t{at(pos_ + 5)} << 16) +
                                 (std::size_t{at(pos_ + 6)} << 24);
      parseVariable(7 + length, "graphics data");
      return;
    }
    case 0x2A: {  // GS * x y d1...dk
      if (truncated(4)) return;
      parseVariable(4 + std::size_t{at(pos_ + 2)} * at(pos_ + 3) * 8, "downloaded bit image");
      return;
    }
    default:
      break;
  }
  if (!parseGsSetting(code)) skipKnown(kGs, code);
}

bool StreamParser::parseGsSetting(std::uint8_t code) {
  switch (code) {
    case 0x21:
    case 0x48:
    case 0x66:
    case 0x68:
    case 0x77:
      break;
    default:
      return false;
  }
  if (truncated(3)) return true;
  const std::uint8_t n = at(pos_ + 2);
  switch (code) {
    case 0x21:  // GS ! n: width and height multipliers
      style_.widthScale = static_cast<std::uint8_t>(((n >> 4) & 7u) + 1);
      style_.heightScale = static_cast<std::uint8_t>((n & 7u) + 1);
      break;
    case 0x48:  // GS H n
      barcode_.hriPosition = n & 3u;
      break;
    case 0x66:  // GS f n
      barcode_.hriFont = n & 1u;
      break;
    case 0x68:  // GS h n
      barcode_.height = n;
      break;
    default:  // GS w n
      barcode_.moduleWidth = n;
  }
  pos_ += 3;
  return true;
}

void StreamParser::parseTable(std::uint8_t prefix) {
  if (truncated(2)) return;
  if (prefix == kFs && at(pos_ + 1) == 0x28) return parseParen(kFs);
  skipKnown(prefix, at(pos_ + 1));
}

// A command of the known-length table, or two bytes of an unknown one.
void StreamParser::skipKnown(std::uint8_t prefix, std::uint8_t code) {
  const auto known = findKnownCommand(prefix, code);
  if (!known) return unknown(2);
  if (truncated(known->length)) return;
  if (known->changesPrint) return skipNoted(known->length, known->name);
  pos_ += known->length;
}

void StreamParser::parseVariable(std::size_t length, const std::string& what) {
  if (truncated(length)) return;
  skipNoted(length, what);
}

// ESC (, GS ( and FS ( functions: fn pL pH and pL + 256 pH bytes. GS ( k with cn 0x30 or
// 0x31 is a PDF417 or QR code function.
void StreamParser::parseParen(std::uint8_t prefix) {
  if (truncated(5)) return;
  const std::size_t length = 5 + at(pos_ + 3) + 256u * at(pos_ + 4);
  if (truncated(length)) return;
  const std::uint8_t fn = at(pos_ + 2);
  if (prefix == kGs && fn == 0x6B && length >= 7 &&
      symbols_.apply(at(pos_ + 5), at(pos_ + 6), stream_.subspan(pos_ + 7, length - 7), offset(),
                     result_)) {
    pos_ += length;
    return;
  }
  char what[32];
  std::snprintf(what, sizeof what, "function %02X %02X", static_cast<unsigned>(fn),
                static_cast<unsigned>(length > 5 ? at(pos_ + 5) : 0));
  skipNoted(length, what);
}

void StreamParser::parseRaster() {
  if (truncated(3)) return;
  if (at(pos_ + 2) != 0x30) return unknown(2);
  if (truncated(8)) return;
  const std::uint8_t mode = at(pos_ + 3);
  const std::uint32_t bytesPerRow = at(pos_ + 4) + 256u * at(pos_ + 5);
  const std::uint32_t rows = at(pos_ + 6) + 256u * at(pos_ + 7);
  const std::size_t length = 8 + std::size_t{bytesPerRow} * rows;
  if (truncated(length)) return;
  const bool knownMode = mode <= 3 || (mode >= 0x30 && mode <= 0x33);
  if (!knownMode) {
    message("raster mode " + std::to_string(mode) + " at offset " + std::to_string(offset()) +
            " is drawn as mode 0");
  }
  const std::uint8_t scale = knownMode ? (mode & 3u) : 0;
  if (bytesPerRow > 0 && rows > 0) {
    const auto data = stream_.subspan(pos_ + 8, length - 8);
    addItem(RasterItem{bytesPerRow * 8, bytesPerRow, rows,
                       static_cast<std::uint8_t>(1 + (scale & 1u)),
                       static_cast<std::uint8_t>(1 + (scale >> 1)),
                       std::vector<std::uint8_t>(data.begin(), data.end()), offset()});
  }
  pos_ += length;
}

// GS k m d1...dk NUL (m 0 to 6) or GS k m n d1...dn (m 0x41 to 0x49).
void StreamParser::parseBarcode() {
  if (truncated(3)) return;
  const std::uint8_t m = at(pos_ + 2);
  std::size_t dataStart = pos_ + 3;
  std::size_t dataLength = 0;
  std::size_t length = 0;
  if (m <= 6) {
    const auto end = std::find(stream_.begin() + static_cast<long>(dataStart), stream_.end(), kNul);
    if (end == stream_.end()) return giveUp("no NUL after the barcode data");
    dataLength = static_cast<std::size_t>(end - stream_.begin()) - dataStart;
    length = 3 + dataLength + 1;
  } else {
    if (truncated(4)) return;
    dataStart = pos_ + 4;
    dataLength = at(pos_ + 3);
    length = 4 + dataLength;
    if (truncated(length)) return;
  }
  const std::uint8_t system = m <= 6 ? static_cast<std::uint8_t>(m + 0x41) : m;
  if (system < 0x41 || system > 0x49) {
    return skipNoted(length, "barcode system " + std::to_string(m));
  }
  const auto data = stream_.subspan(dataStart, dataLength);
  addItem(Barcode1DItem{system, std::string(data.begin(), data.end()), barcode_.height,
                        barcode_.moduleWidth, barcode_.hriPosition, barcode_.hriFont, offset()});
  pos_ += length;
}

// GS V m (m 0, 1, 0x30, 0x31) or GS V m n (m 0x41, 0x42, 0x61, 0x62, 0x67, 0x68: feed n
// dots first); an even m is a partial cut.
void StreamParser::parseCut() {
  if (truncated(3)) return;
  const std::uint8_t m = at(pos_ + 2);
  switch (m) {
    case 0x00:
    case 0x01:
    case 0x30:
    case 0x31:
      addItem(CutItem{0, (m & 1u) == 1});
      pos_ += 3;
      return;
    case 0x41:
    case 0x42:
    case 0x61:
    case 0x62:
    case 0x67:
    case 0x68:
      if (truncated(4)) return;
      addItem(CutItem{at(pos_ + 3), (m & 1u) == 0});
      pos_ += 4;
      return;
    default:
      unknown(2);
  }
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
}  // namespace

ParseResult parseStream(std::span<const std::uint8_t> stream, const ParseOptions& options) {
  return StreamParser(stream, options).run();
}

}  // namespace preview
