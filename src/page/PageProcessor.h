// Fixes a page's cut commands and hands it to the one writer that sends it.
#pragma once

#include <cstdint>

#include "base/HeapBlock.h"
#include "page/PageBuffer.h"
#include "page/PrinterSettings.h"
#include "platform/DebugOutput.h"
#include "platform/Spooler.h"

namespace page {

/// The job's 5 MiB output buffer for the text route, with its fill count.
class OutputBuffer {
 public:
  static constexpr std::uint32_t kSize = 0x500000;
  /// Allocates the buffer; !ok() when it can't be had.
  static OutputBuffer allocate();
  [[nodiscard]] bool ok() const { return block_.ok(); }
  [[nodiscard]] std::uint8_t* data() { return block_.data(); }
  /// Starts a page: the fill count goes back to 0. Only the filled bytes are ever sent,
  /// so the bytes past them need not be cleared.
  void reset() { outLen = 0; }
  std::uint32_t outLen = 0;

 private:
  base::HeapBlock block_;
};

/// What one job hands to every page it processes. The job owns what is referred to and
/// outlives its pages.
struct PageJob {
  char16_t modelFirstUnit = 0;  // the first UTF-16 unit of the notice's model name
  std::uint32_t cutMode = 0;
  const page::PrinterSettings& settings;  // this job's, loaded at its start
  OutputBuffer& output;
  std::uint8_t heightClass = 0;  // carried across the job's pages and copies
  platform::Printer& printer;
  platform::DebugOutput& debug;
};

/// Applies the cut fix-ups in place, classifies the page and sends all of its bytes
/// through the printer (whose page is started) before it returns.
void processPage(PageBuffer& page, PageJob& job);

}  // namespace page
