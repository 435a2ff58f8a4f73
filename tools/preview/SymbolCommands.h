// The printer's two-dimensional symbol functions (GS ( k) for QR codes and PDF417: the
// settings they store, and the symbol they print.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "StreamParser.h"

namespace preview {

class SymbolCommands {
 public:
  static constexpr std::uint8_t kPdf417 = 0x30;  ///< cn of the PDF417 functions
  static constexpr std::uint8_t kQr = 0x31;      ///< cn of the QR code functions

  /// Back to the printer's defaults (ESC @).
  void reset() { *this = SymbolCommands(); }

  /// Applies function `fn` of symbol `cn` with the bytes after fn. A print function adds
  /// the stored symbol to `out.items`; anything not drawn adds a line to `out.messages`.
  /// False when cn is neither QR code nor PDF417.
  bool apply(std::uint8_t cn, std::uint8_t fn, std::span<const std::uint8_t> params,
             std::size_t offset, ParseResult& out);

 private:
  void applyQr(std::uint8_t fn, std::span<const std::uint8_t> params, std::size_t offset,
               ParseResult& out);
  void applyPdf417(std::uint8_t fn, std::span<const std::uint8_t> params, std::size_t offset,
                   ParseResult& out);

  QrItem qr_;
  bool qrStored_ = false;
  Pdf417Item pdf417_;
  bool pdf417Stored_ = false;
};

}  // namespace preview
