#include "raster/CompressedStreamBuilder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace raster {
namespace {

constexpr std::array<std::uint8_t, 5> kStreamStart{0x01, 0x39, 0x36, 0x02, 0xAA};
constexpr std::array<std::uint8_t, 5> kStreamEnd{0x01, 0x39, 0x36, 0x02, 0xCC};
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint32_t kMaxBandChunks = 0xFFFF;  // a band counts its chunks in 16 bits
constexpr std::size_t kNoBand = static_cast<std::size_t>(-1);

/// compressedOutput and its fill count. An append that does not fit is refused whole, so
/// nothing is ever written past the end.
class Output {
 public:
  explicit Output(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

  [[nodiscard]] bool append(std::span<const std::uint8_t> data) {
    if (bytes_.size() - fill_ < data.size()) return false;
    if (!data.empty()) std::memcpy(bytes_.data() + fill_, data.data(), data.size());
    fill_ += data.size();
    return true;
  }

  /// Appends a GS v 0 header for `rows` rows of `width` bytes.
  [[nodiscard]] bool appendHeader(std::uint8_t width, std::uint8_t rows) {
    const std::array<std::uint8_t, kHeaderSize> header{0x1D,  0x76, 0x30, 0x00,
                                                       width, 0x00, rows, 0x00};
    return append(header);
  }

  /// Adds 1 to the 16-bit little-endian row count of the header at `header` and returns
  /// the new count.
  std::uint32_t countRow(std::size_t header) {
    std::uint8_t* count = bytes_.data() + header + 6;
    const std::uint32_t rows = (count[0] | static_cast<std::uint32_t>(count[1]) << 8) + 1;
    count[0] = static_cast<std::uint8_t>(rows);
    count[1] = static_cast<std::uint8_t>(rows >> 8);
    return rows;
  }

  [[nodiscard]] std::size_t fill() const { return fill_; }

 private:
  std::span<std::uint8_t> bytes_;
  std::size_t fill_ = 0;
};

/// The HuffmanEncodingBuffer. Whole bytes are taken from its front by moving a read
/// offset; the waiting bits go back to the start only when the longest line might not
/// fit behind them. Every bit after the waiting ones is zero, as the line encoder needs;
/// bytes before the read offset are spent and are zeroed when the buffer is cleared.
class CodingBuffer {
 public:
  explicit CodingBuffer(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

  /// The coded bits not yet sent: the line encoder's bitPosition, counted from the front.
  [[nodiscard]] std::uint32_t waitingBits() const { return bits_; }
  [[nodiscard]] std::uint32_t wholeBytes() const { return bits_ / 8; }
  [[nodiscard]] std::uint32_t startedBytes() const { return (bits_ + 7) / 8; }

  void codeRow(std::span<const std::uint8_t> row) {
    if (8 * (bytes_.size() - read_) - bits_ < mh::kMaxLineBits) moveToStart();
    mh::encodeLine(row, bytes_.data() + read_, bits_);
  }

  /// The first `n` waiting bytes.
  [[nodiscard]] std::span<const std::uint8_t> front(std::uint32_t n) const {
    return std::span<const std::uint8_t>(bytes_).subspan(read_, n);
  }

  /// Takes `n` whole bytes from the front.
  void take(std::uint32_t n) {
    read_ += n;
    bits_ -= 8 * n;
  }

  /// Drops every waiting bit and zeroes every byte used, leaving the buffer as new.
  void clear() {
    std::memset(bytes_.data(), 0, read_ + startedBytes());
    read_ = 0;
    bits_ = 0;
  }

 private:
  void moveToStart() {
    const std::size_t waiting = startedBytes();
    std::memmove(bytes_.data(), bytes_.data() + read_, waiting);
    std::memset(bytes_.data() + waiting, 0, read_);
    read_ = 0;
  }

  std::span<std::uint8_t> bytes_;
  std::size_t read_ = 0;
  std::uint32_t bits_ = 0;
};

/// One page's pass over its stream.
class PageCoder {
 public:
  PageCoder(stream::StreamView stream, std::uint32_t bandRowLimit, std::span<std::uint8_t> coding,
            std::span<std::uint8_t> output)
      : stream_(stream),
        length_(std::min<std::size_t>(stream.length, stream.capacity)),
        limit_(std::min(bandRowLimit, kMaxBandChunks)),
        coding_(coding),
        out_(output) {}

