// Fuzzes the page processing with random settings: cut fix-ups, classification, the
// band merger, the compressed stream and the text path with its barcode builders.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "fakes/FakeDebugOutput.h"
#include "page/PageBuffer.h"
#include "page/PageProcessor.h"
#include "page/PrinterSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static page::OutputBuffer output = page::OutputBuffer::allocate();
  if (!output.ok()) return 0;
  fuzz::InputReader in(data, size);
  page::PrinterSettings settings;
  if (in.byte() & 1) page::applyBarcodeDefaults(settings.barcodeTable);
  for (std::uint8_t& b : settings.twoDCode) b = in.byte();
  settings.bandRowLimit = in.u32();
  settings.highSpeedMode = in.byte() & 3;
  settings.firmwareVersion[0] = in.byte();
  const char16_t model = in.byte() & 1 ? u'P' : u'T';
  const std::uint32_t cutMode = in.byte() & 1 ? 4 : 0;
  std::uint8_t heightClass = in.byte();

  fuzz::CountingPrinter printer;
  fakes::FakeDebugOutput debug;
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(in.rest());
  if (!buffer.ok()) return 0;
  output.reset();
  page::PageJob job{model, cutMode, settings, output, heightClass, printer, debug};
  page::processPage(buffer, job);
  return 0;
}
