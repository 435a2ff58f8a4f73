// At start, before the listener reads its first notice: the jobs the process ended during
// are taken up again, or closed.
#pragma once

#include <cstdint>
#include <vector>

#include "app/NoticeListener.h"
#include "job/JobRecord.h"

namespace app {

/// What becomes of a record found without an outcome.
enum class ResumeChoice {
  kResume,       // run again from its first copy not yet over
  kInterrupted,  // closed: resuming is off, or its page 1 is gone (and was accepted more
                 // than the 30 s a run waits for a page ago)
  kExpired,      // closed: accepted more than 24 hours ago
};

/// Decides for one record, at wall-clock time `nowMs`.
ResumeChoice chooseResume(job::JobPorts& ports, const job::JobRecord& record, std::int64_t nowMs,
                          bool resume);

/// Reads the journal (ports.journal) and, for each record without an outcome, starts its
/// run again on a print thread of its own or closes it. Returns how many runs started.
std::uint32_t resumeJobs(AppPorts& ports, bool resume);

}  // namespace app
