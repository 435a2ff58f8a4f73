// GS ( k functions, as the ESC/POS command reference numbers them: 0x41 model or
// columns, 0x42 rows, 0x43 module size, 0x44 row height, 0x45 error correction,
// 0x46 options, 0x50 store, 0x51 print, 0x52 transmit size (no effect on paper).
#include "SymbolCommands.h"

#include <cstdio>
#include <string>

namespace preview {
namespace {

constexpr std::uint8_t kModel = 0x41;
constexpr std::uint8_t kColumns = 0x41;
constexpr std::uint8_t kRows = 0x42;
constexpr std::uint8_t kModuleSize = 0x43;
constexpr std::uint8_t kRowHeight = 0x44;
constexpr std::uint8_t kErrorCorrection = 0x45;
constexpr std::uint8_t kOptions = 0x46;
constexpr std::uint8_t kStore = 0x50;
constexpr std::uint8_t kPrint = 0x51;
constexpr std::uint8_t kTransmitSize = 0x52;

std::uint8_t first(std::span<const std::uint8_t> params) {
  return params.empty() ? 0 : params[0];
}

std::string functionName(const char* symbol, std::uint8_t fn, std::size_t offset) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%s function %02X at offset %zu", symbol,
                static_cast<unsigned>(fn), offset);
  return buffer;
}

std::string storedData(std::span<const std::uint8_t> params) {
  // The first parameter byte is m (0x30); the data follows it.
  if (params.size() < 2) return {};
  return std::string(params.begin() + 1, params.end());
}

}  // namespace

bool SymbolCommands::apply(std::uint8_t cn, std::uint8_t fn, std::span<const std::uint8_t> params,
                           std::size_t offset, ParseResult& out) {
  if (cn == kQr) {
    applyQr(fn, params, offset, out);
  } else if (cn == kPdf417) {
    applyPdf417(fn, params, offset, out);
  } else {
    return false;
  }
  return true;
}

void SymbolCommands::applyQr(std::uint8_t fn, std::span<const std::uint8_t> params,
                             std::size_t offset, ParseResult& out) {
  const std::uint8_t n = first(params);
  switch (fn) {
    case kModel:
      qr_.model = n;
      if (n != 0x32) {
        out.messages.push_back("QR code model " + std::to_string(n - 0x30) + " at offset " +
                               std::to_string(offset) + " is drawn as model 2");
      }
      break;
    case kModuleSize:
      qr_.moduleSize = n;
      break;
    case kErrorCorrection:
      if (n >= 0x30 && n <= 0x33) {
        qr_.errorLevel = static_cast<std::uint8_t>(n - 0x30);
      } else {
        out.messages.push_back("QR code error level byte " + std::to_string(n) + " at offset " +
                               std::to_string(offset) + " ignored");
      }
      break;
    case kStore:
      qr_.data = storedData(params);
      qrStored_ = true;
      break;
    case kPrint:
      if (!qrStored_) {
        out.messages.push_back("QR code print without stored data at offset " +
                               std::to_string(offset));
        break;
      }
      qr_.offset = offset;
      out.items.emplace_back(qr_);
      break;
    case kTransmitSize:
      break;
    default:
      out.messages.push_back("not drawn: " + functionName("QR code", fn, offset));
  }
}

void SymbolCommands::applyPdf417(std::uint8_t fn, std::span<const std::uint8_t> params,
                                 std::size_t offset, ParseResult& out) {
  const std::uint8_t n = first(params);
  switch (fn) {
    case kColumns:
      pdf417_.columns = n;
      break;
    case kRows:
      pdf417_.rows = n;
      break;
    case kModuleSize:
      pdf417_.moduleWidth = n;
      break;
    case kRowHeight:
      pdf417_.rowHeight = n;
      break;
    case kErrorCorrection: {
      // m 0x30 selects a level with n 0x30 to 0x38; anything else (a ratio with m 0x31,
      // or the relay's own 30 01) is drawn with the automatic level, as the help says.
      const std::uint8_t level = params.size() >= 2 ? params[1] : 0;
      pdf417_.errorLevel = n == 0x30 && level >= 0x30 && level <= 0x38 ? level - 0x30 : -1;
      break;
    }
    case kOptions:
      pdf417_.truncated = n == 1 || n == 0x31;
      break;
    case kStore:
      pdf417_.data = storedData(params);
      pdf417Stored_ = true;
      break;
    case kPrint:
      if (!pdf417Stored_) {
        out.messages.push_back("PDF417 print without stored data at offset " +
                               std::to_string(offset));
        break;
      }
      pdf417_.offset = offset;
      out.items.emplace_back(pdf417_);
      break;
    case kTransmitSize:
      break;
    default:
      out.messages.push_back("not drawn: " + functionName("PDF417", fn, offset));
  }
}

}  // namespace preview
