// Fuzzes page file loading through the runner: the file's size and header as it comes,
// short reads, and the whole page pipeline behind them.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"
#include "job/JobRunner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader in(data, size);
  const std::uint8_t flags = in.byte();
  const std::uint8_t readLimit = in.byte();
  const auto file = in.rest();

  fakes::FakeSpooler spooler;
  auto& printer = spooler.addPrinter(u"P");
  if (flags & 1) printer.data["PRTDATA_IDX_HIGH_SPEED_MODE"] = {1, 0, 0, 0};
  if (flags & 2) printer.data["PRTDATA_IDX_TEST"] = {static_cast<std::uint8_t>(flags >> 2)};
  fakes::FakeNamedLocks locks;
  fakes::FakeKnownFolders folders;
  fakes::FakeClock clock;
  fakes::FakePageFiles files(clock);
  auto& page = files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', 1, 1)];
  page.bytes.assign(file.begin(), file.end());
  if (flags & 0x80) page.readLimit = readLimit;
  // A last page behind it, so a first page that is not the last ends its copy at once
  // instead of waiting out the page budget.
  files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', 1, 2)].bytes = {
      16,  0,   0,   0,   2,   'l', 'a', 's', 't', ' ', 'p',
      'a', 'g', 'e', ' ', 'o', 'f', ' ', 'j', 'o', 'b'};
  fakes::FakeDebugOutput debug;
  job::JobPorts ports{spooler, locks, folders, files, clock, debug};
  job::runJob(ports, job::JobRequest{u"P", 1, 1, u'P', flags & 0x40 ? 4u : 0u, std::nullopt});
  return 0;
}