  std::optional<std::size_t> run() {
    bool ok = out_.append(kStreamStart);
    for (std::size_t p = 0; ok && p < length_;) {
      ok = stream_.rasterAt(p) ? codeRow(p) : copyBytes(p);
    }
    ok = ok && flush() && out_.append(kStreamEnd);
    coding_.clear();  // declined pages too leave the buffer as new
    if (!ok) return std::nullopt;
    return out_.fill();
  }

 private:
  /// Codes the row whose command starts at `p` and sends its whole chunks; false when
  /// the page must be declined.
  bool codeRow(std::size_t& p) {
    const std::uint8_t width = stream_.at(p + 4);
    const std::size_t rowStart = p + kHeaderSize;
    if (width == 0 || rowStart + width > stream_.capacity) return false;
    coding_.codeRow(std::span<const std::uint8_t>(stream_.data + rowStart, width));
    const std::uint32_t chunks = coding_.wholeBytes() / width;
    if (chunks < 2) return false;
    for (std::uint32_t i = 0; i < chunks; ++i) {
      if (!appendChunk(width)) return false;
    }
    p = rowStart + width;
    if (stream_.at(p) == stream::PageMarkers::kSeparator) ++p;
    return true;
  }

  bool appendChunk(std::uint8_t width) {
    if (band_ == kNoBand) {
      band_ = out_.fill();
      if (!out_.appendHeader(width, 0)) return false;
    }
    if (!out_.append(coding_.front(width))) return false;
    coding_.take(width);
    if (out_.countRow(band_) >= limit_) band_ = kNoBand;
    return true;
  }

  /// Copies the bytes from `p` up to the next one that could open a raster command,
  /// after sending the waiting bits; the copied bytes end the open band.
  bool copyBytes(std::size_t& p) {
    if (!flush()) return false;
    band_ = kNoBand;
    const void* next =
        std::memchr(stream_.data + p + 1, stream::PageMarkers::kRasterCommand[0], length_ - p - 1);
    const std::size_t end =
        next ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - stream_.data)
             : length_;
    if (!out_.append(std::span<const std::uint8_t>(stream_.data + p, end - p))) return false;
    p = end;
    return true;
  }

  /// Sends the waiting bits, if any, as a one-row command of the bytes they start
  /// (the last completed with zero bits); the code then restarts on a fresh byte.
  bool flush() {
    if (coding_.waitingBits() == 0) return true;
    // Fewer than one chunk of at most 255 bytes is ever left waiting after a row.
    const std::uint32_t n = coding_.startedBytes();
    const bool ok =
        out_.appendHeader(static_cast<std::uint8_t>(n), 1) && out_.append(coding_.front(n));
    coding_.clear();
    return ok;
  }

  stream::StreamView stream_;
  std::size_t length_;
  std::uint32_t limit_;
  CodingBuffer coding_;
  Output out_;
  std::size_t band_ = kNoBand;  // where the open band's header starts in the output
};

}  // namespace

std::optional<std::size_t> buildCompressedStream(stream::StreamView stream,
                                                 std::uint32_t bandRowLimit,
                                                 std::span<std::uint8_t> coding,
                                                 std::span<std::uint8_t> output) {
  if (coding.size() < kMinCodingBufferSize) return std::nullopt;
  return PageCoder(stream, bandRowLimit, coding, output).run();
}

bool writeCompressedPageWith(stream::StreamView stream, std::uint32_t bandRowLimit,
                             platform::Printer& printer, platform::DebugOutput& debug,
                             BlockSource codingSource, BlockSource outputSource) {
  base::HeapBlock coding = codingSource(kCodingBufferSize);
  if (!coding.ok()) {
    debug.write("HuffmanEncodingBuffer malloc Error \n");
    return false;
  }
  base::HeapBlock output = outputSource(kCompressedOutputSize);
  if (!output.ok()) return false;
  const std::optional<std::size_t> size =
      buildCompressedStream(stream, bandRowLimit, coding.span(), output.span());
  if (!size) return false;
  // The write's own outcome is not examined: the page counts as sent either way.
  (void)printer.write(output.span().first(*size));
  return true;
}

}  // namespace raster
