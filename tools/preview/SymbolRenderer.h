// Barcode symbols drawn with zxing-cpp's writers, scaled to the printer's dots: module
// width and bar height for 1D barcodes, module size for QR codes, module width and row
// height for PDF417.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PrintItems.h"

namespace preview {

/// A drawn symbol, one byte per dot, 1 = black, row by row.
struct Bitmap {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> dots;

  bool black(std::uint32_t x, std::uint32_t y) const {
    return dots[std::size_t{y} * width + x] != 0;
  }
};

/// The bars of a 1D barcode and its human-readable text. False with `error` set when the
/// data does not fit the symbology.
bool renderBarcode1D(const Barcode1DItem& item, Bitmap& bars, std::string& hriText,
                     std::string& error);

bool renderQr(const QrItem& item, Bitmap& symbol, std::string& error);

/// Columns, rows and truncation are left to the encoder; `notes` says so when the
/// command asked for them.
bool renderPdf417(const Pdf417Item& item, Bitmap& symbol, std::string& error,
                  std::vector<std::string>& notes);

/// The data of a CODE128 command as it reads: code set selections ({A, {B, {C) and
/// function characters dropped, {{ as a brace, and code set C bytes as two digits each.
/// Data that does not start with a brace is taken as it is.
std::string code128Text(const std::string& data);

/// The name of a 1D barcode system m (0x41 to 0x49), as the preview labels it.
const char* barcodeSystemName(std::uint8_t system);

}  // namespace preview
