#include "job/PageSender.h"

#include <array>
#include <limits>

namespace job {

void loadJobSettings(platform::Printer& printer, char16_t modelFirstUnit,
                     PrinterSettings& settings) {
  loadPrinterSettings(printer, settings);
  decideHighSpeedMode(modelFirstUnit, settings);
  readFirmwareVersion(printer, settings);
}

std::optional<page::PageBuffer> loadPage(platform::PageFile& file, std::uint32_t size,
                                         platform::DebugOutput& debug) {
  base::HeapBlock block;
  if (size <= std::numeric_limits<std::uint32_t>::max() - page::kPageMargin) {
    block = base::HeapBlock::zeroed(std::size_t{size} + page::kPageMargin);
  }
  if (!block.ok()) {
    debug.write("pData == NULL \n");
    return std::nullopt;
  }
  const std::size_t read = file.read(block.span().first(size));
  if (read == 0) {
    debug.write("ReadFile <= 0 \n");
    return std::nullopt;
  }
  return page::PageBuffer::adopt(std::move(block), read);
}

bool sendLoadedPage(page::PageBuffer& page, page::PageJob& job) {
  const bool lastPage = page.state() == page::kLastPageState;
  if (!lastPage) job.debug.report("pData->State : 0x%08x \n", page.state());
  job.output.reset();
  page::processPage(page, job);
  if (lastPage) {
    static constexpr std::array<std::uint8_t, 1> kEndOfDocument{0x00};
    (void)job.printer.write(kEndOfDocument);
  }
  return lastPage;
}

}  // namespace job
