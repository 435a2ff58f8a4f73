#include "page/PrinterSettings.h"

#include <cstring>

namespace page {

std::optional<BarcodeTypeEntry> PrinterSettings::barcodeEntry(std::uint8_t barcodeType) const {
  if (barcodeType >= kBarcodeEntryCount) return std::nullopt;
  const std::size_t base = std::size_t{16} * barcodeType;
  return BarcodeTypeEntry{barcodeTable[8 + base], barcodeTable[17 + base], barcodeTable[18 + base],
                          barcodeTable[19 + base]};
}

void applyBarcodeDefaults(std::array<std::uint8_t, kBarcodeTableSize>& table) {
  // Word 0 is 10; entry k (k = 0..8) at offset 4 + 16k is {k, k, 1, 162, 3, 2, 0}.
  // Entries 9 and 10 (offsets 148..179) are left as they are.
  std::memset(table.data(), 0, 148);
  table[0] = 10;
  for (std::uint8_t k = 0; k <= 8; ++k) {
    std::uint8_t* entry = table.data() + 4 + std::size_t{16} * k;
    entry[0] = k;
    entry[4] = k;
    entry[8] = 1;
    entry[12] = 0xA2;
    entry[13] = 3;
    entry[14] = 2;
    entry[15] = 0;
  }
}

}  // namespace page
