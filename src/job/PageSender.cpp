#include "job/PageSender.h"

#include <array>

namespace job {

void loadJobSettings(platform::Printer& printer, char16_t modelFirstUnit,
                     PrinterSettings& settings) {
  loadPrinterSettings(printer, settings);
  decideHighSpeedMode(modelFirstUnit, settings);
  readFirmwareVersion(printer, settings);
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
