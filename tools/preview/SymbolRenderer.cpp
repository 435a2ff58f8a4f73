// zxing-cpp's MultiFormatWriter encodes each symbol at one pixel per module without a
// quiet zone; the dots are laid out here. The writer reports bad data by throwing, so
// every call is wrapped and the message handed back as an error.
#include "SymbolRenderer.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <algorithm>
#include <exception>

namespace preview {
namespace {

struct SystemEntry {
  std::uint8_t system;
  ZXing::BarcodeFormat format;
  const char* name;
};

constexpr SystemEntry kSystems[] = {
    {0x41, ZXing::BarcodeFormat::UPCA, "UPC-A"},
    {0x42, ZXing::BarcodeFormat::UPCE, "UPC-E"},
    {0x43, ZXing::BarcodeFormat::EAN13, "EAN-13"},
    {0x44, ZXing::BarcodeFormat::EAN8, "EAN-8"},
    {0x45, ZXing::BarcodeFormat::Code39, "CODE39"},
    {0x46, ZXing::BarcodeFormat::ITF, "ITF"},
    {0x47, ZXing::BarcodeFormat::Codabar, "CODABAR"},
    {0x48, ZXing::BarcodeFormat::Code93, "CODE93"},
    {0x49, ZXing::BarcodeFormat::Code128, "CODE128"},
};

// zxing-cpp's QR error levels: 1 L, 3 M, 5 Q, 7 H on its 0 to 8 scale.
constexpr int kQrEccLevels[] = {1, 3, 5, 7};

// The PDF417 writer lays every row out four pixels high.
constexpr int kPdf417RowPixels = 4;

// Each byte as the character of the same value, so that the symbol carries the bytes.
std::wstring latin1(const std::string& bytes) {
  std::wstring wide;
  for (const char c : bytes) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

bool encode(const ZXing::MultiFormatWriter& writer, const std::string& data, int width, int height,
            ZXing::BitMatrix& matrix, std::string& error) {
  try {
    matrix = writer.encode(latin1(data), width, height);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "the barcode writer failed";
  }
  return false;
}

/// Each module of `matrix` as moduleWidth x moduleHeight dots, taking every `rowStep`-th
/// matrix row.
Bitmap scale(const ZXing::BitMatrix& matrix, std::uint32_t moduleWidth, std::uint32_t moduleHeight,
             int rowStep) {
  Bitmap bitmap;
  const auto columns = static_cast<std::uint32_t>(matrix.width());
  const auto rows = static_cast<std::uint32_t>(matrix.height() / rowStep);
  bitmap.width = columns * moduleWidth;
  bitmap.height = rows * moduleHeight;
  bitmap.dots.assign(std::size_t{bitmap.width} * bitmap.height, 0);
  for (std::uint32_t y = 0; y < bitmap.height; ++y) {
    const int matrixRow = static_cast<int>(y / moduleHeight) * rowStep;
    for (std::uint32_t x = 0; x < bitmap.width; ++x) {
      if (matrix.get(static_cast<int>(x / moduleWidth), matrixRow)) {
        bitmap.dots[std::size_t{y} * bitmap.width + x] = 1;
      }
    }
  }
  return bitmap;
}

/// The writer turns a PDF417 symbol that is taller than wide on its side unless asked
/// for a tall picture. Upright, every row is kPdf417RowPixels identical matrix rows.
bool isUpright(const ZXing::BitMatrix& matrix) {
  if (matrix.width() == 0 || matrix.height() == 0 || matrix.height() % kPdf417RowPixels != 0) {
    return false;
  }
  for (int y = 0; y < matrix.height(); ++y) {
    const int first = y - y % kPdf417RowPixels;
    for (int x = 0; x < matrix.width(); ++x) {
      if (matrix.get(x, y) != matrix.get(x, first)) return false;
    }
  }
  return true;
}

// ESC/POS data forms that zxing-cpp's writers take differently.
std::string writerData(std::uint8_t system, const std::string& data) {
  switch (system) {
    case 0x42:  // UPC-E: six digits stand for number system 0
      return data.size() == 6 ? "0" + data : data;
    case 0x45: {  // CODE39: the writer adds the start and stop characters itself
      std::string text = data;
      if (!text.empty() && text.front() == '*') text.erase(0, 1);
      if (!text.empty() && text.back() == '*') text.pop_back();
      return text;
    }
    case 0x49:
      return code128Text(data);
    default:
      return data;
  }
}

}  // namespace

const char* barcodeSystemName(std::uint8_t system) {
  for (const SystemEntry& entry : kSystems) {
    if (entry.system == system) return entry.name;
  }
  return "unknown barcode";
}

std::string code128Text(const std::string& data) {
  if (data.empty() || data[0] != '{') return data;
  std::string text;
  char codeSet = 'B';
  for (std::size_t i = 0; i < data.size(); ++i) {
    const char c = data[i];
    if (c == '{' && i + 1 < data.size()) {
      const char next = data[++i];
      if (next == 'A' || next == 'B' || next == 'C') codeSet = next;
      if (next == '{') text += '{';
      continue;  // {1 to {4 (function characters) and {S (shift) print nothing
    }
    if (codeSet == 'C') {
      const auto pair = static_cast<unsigned char>(c);
      text += static_cast<char>('0' + pair / 10 % 10);
      text += static_cast<char>('0' + pair % 10);
    } else {
      text += c;
    }
  }
  return text;
}

bool renderBarcode1D(const Barcode1DItem& item, Bitmap& bars, std::string& hriText,
                     std::string& error) {
  const auto entry = std::find_if(std::begin(kSystems), std::end(kSystems),
                                  [&](const SystemEntry& e) { return e.system == item.system; });
  if (entry == std::end(kSystems)) {
    error = "barcode system " + std::to_string(item.system) + " is not drawn";
    return false;
  }
  hriText = writerData(item.system, item.data);
  ZXing::BitMatrix matrix;
  const auto writer = ZXing::MultiFormatWriter(entry->format).setMargin(0);
  if (!encode(writer, hriText, 0, 0, matrix, error)) return false;
  bars = scale(matrix, std::max(item.moduleWidth, 1u), std::max(item.height, 1u),
               std::max(matrix.height(), 1));
  return true;
}

bool renderQr(const QrItem& item, Bitmap& symbol, std::string& error) {
  ZXing::BitMatrix matrix;
  const auto writer = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                          .setMargin(0)
                          .setEncoding(ZXing::CharacterSet::ISO8859_1)
                          .setEccLevel(kQrEccLevels[std::min<std::uint8_t>(item.errorLevel, 3)]);
  if (!encode(writer, item.data, 0, 0, matrix, error)) return false;
  const std::uint32_t module = std::max(item.moduleSize, 1u);
  symbol = scale(matrix, module, module, 1);
  return true;
}

bool renderPdf417(const Pdf417Item& item, Bitmap& symbol, std::string& error,
                  std::vector<std::string>& notes) {
  if (item.columns != 0 || item.rows != 0 || item.truncated) {
    notes.push_back("PDF417 at offset " + std::to_string(item.offset) +
                    ": columns, rows and truncation are left to the encoder");
  }
  auto writer = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::PDF417)
                    .setMargin(0)
                    .setEncoding(ZXing::CharacterSet::ISO8859_1);
  if (item.errorLevel >= 0) writer.setEccLevel(item.errorLevel);
  ZXing::BitMatrix matrix;
  if (!encode(writer, item.data, 0, 0, matrix, error)) return false;
  if (!isUpright(matrix) && !encode(writer, item.data, 0, 1, matrix, error)) return false;
  if (!isUpright(matrix)) {
    error = "the PDF417 writer gave an unexpected layout";
    return false;
  }
  const std::uint32_t module = std::max(item.moduleWidth, 1u);
  symbol = scale(matrix, module, module * std::max(item.rowHeight, 1u), kPdf417RowPixels);
  return true;
}

}  // namespace preview
