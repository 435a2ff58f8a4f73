// The contract every spooler of the POSIX layer keeps: what the runner relies on from the
// Spooler and Printer seams, as one typed suite that each spooler's tests instantiate with
// a harness of their own (DirectorySpoolerTest.cpp, CupsSpoolerTest.cpp).
//
// A harness H is made fresh for each test and gives:
//   bool ready(std::string& why)   false, with the reason, when the spooler can't be had
//                                  here (the test is then skipped)
//   platform::Spooler& spooler()
//   std::u16string printerName()   a printer whose data store holds PRTDATA_IDX_TEST
//                                  14 00 00 00, PRTDATA_IDX_BARCODE_2D 03 01 02 and
//                                  PRTDATA_IDX_BARCODE 00 01 ... B3, and nothing else of
//                                  the runner's values
//   std::u16string missingName()   a name no printer has
//   Bytes document(platform::Printer&)   the bytes of the document this printer ended
//                                  last, once the spooler has them all
//   std::uint32_t printedJob(platform::Printer&)   the id of a job the queue lists as
//                                  printed (0x80); 0 when none could be had
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fakes/Bytes.h"
#include "job/JobRunner.h"
#include "job/SettingsLoading.h"
#include "platform/Spooler.h"
#include "platform/posix/SpoolerRules.h"

namespace spoolercontract {

using fakes::Bytes;

template <typename Harness>
class SpoolerContract : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!harness_.ready(why)) GTEST_SKIP() << why;
    printer_ = spooler().open(harness_.printerName());
    ASSERT_NE(printer_, nullptr) << "open: " << spooler().lastError();
  }

  platform::Spooler& spooler() { return harness_.spooler(); }

  /// The entry of job `id` in the printer's listing; status ~0 when it is not listed.
  platform::JobEntry listed(std::uint32_t id) {
    std::vector<platform::JobEntry> entries;
    EXPECT_TRUE(printer_->enumJobs(entries)) << spooler().lastError();
    for (const platform::JobEntry& e : entries)
      if (e.jobId == id) return e;
    return {id, ~0u, std::nullopt};
  }

  Harness harness_;
  std::unique_ptr<platform::Printer> printer_;
};

TYPED_TEST_SUITE_P(SpoolerContract);

TYPED_TEST_P(SpoolerContract, MissingPrinterFailsTheOpenWithInvalidPrinterName) {
  EXPECT_EQ(this->spooler().open(this->harness_.missingName()), nullptr);
  EXPECT_EQ(this->spooler().lastError(), platform::kErrorInvalidPrinterName);
}

// The runner's two-call query: the size first (a failure with 122), then a block of that
// size. The block is the layout every POSIX spooler shares; the port comes back beside it.
TYPED_TEST_P(SpoolerContract, PrinterInformationComesInTwoCalls) {
  std::uint32_t needed = 0;
  EXPECT_FALSE(this->printer_->queryInfoSize(needed));
  EXPECT_EQ(this->spooler().lastError(), platform::kErrorInsufficientBuffer);

  std::vector<std::byte> block(needed, std::byte{0xEE});
  std::u16string port;
  EXPECT_FALSE(this->printer_->readInfo(std::span(block).first(needed - 1), port));
  EXPECT_EQ(this->spooler().lastError(), platform::kErrorInsufficientBuffer);
  ASSERT_TRUE(this->printer_->readInfo(block, port));
  EXPECT_FALSE(port.empty());

  const std::u16string name = this->harness_.printerName();
  ASSERT_EQ(needed, posix::printerInfoSize(name, port));
  std::vector<std::byte> expected(posix::kPrinterInfoFixedBytes, std::byte{0});
  for (const std::u16string& text : {name, port}) {
    for (char16_t unit : text) {
      expected.push_back(static_cast<std::byte>(unit & 0xFF));
      expected.push_back(static_cast<std::byte>(unit >> 8));
    }
    expected.insert(expected.end(), 2, std::byte{0});
  }
  EXPECT_EQ(block, expected);
}

TYPED_TEST_P(SpoolerContract, PrinterDataFollowsTheGetPrinterDataRules) {
  platform::Printer& printer = *this->printer_;
  // PRTDATA_IDX_TEST is 14 00 00 00: copied whole, too long for 3 bytes.
  Bytes four(4, 0xEE);
  EXPECT_EQ(printer.getData("PRTDATA_IDX_TEST", four), platform::kErrorSuccess);
  EXPECT_EQ(four, fakes::hex("14 00 00 00"));
  Bytes three(3, 0xEE);
  EXPECT_EQ(printer.getData("PRTDATA_IDX_TEST", three), platform::kErrorMoreData);
  EXPECT_EQ(three, Bytes(3, 0xEE));

  // PRTDATA_IDX_BARCODE_2D is 03 01 02: a shorter value fills the first bytes only.
  Bytes five(5, 0xEE);
  EXPECT_EQ(printer.getData("PRTDATA_IDX_BARCODE_2D", five), platform::kErrorSuccess);
  EXPECT_EQ(five, fakes::hex("03 01 02 EE EE"));

  // PRTDATA_IDX_BARCODE is the 180 bytes 00..B3, which fit 180 bytes but not 179.
  Bytes table(180, 0xEE);
  EXPECT_EQ(printer.getData("PRTDATA_IDX_BARCODE", table), platform::kErrorSuccess);
  for (std::size_t i = 0; i < table.size(); ++i) ASSERT_EQ(table[i], i) << "byte " << i;
  Bytes short179(179, 0xEE);
  EXPECT_EQ(printer.getData("PRTDATA_IDX_BARCODE", short179), platform::kErrorMoreData);
  EXPECT_EQ(short179, Bytes(179, 0xEE));

  Bytes missing(8, 0xEE);
  EXPECT_EQ(printer.getData("PRTDATA_IDX_WATERMARK_PROP", missing), platform::kErrorFileNotFound);
  EXPECT_EQ(missing, Bytes(8, 0xEE));
}

