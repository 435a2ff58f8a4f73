// ESC, GS, FS and DLE commands: the settings the preview keeps, the items it draws, and
// the commands it steps over by their known lengths.
#include <algorithm>
#include <cstdio>

#include "CommandTable.h"
#include "StreamParserImpl.h"

namespace preview::detail {

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

}  // namespace preview::detail
