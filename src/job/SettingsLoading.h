// Loading a printer's settings for one job from the printer's data store.
#pragma once

#include "page/PrinterSettings.h"
#include "platform/Spooler.h"

namespace job {

using page::PrinterSettings;

/// The printer-data value names, as the driver stores them.
inline constexpr char kValueBarcode[] = "PRTDATA_IDX_BARCODE";
inline constexpr char kValueBarcode2D[] = "PRTDATA_IDX_BARCODE_2D";
inline constexpr char kValueBandRows[] = "PRTDATA_IDX_TEST";
inline constexpr char kValueHighSpeed[] = "PRTDATA_IDX_HIGH_SPEED_MODE";
inline constexpr char kValueWatermark[] = "PRTDATA_IDX_WATERMARK_PROP";
inline constexpr char kValueHalftone[] = "PRTDATA_IDX_HALFTONE_PROP";
inline constexpr char kValueFirmware[] = "TIVORAN_FIRMWARE_VERSION";

/// Reads the six values through the printer, each with its rule for a failed read.
/// A value that cannot be read keeps its rule's default, so loading cannot fail.
void loadPrinterSettings(platform::Printer& printer, PrinterSettings& settings);

/// Rewrites highSpeedMode with its effective value for the job.
void decideHighSpeedMode(char16_t modelFirstUnit, PrinterSettings& settings);

/// Reads the firmware version string; its result is not examined.
void readFirmwareVersion(platform::Printer& printer, PrinterSettings& settings);

}  // namespace job
