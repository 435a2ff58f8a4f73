// The debug output of the Linux relay: each line goes to standard error (or, when
// standard error is the systemd journal's stream, to the journal with the run's printer
// and job as fields), and to every `relaytool watch` connected. The lines themselves are
// never changed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/posix/DebugWatch.h"

namespace posix {

class RelayDebugOutput : public platform::DebugOutput {
 public:
  enum class Sink { kStderr, kJournal };

  /// Watchers connect on watchEndpointName(endpoint). `sink` says where the lines go;
  /// kStderr writes to `fd` (standard error unless a test says otherwise).
  RelayDebugOutput(const std::string& endpoint, Sink sink, int fd = 2);

  void write(std::string_view line) override;
  /// Kept per thread: each run has a thread of its own.
  void enterRun(std::u16string_view printer, std::uint32_t jobId) override;
  void leaveRun() override;

  /// 0, or the errno that kept the watch socket from listening.
  int watchError() const { return watchers_.error(); }

 private:
  Sink sink_;
  int fd_;
  DebugWatchers watchers_;
};

/// Kernel's view of JOURNAL_STREAM ("DEVICE:INODE"): true when `fd` is that stream, so
/// the service manager put the journal on it.
bool isJournalStream(const char* journalStream, int fd);

/// The journal fields of one line: MESSAGE= the line as sent less its closing newline
/// (the record's end, as journald takes lines from a service's stream), PRIORITY=, the
/// SYSLOG_IDENTIFIER=, and SPOOLRELAYER_PRINTER= and SPOOLRELAYER_JOB= for a run's line.
std::vector<std::string> journalFields(std::string_view line, const RunInfo* run);

/// Whether this build can write to the journal (libsystemd was found).
bool haveJournal();

}  // namespace posix
