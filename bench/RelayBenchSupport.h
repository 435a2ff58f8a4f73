// Drives a running `spoolrelayer` from a benchmark: its temporary folders, the page file
// of a one-page job, and the notices that start the jobs.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "e2e/ProcessSupport.h"
#include "platform/posix/SocketNoticeEndpoint.h"

namespace bench {

/// The folder of the running benchmark program (build/<preset>/bench).
inline std::string programFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return self.substr(0, self.rfind('/'));
}

class RelayUnderTest {
 public:
  /// Starts the relay on `spooler` ("dir:ROOT" or "cups") with folders of its own.
  explicit RelayUnderTest(const std::string& spoolerChoice) {
    e2e::makeDirs(tmp_.path() + "/public/TIVORAN");
    e2e::makeDirs(tmp_.path() + "/printers");
    const std::string spooler =
        spoolerChoice == "dir" ? "dir:" + tmp_.path() + "/printers" : spoolerChoice;
    relay_ = e2e::startRelay(programFolder() + "/../spoolrelayer", tmp_.path() + "/public", spooler,
                             endpoint_, tmp_.path() + "/relay.log");
  }

  std::string printersRoot() const { return tmp_.path() + "/printers"; }

  /// Writes the one page of job `jobId` (the last page of its document).
  void writePage(std::uint32_t jobId, const std::vector<std::uint8_t>& stream) {
    e2e::writeFile(pagePath(jobId), e2e::pageFile(stream, 2));
  }

  /// Where the driver puts page 1 of job `jobId`.
  std::string pagePath(std::uint32_t jobId) const {
    char name[64];
    std::snprintf(name, sizeof name, "/public/TIVORAN/TIVORAN_%08X_00000001.bin", jobId);
    return tmp_.path() + name;
  }

  /// Posts the notice of a one-copy job for `printer` (ASCII); retries until the relay's
  /// endpoint is there.
  bool post(const std::string& printer, std::uint32_t jobId) {
    std::vector<std::uint8_t> notice(552, 0);
    for (std::size_t i = 0; i < printer.size() && i < 259; ++i) {
      notice[2 * i] = static_cast<std::uint8_t>(printer[i]);
    }
    for (std::size_t k = 0; k < 4; ++k)
      notice[520 + k] = static_cast<std::uint8_t>(jobId >> (8 * k));
    notice[524] = 1;
    notice[528] = 'T';
    return e2e::waitUntil([&] { return posix::postNotice(endpoint_, notice); });
  }

 private:
  e2e::TempDir tmp_;
  std::string endpoint_ = "spr-bench-" + std::to_string(::getpid());
  std::unique_ptr<e2e::Child> relay_;
};

/// A text page of `size` bytes.
inline std::vector<std::uint8_t> textPage(std::size_t size) {
  std::vector<std::uint8_t> page(size);
  for (std::size_t i = 0; i < size; ++i) {
    page[i] = static_cast<std::uint8_t>(i % 48 == 47 ? '\n' : 'A' + i % 26);
  }
  return page;
}

}  // namespace bench
