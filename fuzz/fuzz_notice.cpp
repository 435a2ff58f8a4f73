// Fuzzes a whole run from one notice: the notice parser, the lock name, the page file
// names and the runner's waits, against in-memory fakes (the waits take no time).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/NoticeListener.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The listener reads at most 552 bytes into a zeroed block; a longer message is dropped.
  if (size > app::kNoticeSize) return 0;
  std::vector<std::uint8_t> block(app::kNoticeSize, 0);
  if (size > 0) std::memcpy(block.data(), data, size);
  std::u16string name;
  job::JobRequest request = app::readNotice(
      std::span<const std::uint8_t, app::kNoticeSize>(block.data(), app::kNoticeSize), name);
  request.copyCount %= 4;  // bounded so a run stays short

  fakes::FakeSpooler spooler;
  spooler.addPrinter(name).queue = {{request.jobId, 0x80, std::nullopt}};
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files(clock);
  // The job's one page is there unless the notice's own bytes say otherwise, so most runs
  // relay a document instead of waiting out their page budget.
  if ((request.cutMode & 0x100) == 0) {
    files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', request.jobId, 1)].bytes = {
        20,  0,   0,   0,   2,   'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
        'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', '\n'};
  }
  fakes::FakeDebugOutput debug;
  job::JobPorts ports{spooler, locks, folders, files, clock, debug};
  job::runJob(ports, request);
  return 0;
}
