// Standard error or the journal, and the watchers.
#include "platform/posix/RelayDebugOutput.h"

#include <sys/stat.h>
#include <sys/uio.h>

#include <cstdio>
#include <cstdlib>

#include "base/Utf.h"
#include "platform/posix/PosixIo.h"
#if SPR_HAVE_SYSTEMD
#define SD_JOURNAL_SUPPRESS_LOCATION  // no CODE_FILE= with the build's paths
#include <systemd/sd-journal.h>
#endif

namespace posix {
namespace {

/// The run of the current thread, if any.
thread_local bool tInRun = false;
thread_local RunInfo tRun;

void sendToJournal(std::string_view line, const RunInfo* run) {
#if SPR_HAVE_SYSTEMD
  const std::vector<std::string> fields = journalFields(line, run);
  std::vector<iovec> vectors;
  vectors.reserve(fields.size());
  for (const std::string& field : fields) {
    vectors.push_back(iovec{const_cast<char*>(field.data()), field.size()});
  }
  if (sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) >= 0) return;
#endif
  (void)run;
  (void)writeAll(2, line);  // the journal is gone: its stream may still take the line
}

}  // namespace

RelayDebugOutput::RelayDebugOutput(const std::string& endpoint, Sink sink, int fd)
    : sink_(sink), fd_(fd), watchers_(watchEndpointName(endpoint)) {}

void RelayDebugOutput::write(std::string_view line) {
  const RunInfo* run = tInRun ? &tRun : nullptr;
  if (sink_ == Sink::kJournal) {
    sendToJournal(line, run);
  } else {
    (void)writeAll(fd_, line);  // one write(2), so lines of concurrent runs never mix
  }
  if (watchers_.anyone()) watchers_.send(line, run);
}

void RelayDebugOutput::enterRun(std::u16string_view printer, std::uint32_t jobId) {
  tRun.printer = base::toUtf8(printer);
  tRun.jobId = jobId;
  tInRun = true;
}

void RelayDebugOutput::leaveRun() {
  tInRun = false;
}

bool isJournalStream(const char* journalStream, int fd) {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (journalStream == nullptr || std::sscanf(journalStream, "%llu:%llu", &device, &inode) != 2) {
    return false;
  }
  struct stat st {};
  return ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

std::vector<std::string> journalFields(std::string_view line, const RunInfo* run) {
  // The journal keeps records, not a stream: the line's own newline ends the record, as
  // journald does with each line a service writes to its standard error.
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  std::vector<std::string> fields{"MESSAGE=" + std::string(line), "PRIORITY=7",
                                  "SYSLOG_IDENTIFIER=spoolrelayer"};
  if (run != nullptr) {
    fields.push_back("SPOOLRELAYER_PRINTER=" + run->printer);
    fields.push_back("SPOOLRELAYER_JOB=" + std::to_string(run->jobId));
  }
  return fields;
}

bool haveJournal() {
#if SPR_HAVE_SYSTEMD
  return true;
#else
  return false;
#endif
}

}  // namespace posix
