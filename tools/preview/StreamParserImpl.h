// Internals of the stream parser, shared by StreamParser.cpp (the walk over the stream,
// text, control bytes, the compressed raster stream and placeholders) and
// StreamParserCommands.cpp (ESC, GS, FS and DLE commands).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "StreamParser.h"
#include "SymbolCommands.h"

namespace preview::detail {

inline constexpr std::uint8_t kNul = 0x00;
inline constexpr std::uint8_t kHt = 0x09;
inline constexpr std::uint8_t kLf = 0x0A;
inline constexpr std::uint8_t kFf = 0x0C;
inline constexpr std::uint8_t kCr = 0x0D;
inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kCan = 0x18;
inline constexpr std::uint8_t kEsc = 0x1B;
inline constexpr std::uint8_t kFs = 0x1C;
inline constexpr std::uint8_t kGs = 0x1D;
inline constexpr std::uint8_t kDel = 0x7F;

inline constexpr std::array<std::uint8_t, 5> kStreamStart = {0x01, 0x39, 0x36, 0x02, 0xAA};
inline constexpr std::array<std::uint8_t, 5> kStreamEnd = {0x01, 0x39, 0x36, 0x02, 0xCC};
inline constexpr std::array<std::uint8_t, 4> kCutReplacement = {0x0C, 0x00, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 14> kPlaceholderMarker = {
    0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07};

inline constexpr std::uint32_t kDefaultLineSpacing = 30;

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

inline bool isDataByte(std::uint8_t b) {
  return b >= 0x2A && b <= 0x7D;
}

/// One pass over one stream; parseStream makes one per call.
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

  /// Keeps the first kMaxMessages messages and counts the rest, so a stream of garbage
  /// can't fill memory with them.
  void message(std::string line) {
    if (result_.messages.size() < kMaxMessages) {
      result_.messages.push_back(std::move(line));
    } else {
      ++messagesLeftOut_;
    }
  }
  static constexpr std::size_t kMaxMessages = 200;
  void unknown(std::size_t count);
  void skipNoted(std::size_t length, const std::string& what);
  bool truncated(std::size_t needed);
  /// Keeps at most kMaxItems things to draw; the parse stops at the cap.
  void addItem(PrintItem item) {
    if (result_.items.size() < kMaxItems) result_.items.push_back(std::move(item));
  }
  static constexpr std::size_t kMaxItems = 1000000;
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
  std::size_t messagesLeftOut_ = 0;
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

}  // namespace preview::detail
