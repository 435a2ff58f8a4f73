#include "job/SettingsLoading.h"

#include <cstring>
#include <span>

#include "base/LittleEndian.h"

namespace job {
namespace {

template <std::size_t N>
bool readValue(platform::Printer& printer, const char* name, std::array<std::uint8_t, N>& field) {
  return printer.getData(name, std::span<std::uint8_t>(field)) == platform::kErrorSuccess;
}

/// Reads a little-endian 32-bit value; a shorter stored value fills the low bytes.
void readU32(platform::Printer& printer, const char* name, std::uint32_t& value) {
  std::array<std::uint8_t, 4> bytes{};
  base::writeU32(bytes.data(), value);
  (void)readValue(printer, name, bytes);
  value = base::readU32(bytes.data());
}

}  // namespace

void loadPrinterSettings(platform::Printer& printer, PrinterSettings& settings) {
  if (!readValue(printer, kValueBarcode, settings.barcodeTable)) {
    page::applyBarcodeDefaults(settings.barcodeTable);
  }
  if (!readValue(printer, kValueBarcode2D, settings.twoDCode)) {
    settings.twoDCode = {0x02, 0x00, 0x01, 0x01, 0x00};
  }
  // A missing value keeps the initial 1 (no merging); only a stored 0 gives 20.
  readU32(printer, kValueBandRows, settings.bandRowLimit);
  if (settings.bandRowLimit == 0) settings.bandRowLimit = 20;
  readU32(printer, kValueHighSpeed, settings.highSpeedMode);
  (void)readValue(printer, kValueWatermark, settings.watermarkProp);
  (void)readValue(printer, kValueHalftone, settings.halftoneProp);
}

void decideHighSpeedMode(char16_t modelFirstUnit, PrinterSettings& settings) {
  if (modelFirstUnit != u'P') settings.highSpeedMode = 0;
  if (settings.watermarkProp[0] == 1 || settings.halftoneProp[0] == 1) settings.highSpeedMode = 0;
}

void readFirmwareVersion(platform::Printer& printer, PrinterSettings& settings) {
  (void)readValue(printer, kValueFirmware, settings.firmwareVersion);
}

}  // namespace job
