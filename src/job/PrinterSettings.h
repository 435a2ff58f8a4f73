// The printer's settings for one job, read from the printer's data store.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/Spooler.h"

namespace job {

inline constexpr std::size_t kBarcodeTableSize = 180;
inline constexpr std::size_t kBarcodeEntryCount = 11;

/// The printer-data value names, as the driver stores them.
inline constexpr char kValueBarcode[] = "PRTDATA_IDX_BARCODE";
inline constexpr char kValueBarcode2D[] = "PRTDATA_IDX_BARCODE_2D";
inline constexpr char kValueBandRows[] = "PRTDATA_IDX_TEST";
inline constexpr char kValueHighSpeed[] = "PRTDATA_IDX_HIGH_SPEED_MODE";
inline constexpr char kValueWatermark[] = "PRTDATA_IDX_WATERMARK_PROP";
inline constexpr char kValueHalftone[] = "PRTDATA_IDX_HALFTONE_PROP";
inline constexpr char kValueFirmware[] = "TIVORAN_FIRMWARE_VERSION";

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

/// Reads the six values through the printer, each with its rule for a failed read.
/// Always succeeds.
bool loadPrinterSettings(platform::Printer& printer, PrinterSettings& settings);

/// Rewrites highSpeedMode with its effective value for the job.
void decideHighSpeedMode(char16_t modelFirstUnit, PrinterSettings& settings);

/// Reads the firmware version string; its result is not examined.
void readFirmwareVersion(platform::Printer& printer, PrinterSettings& settings);

}  // namespace job
