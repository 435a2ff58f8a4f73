// Shared helpers of the page tests: default settings, placeholders, and a started page
// on the fake spooler whose writes the tests read back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeSpooler.h"
#include "page/PageProcessor.h"
#include "page/PrinterSettings.h"

namespace pagetest {

using fakes::Bytes;

/// The settings of a printer that stores none of its values.
inline page::PrinterSettings defaultSettings() {
  page::PrinterSettings settings;
  page::applyBarcodeDefaults(settings.barcodeTable);
  settings.twoDCode = {0x02, 0x00, 0x01, 0x01, 0x00};
  return settings;
}

/// The 14-byte placeholder marker followed by `barcodeType`.
inline Bytes placeholder(std::uint8_t barcodeType) {
  Bytes b = fakes::hex("98 07 98 07 98 07 98 07 98 07 98 07 98 07");
  b.push_back(barcodeType);
  return b;
}

/// `count` data characters cycling through '0'..'9'.
inline Bytes digits(std::size_t count) {
  Bytes b(count);
  for (std::size_t i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>('0' + i % 10);
  return b;
}

inline Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

/// A fake printer with a RAW document and a page started, and one job's page state.
struct PrinterPage {
  PrinterPage() {
    (void)printer->startDoc({u"My Document", std::nullopt, u"RAW"});
    (void)printer->startPage();
  }

  /// Every write of the document so far, in order.
  const std::vector<Bytes>& writes() const { return state->documents.at(0).writes; }
  Bytes bytes() const { return state->documents.at(0).bytes(); }

  /// Loads `stream` as a page file and runs it through processPage.
  page::PageBuffer process(const Bytes& stream, std::uint8_t pageState = 2) {
    page::PageBuffer buffer = page::PageBuffer::fromFileBytes(fakes::pageFile(stream, pageState));
    output.reset();
    page::processPage(buffer, job);
    return buffer;
  }

  fakes::FakeSpooler spooler;
  fakes::FakePrinterState* state = &spooler.addPrinter(u"TM-Test");
  std::unique_ptr<platform::Printer> printer = spooler.open(u"TM-Test");
  fakes::FakeDebugOutput debug;
  page::PrinterSettings settings = defaultSettings();
  page::OutputBuffer output = page::OutputBuffer::allocate();
  page::PageJob job{0, 0, settings, output, 0, *printer, debug};
};

}  // namespace pagetest
