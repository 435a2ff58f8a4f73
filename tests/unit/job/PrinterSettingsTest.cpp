#include "job/SettingsLoading.h"

#include <gtest/gtest.h>

#include "fakes/Bytes.h"
#include "fakes/FakeSpooler.h"

namespace {

using fakes::Bytes;
using fakes::hex;

class PrinterSettingsTest : public ::testing::Test {
 protected:
  page::PrinterSettings load(char16_t model = u'P') {
    auto printer = spooler.open(u"P");
    page::PrinterSettings settings;
    job::loadPrinterSettings(*printer, settings);
    job::decideHighSpeedMode(model, settings);
    job::readFirmwareVersion(*printer, settings);
    return settings;
  }
  fakes::FakeSpooler spooler;
  fakes::FakePrinterState& state = spooler.addPrinter(u"P");
};

TEST_F(PrinterSettingsTest, MissingValuesGiveTheirDefaultsInTheReadOrder) {
  const page::PrinterSettings s = load();
  Bytes table(s.barcodeTable.begin(), s.barcodeTable.end());
  EXPECT_EQ(Bytes(table.begin(), table.begin() + 32),
            hex("0A 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00"
                "A2 03 02 00 01 00 00 00 01 00 00 00 01 00 00 00"));
  EXPECT_EQ(Bytes(table.begin() + 128, table.begin() + 148),
            hex("A2 03 02 00 08 00 00 00 08 00 00 00 01 00 00 00 A2 03 02 00"));
  EXPECT_EQ(Bytes(table.begin() + 148, table.end()), Bytes(32, 0));
  EXPECT_EQ(Bytes(s.twoDCode.begin(), s.twoDCode.end()), hex("02 00 01 01 00"));
  EXPECT_EQ(s.bandRowLimit, 1u);
  EXPECT_EQ(s.highSpeedMode, 0u);
  EXPECT_EQ(s.watermarkProp[0] | s.halftoneProp[0] | s.firmwareVersion[0], 0);
  EXPECT_EQ(
      spooler.calls,
      (std::vector<std::string>{
          "OpenPrinter", "GetPrinterData:PRTDATA_IDX_BARCODE",
          "GetPrinterData:PRTDATA_IDX_BARCODE_2D", "GetPrinterData:PRTDATA_IDX_TEST",
          "GetPrinterData:PRTDATA_IDX_HIGH_SPEED_MODE", "GetPrinterData:PRTDATA_IDX_WATERMARK_PROP",
          "GetPrinterData:PRTDATA_IDX_HALFTONE_PROP", "GetPrinterData:TIVORAN_FIRMWARE_VERSION",
          "ClosePrinter"}));
  // Default entries: type k has system k, width 3, HRI below (2), font 0.
  const auto entry = s.barcodeEntry(8);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->barcodeSystem, 8);
  EXPECT_EQ(entry->moduleWidth, 3);
  EXPECT_EQ(entry->hriPosition, 2);
  EXPECT_EQ(entry->hriFont, 0);
  EXPECT_FALSE(s.barcodeEntry(11).has_value());
}

TEST_F(PrinterSettingsTest, BandRowLimitRules) {
  struct Case {
    Bytes stored;
    std::uint32_t expected;
  };
  for (const Case& c :
       {Case{hex("00 00 00 00"), 20}, Case{hex("05 00 00 00"), 5}, Case{hex("0C"), 12},
        Case{hex("00 01"), 256}, Case{hex("01 02 03 04 05"), 1}}) {
    state.data["PRTDATA_IDX_TEST"] = c.stored;
    EXPECT_EQ(load().bandRowLimit, c.expected) << fakes::toHex(c.stored);
  }
}

TEST_F(PrinterSettingsTest, ShortValuesFillTheFirstBytesAndLongOnesFail) {
  state.data["PRTDATA_IDX_BARCODE"] = Bytes(100, 0x11);
  state.data["PRTDATA_IDX_BARCODE_2D"] = hex("09 03");
  page::PrinterSettings s = load();
  EXPECT_EQ(s.barcodeTable[99], 0x11);
  EXPECT_EQ(s.barcodeTable[100], 0x00);  // no defaults applied
  EXPECT_EQ(s.barcodeTable[128], 0x00);
  EXPECT_EQ(Bytes(s.twoDCode.begin(), s.twoDCode.end()), hex("09 03 00 00 00"));

  state.data["PRTDATA_IDX_BARCODE"] = Bytes(181, 0x11);
  state.data["PRTDATA_IDX_BARCODE_2D"] = Bytes(6, 0x22);
  s = load();
  EXPECT_EQ(s.barcodeTable[0], 0x0A);  // too long: the defaults
  EXPECT_EQ(Bytes(s.twoDCode.begin(), s.twoDCode.end()), hex("02 00 01 01 00"));
}

TEST_F(PrinterSettingsTest, FailedReadLeavesTheFieldUnchanged) {
  state.data["PRTDATA_IDX_TEST"] = hex("07 00 00 00");
  spooler.failOn("GetPrinterData", 3);  // the third read is PRTDATA_IDX_TEST
  EXPECT_EQ(load().bandRowLimit, 1u);
}

TEST_F(PrinterSettingsTest, HighSpeedDecision) {
  state.data["PRTDATA_IDX_HIGH_SPEED_MODE"] = hex("01 00 00 00");
  EXPECT_EQ(load(u'P').highSpeedMode, 1u);
  EXPECT_EQ(load(u'T').highSpeedMode, 0u);
  EXPECT_EQ(load(u'p').highSpeedMode, 0u);

  state.data["PRTDATA_IDX_WATERMARK_PROP"] = hex("01 00 00");
  EXPECT_EQ(load().highSpeedMode, 0u);
  state.data["PRTDATA_IDX_WATERMARK_PROP"] = hex("02 01 01");
  EXPECT_EQ(load().highSpeedMode, 1u);
  state.data["PRTDATA_IDX_HALFTONE_PROP"] = hex("01 00");
  EXPECT_EQ(load().highSpeedMode, 0u);
  state.data.erase("PRTDATA_IDX_HALFTONE_PROP");

  state.data["PRTDATA_IDX_HIGH_SPEED_MODE"] = hex("02 00 00 00");
  EXPECT_EQ(load().highSpeedMode, 2u);
}

TEST_F(PrinterSettingsTest, FirmwareVersionIsReadLast) {
  state.data["TIVORAN_FIRMWARE_VERSION"] = {'P', '1', '.', '0'};
  EXPECT_EQ(load().firmwareVersion[0], 'P');
}

}  // namespace
