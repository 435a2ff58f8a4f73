#include "app/JobResume.h"

#include <memory>
#include <utility>

#include "job/Journal.h"

namespace app {
namespace {

constexpr std::int64_t kPageStillComingMs = 30'000;  // 300 waits of 100 ms

}  // namespace

ResumeChoice chooseResume(job::JobPorts& ports, const job::JobRecord& record, std::int64_t nowMs,
                          bool resume) {
  if (!resume) return ResumeChoice::kInterrupted;
  if (nowMs - record.acceptedMs > job::Journal::kResumeWindowMs) return ResumeChoice::kExpired;
  // With every copy over only the deletion of the page files and the tail are left.
  const job::ResumePoint point = job::ResumePoint::after(record);
  if (point.copy >= record.copyCount) return ResumeChoice::kResume;
  // Page 1 gone means the job's files went. A job accepted less than the runner's wait
  // for a page ago may still get it, as its run would have.
  if (record.isEmptyPage(1) || job::pageFileThere(ports, record.jobId, 1, record.sender) ||
      nowMs - record.acceptedMs < kPageStillComingMs) {
    return ResumeChoice::kResume;
  }
  return ResumeChoice::kInterrupted;
}

std::uint32_t resumeJobs(AppPorts& ports, bool resume) {
  if (ports.journal == nullptr) return 0;
  job::Journal& journal = *ports.journal;
  std::uint32_t started = 0;
  const std::int64_t now = journal.nowMs();
  for (job::JobRecord& record : journal.open()) {
    const ResumeChoice choice = chooseResume(ports.job, record, now, resume);
    if (choice != ResumeChoice::kResume) {
      journal.close(record, choice == ResumeChoice::kExpired ? job::Outcome::kExpired
                                                             : job::Outcome::kInterrupted);
      continue;
    }
    const job::ResumePoint point = job::ResumePoint::after(record);
    // The log holds the record, whose printer name the request points into.
    std::shared_ptr<job::JobLog> log = journal.resume(std::move(record));
    job::JobPorts& jobPorts = ports.job;
    const bool running = ports.threads.startDetached([&jobPorts, log, point] {
      const job::JobRecord& r = log->record();
      const job::JobRequest request{r.printerName,    r.jobId,   r.copyCount,
                                    r.modelFirstUnit, r.cutMode, r.sender};
      job::runJob(jobPorts, request, *log, point);
    });
    if (running) {
      ++started;
    } else {
      journal.close(log->record(), job::Outcome::kInterrupted);
    }
  }
  return started;
}

}  // namespace app
