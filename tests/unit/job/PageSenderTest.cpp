#include "job/PageSender.h"

#include <gtest/gtest.h>

#include "unit/page/PageTestSupport.h"

namespace {

using fakes::Bytes;
using fakes::hex;
using pagetest::text;

TEST(PageSender, SettingsLoadInTheRunnersOrder) {
  pagetest::PrinterPage p;
  p.state->data[job::kValueHighSpeed] = hex("01 00 00 00");
  p.state->data[job::kValueFirmware] = text("P1.02");
  p.state->data[job::kValueBandRows] = hex("00");
  for (auto [model, mode] : {std::pair{u'P', 1u}, {u'T', 0u}, {u'\0', 0u}}) {
    page::PrinterSettings settings;
    p.spooler.calls.clear();
    job::loadJobSettings(*p.printer, model, settings);
    EXPECT_EQ(settings.highSpeedMode, mode);
    EXPECT_EQ(settings.firmwareVersion[0], 'P');
    EXPECT_EQ(settings.bandRowLimit, 20u);
    EXPECT_EQ(settings.twoDCode, (std::array<std::uint8_t, 5>{2, 0, 1, 1, 0}));
    const std::vector<std::string> expected{
        "GetPrinterData:PRTDATA_IDX_BARCODE",        "GetPrinterData:PRTDATA_IDX_BARCODE_2D",
        "GetPrinterData:PRTDATA_IDX_TEST",           "GetPrinterData:PRTDATA_IDX_HIGH_SPEED_MODE",
        "GetPrinterData:PRTDATA_IDX_WATERMARK_PROP", "GetPrinterData:PRTDATA_IDX_HALFTONE_PROP",
        "GetPrinterData:TIVORAN_FIRMWARE_VERSION"};
    EXPECT_EQ(p.spooler.calls, expected);
  }
}

TEST(PageSender, PagesUntilTheLastCloseTheDocumentWithOneZero) {
  pagetest::PrinterPage p;
  auto load = [](const Bytes& stream, std::uint8_t state) {
    return page::PageBuffer::fromFileBytes(fakes::pageFile(stream, state));
  };
  p.output.outLen = 1234;  // left over: every page starts the buffer afresh
  page::PageBuffer first = load(text("first page text!"), 0);
  page::PageBuffer middle = load(text("middle page text"), 255);
  page::PageBuffer last = load(text("the last page..."), 2);
  EXPECT_FALSE(job::sendLoadedPage(first, p.job));
  EXPECT_FALSE(job::sendLoadedPage(middle, p.job));
  EXPECT_TRUE(job::sendLoadedPage(last, p.job));
  const std::vector<std::string> lines{"pData->State : 0x00000000 \n",
                                       "pData->State : 0x000000ff \n"};
  EXPECT_EQ(p.debug.lines, lines);
  const std::vector<Bytes> writes{text("first page text!"), text("middle page text"),
                                  text("the last page..."), hex("00")};
  EXPECT_EQ(p.writes(), writes);
}

}  // namespace
