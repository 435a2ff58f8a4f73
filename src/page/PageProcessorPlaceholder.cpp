// Placeholder until the page processor lands: pages are sent as they stand.
#include "page/PageProcessor.h"

namespace page {

OutputBuffer OutputBuffer::allocate() {
  OutputBuffer buffer;
  buffer.block_ = HeapBlock::zeroed(kSize);
  return buffer;
}

void processPage(PageBuffer& page, PageJob& job) {
  const StreamView s = page.stream();
  (void)job.printer->write({s.data, s.length});
}

}  // namespace page
