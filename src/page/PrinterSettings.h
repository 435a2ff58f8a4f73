// The printer's settings for one job, as the page processing reads them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace page {

inline constexpr std::size_t kBarcodeTableSize = 180;
inline constexpr std::size_t kBarcodeEntryCount = 11;

/// The parameters of one 1D barcode type, as the builders read them from the table.
struct BarcodeTypeEntry {
  std::uint8_t barcodeSystem = 0;  // low byte; plus 65 is the m byte of GS k
  std::uint8_t moduleWidth = 0;
  std::uint8_t hriPosition = 0;
  std::uint8_t hriFont = 0;
};

struct PrinterSettings {
  std::array<std::uint8_t, kBarcodeTableSize> barcodeTable{};
  std::array<std::uint8_t, 5> twoDCode{};
  std::uint32_t bandRowLimit = 1;
  std::uint32_t highSpeedMode = 0;
  std::array<std::uint8_t, 3> watermarkProp{};
  std::array<std::uint8_t, 2> halftoneProp{};
  std::array<std::uint8_t, 100> firmwareVersion{};

  std::uint8_t qrModuleSize() const { return twoDCode[0]; }
  std::uint8_t qrErrorLevel() const { return twoDCode[1]; }
  std::uint8_t pdf417ModuleWidth() const { return twoDCode[2]; }
  std::uint8_t pdf417RowHeight() const { return twoDCode[3]; }
  std::uint8_t pdf417ErrorMode() const { return twoDCode[4]; }

  /// The entry of `barcodeType`, read at table offsets 8, 17, 18 and 19 + 16 × type.
  /// Types above 10 have no entry in the table and give none.
  std::optional<BarcodeTypeEntry> barcodeEntry(std::uint8_t barcodeType) const;
};

/// Writes the default image of the barcode table (offsets 0 to 147).
void applyBarcodeDefaults(std::array<std::uint8_t, kBarcodeTableSize>& table);

}  // namespace page
