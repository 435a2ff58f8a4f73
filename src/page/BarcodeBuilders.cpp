#include "page/BarcodeBuilders.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace page {
namespace {

constexpr std::uint8_t kFirstDataByte = 0x2A;  // '*'
constexpr std::uint8_t kLastDataByte = 0x7D;   // '}'
constexpr std::uint8_t kQrCode = 0x31;         // cn of GS ( k for QR code
constexpr std::uint8_t kPdf417 = 0x30;         // cn of GS ( k for PDF417

/// Writes command bytes forward from a position that the builder has checked holds
/// room for the whole sequence.
class CommandWriter {
 public:
  explicit CommandWriter(std::uint8_t* out) : out_(out) {}

  void put(std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) out_[written_++] = b;
  }
  void put(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) std::memcpy(out_ + written_, bytes.data(), bytes.size());
    written_ += static_cast<std::uint32_t>(bytes.size());
  }

  /// GS ( k pL pH cn fn params: one function of a 2D symbol; pL pH count cn, fn and
  /// the parameters.
  void symbolFunction(std::uint8_t cn, std::uint8_t fn,
                      std::initializer_list<std::uint8_t> params) {
    head(params.size() + 2, cn, fn);
    put(params);
  }
  /// GS ( k pL pH cn 50 30 d1..dk: stores the symbol's data (pL pH = k + 3).
  void storeData(std::uint8_t cn, std::span<const std::uint8_t> data) {
    head(data.size() + 3, cn, 0x50);
    put({0x30});
    put(data);
  }

  [[nodiscard]] std::uint32_t written() const { return written_; }

 private:
  void head(std::size_t count, std::uint8_t cn, std::uint8_t fn) {
    put({0x1D, 0x28, 0x6B, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
         cn, fn});
  }

  std::uint8_t* out_;
  std::uint32_t written_ = 0;
};

/// The common entry of the builders: the data count when the symbol can be built into
/// `out` (`frame` bytes plus the data), nothing otherwise.
bool admit(std::span<std::uint8_t> out, std::span<const std::uint8_t> data, std::uint32_t frame,
           std::uint32_t& n) {
  n = barcodeDataLength(data);
  return n <= kMaxBarcodeData && out.size() >= std::size_t{n} + frame;
}

/// Bar height in dots for a height class: 1..4 give 50..200, anything else 250.
std::uint8_t barHeight(std::uint8_t heightClass) {
  switch (heightClass) {
    case 1:
      return 50;
    case 2:
      return 100;
    case 3:
      return 150;
    case 4:
      return 200;
    default:
      return 250;
  }
}

std::uint8_t plus(std::uint8_t value, std::uint8_t add) {
  return static_cast<std::uint8_t>(value + add);
}

}  // namespace

std::uint32_t barcodeDataLength(std::span<const std::uint8_t> data) {
  const std::size_t limit = std::min<std::size_t>(data.size(), kMaxBarcodeData + 1);
  std::uint32_t n = 0;
  while (n < limit && data[n] >= kFirstDataByte && data[n] <= kLastDataByte) ++n;
  return n;
}

bool buildBarcode1D(std::span<std::uint8_t> out, std::uint32_t& outCount, std::uint8_t barcodeType,
                    std::uint8_t heightClass, std::span<const std::uint8_t> data,
                    std::uint32_t& consumed, const job::PrinterSettings& settings) {
  if (out.data() == nullptr || data.data() == nullptr) return false;
  consumed = 0;
  const std::uint32_t n = barcodeDataLength(data);
  if (n > kMaxBarcodeData) return false;
  const std::optional<job::BarcodeTypeEntry> entry = settings.barcodeEntry(barcodeType);
  if (!entry || n > kMaxBarcode1DData) {
    // No symbol can carry this: the placeholder goes, and its data with it.
    outCount = 0;
    consumed = n;
    return true;
  }
  if (out.size() < std::size_t{n} + kBarcode1DFrame) return false;

  CommandWriter w(out.data());
  w.put({0x1D, 0x68, barHeight(heightClass)});  // GS h: bar height
  w.put({0x1D, 0x77, entry->moduleWidth});      // GS w: module width
  w.put({0x1D, 0x66, entry->hriFont});          // GS f: font of the readable text
  w.put({0x1D, 0x48, entry->hriPosition});      // GS H: position of the readable text
  w.put({0x1D, 0x6B, plus(entry->barcodeSystem, 65), static_cast<std::uint8_t>(n)});  // GS k
  w.put(data.first(n));
  w.put({0x0A});
  outCount = w.written();
  consumed = n;
  return true;
}

bool buildQrCode(std::span<std::uint8_t> out, std::uint32_t& outCount,
                 std::span<const std::uint8_t> data, std::uint32_t& consumed,
                 const job::PrinterSettings& settings) {
  if (out.data() == nullptr || data.data() == nullptr) return false;
  consumed = 0;
  std::uint32_t n = 0;
  if (!admit(out, data, kQrCodeFrame, n)) return false;

  CommandWriter w(out.data());
  w.symbolFunction(kQrCode, 0x41, {0x32, 0x00});                           // model 2
  w.symbolFunction(kQrCode, 0x43, {plus(settings.qrModuleSize(), 1)});     // module size
  w.symbolFunction(kQrCode, 0x45, {plus(settings.qrErrorLevel(), 0x30)});  // error level
  w.storeData(kQrCode, data.first(n));
  w.symbolFunction(kQrCode, 0x51, {0x30});  // print the stored symbol
  w.symbolFunction(kQrCode, 0x52, {0x30});  // transmit its size information
  outCount = w.written();
  consumed = n;
  return true;
}

bool buildPdf417(std::span<std::uint8_t> out, std::uint32_t& outCount,
                 std::span<const std::uint8_t> data, std::uint32_t& consumed,
                 const job::PrinterSettings& settings) {
  if (out.data() == nullptr || data.data() == nullptr) return false;
  consumed = 0;
  std::uint32_t n = 0;
  if (!admit(out, data, kPdf417Frame, n)) return false;

  CommandWriter w(out.data());
  w.symbolFunction(kPdf417, 0x41, {0x00});                                          // columns: auto
  w.symbolFunction(kPdf417, 0x42, {0x00});                                          // rows: auto
  w.symbolFunction(kPdf417, 0x43, {plus(settings.pdf417ModuleWidth(), 2)});         // module width
  w.symbolFunction(kPdf417, 0x44, {plus(settings.pdf417RowHeight(), 2)});           // row height
  w.symbolFunction(kPdf417, 0x45, {plus(settings.pdf417ErrorMode(), 0x30), 0x01});  // error level
  w.symbolFunction(kPdf417, 0x46, {0x00});  // options: standard PDF417
  w.storeData(kPdf417, data.first(n));
  w.symbolFunction(kPdf417, 0x51, {0x30});  // print the stored symbol
  w.symbolFunction(kPdf417, 0x52, {0x30});  // transmit its size information
  outCount = w.written();
  consumed = n;
  return true;
}

}  // namespace page
