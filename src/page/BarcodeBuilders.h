// Turns the data of a barcode placeholder into the ESC/POS commands that print it.
#pragma once

#include <cstdint>
#include <span>

#include "page/PrinterSettings.h"

namespace page {

/// The placeholder's barcodeType byte of the two 2D symbols; every other value names an
/// entry of the barcode table and a 1D barcode.
inline constexpr std::uint8_t kQrCodeType = 9;
inline constexpr std::uint8_t kPdf417Type = 10;

/// The most data characters a symbol may carry; a run of 900 or more is refused.
inline constexpr std::uint32_t kMaxBarcodeData = 899;
/// The most characters the one-byte count of GS k can announce.
inline constexpr std::uint32_t kMaxBarcode1DData = 255;

/// The bytes a builder writes around the data: 1D, QR code and PDF417.
inline constexpr std::uint32_t kBarcode1DFrame = 17;
inline constexpr std::uint32_t kQrCodeFrame = 49;
inline constexpr std::uint32_t kPdf417Frame = 73;

/// Counts the data of a symbol: the leading bytes of `data` from 0x2A ('*') to 0x7D
/// ('}'). The first byte outside that range, or the end of `data`, ends the run.
/// Counting stops at kMaxBarcodeData + 1, the first count that is refused.
[[nodiscard]] std::uint32_t barcodeDataLength(std::span<const std::uint8_t> data);

// Every builder writes its whole command sequence at the start of `out` and returns
// true with `outCount` set to the bytes written and `consumed` to the data characters
// taken. It returns false, writing nothing, with `consumed` 0 and `outCount` untouched,
// when the data runs to 900 characters or more or the sequence does not fit in `out`.
// A missing `out` or `data` (null) gives false before anything, counts included, is
// touched. Parameter bytes come from the job's settings and wrap modulo 256.

/// GS h, GS w, GS f, GS H, then GS k with the data and LF, for the barcode table's
/// entry `barcodeType`; the bar height follows `heightClass` (1..4: 50..200 dots,
/// anything else 250). Data that GS k cannot announce (256 characters or more) and a
/// type without a table entry (above 10) build no command at all: the result is true
/// with `outCount` 0 and the data consumed, so neither a wrong symbol nor the data
/// as text reaches the printer.
[[nodiscard]] bool buildBarcode1D(std::span<std::uint8_t> out, std::uint32_t& outCount,
                                  std::uint8_t barcodeType, std::uint8_t heightClass,
                                  std::span<const std::uint8_t> data, std::uint32_t& consumed,
                                  const page::PrinterSettings& settings);

/// GS ( k for a model 2 QR code: model, module size, error level, store, print, and
/// the request for the symbol's size information.
[[nodiscard]] bool buildQrCode(std::span<std::uint8_t> out, std::uint32_t& outCount,
                               std::span<const std::uint8_t> data, std::uint32_t& consumed,
                               const page::PrinterSettings& settings);

/// GS ( k for a standard PDF417 symbol: automatic columns and rows, module width, row
/// height, error correction, options, store, print, and the size information request.
[[nodiscard]] bool buildPdf417(std::span<std::uint8_t> out, std::uint32_t& outCount,
                               std::span<const std::uint8_t> data, std::uint32_t& consumed,
                               const page::PrinterSettings& settings);

}  // namespace page