TYPED_TEST_P(SpoolerContract, TheRunnersSettingsLoadReadsThePrintersValues) {
  page::PrinterSettings settings;
  job::loadPrinterSettings(*this->printer_, settings);
  EXPECT_EQ(settings.bandRowLimit, 20u);
  EXPECT_EQ(Bytes(settings.twoDCode.begin(), settings.twoDCode.end()),
            fakes::hex("03 01 02 00 00"));
  EXPECT_EQ(settings.barcodeTable[179], 179);
  EXPECT_EQ(settings.highSpeedMode, 0u);  // not stored
}

// A RAW document is the bytes of its writes in call order, page after page, whatever
// they hold and however they are cut up.
TYPED_TEST_P(SpoolerContract, RawDocumentArrivesByteForByte) {
  platform::Printer& printer = *this->printer_;
  Bytes every(256 * 3);
  for (std::size_t i = 0; i < every.size(); ++i) every[i] = static_cast<std::uint8_t>(i);
  const std::vector<Bytes> pages = {fakes::hex("1B 40 00 00 FF 0A"), every, Bytes(300, 0x00),
                                    Bytes(), fakes::hex("1D 56 42 00 00")};
  ASSERT_TRUE(printer.startDoc({u"My Document", std::nullopt, u"RAW"}))
      << this->spooler().lastError();
  for (const Bytes& page : pages) {
    EXPECT_TRUE(printer.startPage());
    for (std::size_t at = 0; at < page.size(); at += 7) {
      EXPECT_TRUE(
          printer.write(std::span(page).subspan(at, std::min<std::size_t>(7, page.size() - at))));
    }
    EXPECT_TRUE(printer.endPage());
  }
  ASSERT_TRUE(printer.endDoc()) << this->spooler().lastError();
  EXPECT_EQ(this->harness_.document(printer),
            fakes::concat({pages[0], pages[1], pages[2], pages[4]}));
}

TYPED_TEST_P(SpoolerContract, PageCallsWithoutADocumentFail) {
  platform::Printer& printer = *this->printer_;
  EXPECT_FALSE(printer.startPage());
  EXPECT_NE(this->spooler().lastError(), platform::kErrorSuccess);
  EXPECT_FALSE(printer.write(fakes::hex("00")));
  EXPECT_NE(this->spooler().lastError(), platform::kErrorSuccess);
  EXPECT_FALSE(printer.endPage());
  EXPECT_NE(this->spooler().lastError(), platform::kErrorSuccess);
  EXPECT_FALSE(printer.endDoc());
  EXPECT_NE(this->spooler().lastError(), platform::kErrorSuccess);
}

// The runner removes the driver's job once the queue lists it as printed; a job that is
// gone can't be deleted again.
TYPED_TEST_P(SpoolerContract, PrintedJobIsRemovedByTheRunner) {
  const std::uint32_t id = this->harness_.printedJob(*this->printer_);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(this->listed(id).status, platform::kJobStatusPrinted);

  EXPECT_TRUE(job::removeFinishedJob(*this->printer_, id, std::nullopt));
  EXPECT_EQ(this->listed(id).status, ~0u);
  EXPECT_FALSE(this->printer_->deleteJob({id, platform::kJobStatusPrinted, std::nullopt}));
  EXPECT_EQ(this->spooler().lastError(), platform::kErrorInvalidParameter);
}

// As GetLastError, the error belongs to the thread whose call failed.
TYPED_TEST_P(SpoolerContract, LastErrorBelongsToTheThread) {
  std::uint32_t needed = 0;
  EXPECT_FALSE(this->printer_->queryInfoSize(needed));
  std::uint32_t otherThread = 0;
  std::thread([&] {
    EXPECT_EQ(this->spooler().open(this->harness_.missingName()), nullptr);
    otherThread = this->spooler().lastError();
  }).join();
  EXPECT_EQ(otherThread, platform::kErrorInvalidPrinterName);
  EXPECT_EQ(this->spooler().lastError(), platform::kErrorInsufficientBuffer);
}

REGISTER_TYPED_TEST_SUITE_P(SpoolerContract, MissingPrinterFailsTheOpenWithInvalidPrinterName,
                            PrinterInformationComesInTwoCalls,
                            PrinterDataFollowsTheGetPrinterDataRules,
                            TheRunnersSettingsLoadReadsThePrintersValues,
                            RawDocumentArrivesByteForByte, PageCallsWithoutADocumentFail,
                            PrintedJobIsRemovedByTheRunner, LastErrorBelongsToTheThread);

}  // namespace spoolercontract
