#include "app/NoticeListener.h"

#include <utility>

#include "base/LittleEndian.h"

namespace app {
namespace {

std::uint32_t readU32(std::span<const std::uint8_t, kNoticeSize> notice, std::size_t at) {
  return base::readU32(notice.data() + at);
}

char16_t readUnit(std::span<const std::uint8_t, kNoticeSize> notice, std::size_t at) {
  return static_cast<char16_t>(base::readU16(notice.data() + at));
}

}  // namespace

job::JobRequest readNotice(std::span<const std::uint8_t, kNoticeSize> notice,
                           std::u16string& printerName) {
  printerName.clear();
  for (std::size_t i = 0; i < kPrinterNameUnits; ++i) {
    const char16_t unit = readUnit(notice, 2 * i);
    if (unit == 0) break;
    printerName += unit;
  }
  job::JobRequest request;
  request.printerName = printerName;
  request.jobId = readU32(notice, 520);
  request.copyCount = readU32(notice, 524);
  request.modelFirstUnit = readUnit(notice, 528);
  request.cutMode = readU32(notice, 548);
  return request;
}

void printThread(job::JobPorts& ports, std::unique_ptr<base::HeapBlock> notice,
                 std::optional<std::uint32_t> sender) {
  if (!notice || !notice->ok() || notice->size() < kNoticeSize) {
    ports.debug.write("PrintThread pArguments Error \n");
    return;
  }
  std::u16string printerName;
  job::JobRequest request = readNotice(
      std::span<const std::uint8_t, kNoticeSize>(notice->data(), kNoticeSize), printerName);
  request.sender = sender;
  job::runJob(ports, request);
}

void noticeListener(AppPorts& ports) {
  std::uint32_t error = 0;
  std::unique_ptr<platform::NoticeReader> reader = ports.endpoint.create(error);
  if (!reader) {
    ports.job.debug.report("CreateMailslot Error : 0x%08x \n", error);
    return;
  }
  for (;;) {
    auto block = std::make_unique<base::HeapBlock>(base::HeapBlock::zeroed(kNoticeSize));
    if (!block->ok()) return;  // closes the endpoint, freeing its name
    std::optional<std::uint32_t> sender;
    const platform::ReadResult result = reader->read(block->span(), sender);
    if (result == platform::ReadResult::kClosed) return;
    if (result != platform::ReadResult::kMessage) continue;  // the block is freed
    // The thread owns the block from here; if it can't start, the block is freed.
    auto owned = std::make_shared<std::unique_ptr<base::HeapBlock>>(std::move(block));
    job::JobPorts& jobPorts = ports.job;
    (void)ports.threads.startDetached(
        [&jobPorts, owned, sender] { printThread(jobPorts, std::move(*owned), sender); });
  }
}

}  // namespace app
