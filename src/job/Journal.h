// The job journal: one record per accepted notice, written before its run starts, an
// entry for each copy that is over and one for the outcome, kept by the platform in one
// append-only file. A journal that can't be written never stops a job: one debug line
// says why, and the job goes on.
//
// Durable before the call returns: the accepted notice, each copy, each empty page (the
// entries a crash must not lose). The outcome and the resume note ride on the next sync:
// lost in a crash, they only make the record be taken up again, which ends it as before.
// Syncs are shared: while one thread syncs, the entries others append wait for the next
// sync, which covers them all, so a busy relay does not queue one sync per entry.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "job/JobEvents.h"
#include "job/JobRecord.h"
#include "job/JobRunner.h"
#include "job/JournalFormat.h"
#include "platform/DebugOutput.h"
#include "platform/JobJournal.h"

namespace job {

class Journal;

/// The journal's side of one run: writes its events into its record.
class JobLog : public JobEvents {
 public:
  /// At most this many debug lines are kept per record; the others are only counted.
  static constexpr std::size_t kMaxLines = 1000;

  JobLog(Journal& journal, JobRecord record);
  void line(std::string_view line) override;
  void emptyPage(std::uint32_t page) override;
  void documentEnding() override;
  void copyDone(const CopyRecord& copy) override;
  void copySettled() override;
  void runEnded(RunEnd end) override;

  /// The record as it was accepted or read back, with the lines and the outcome of this
  /// run; its copies are those before this run (a job of many copies keeps only counts).
  [[nodiscard]] const JobRecord& record() const { return record_; }

 private:
  friend class Journal;
  /// Writes one entry, durably or not; the first failure of this run is reported.
  void write(const Bytes& entry, bool durable);
  Outcome outcomeOf(RunEnd end) const;

  Journal& journal_;
  JobRecord record_;
  std::vector<std::string> pendingLines_;  // sent since the last entry written
  std::size_t lineCount_ = 0;
  std::uint64_t copiesOver_ = 0;  // copies of the job over, this run's and earlier ones
  bool allPrinted_ = true;        // each of them ended with its last page
  bool failureReported_ = false;
};

class Journal {
 public:
  /// Finished records beyond the newest 10,000 are compacted away. Compaction waits until
  /// 1,000 more have gathered, so that it runs once per 1,000 jobs and not after each.
  static constexpr std::size_t kKeepFinished = 10'000;
  static constexpr std::size_t kCompactionSlack = 1'000;
  /// A job accepted longer ago than this is not taken up again after a restart.
  static constexpr std::int64_t kResumeWindowMs = 24LL * 60 * 60 * 1000;

  Journal(platform::JobJournal& store, platform::DebugOutput& debug);

  /// At start: claims the journal, reads it, drops a torn last entry and compacts it.
  /// Returns the records that have no outcome: jobs the process ended during. When the
  /// journal can't be used one line says why and jobs are then run without records.
  std::vector<JobRecord> open();

  /// Records an accepted notice (durably, before the run starts) and returns the log
  /// its run reports to.
  std::unique_ptr<JobLog> accept(const JobRequest& request);
  /// Takes up `record` again: notes that it was resumed and returns its run's log.
  std::unique_ptr<JobLog> resume(JobRecord record);
  /// Closes `record` without running it, as interrupted or expired.
  void close(const JobRecord& record, Outcome outcome);

  /// The process is closing: from now on no document starts to end (documentEnding()
  /// waits for the process's end), and this waits up to `ms` for those already ending to
  /// be recorded. True when none is left.
  bool closeDocuments(std::uint32_t ms);

  [[nodiscard]] std::int64_t nowMs() { return store_.nowUnixMs(); }

 private:
  friend class JobLog;
  /// Appends one entry, and when `durable` returns once it is on stable storage; false
  /// with `why` set when it can't be written.
  bool append(const Bytes& entry, bool durable, std::string& why);
  /// Returns once every entry appended so far is on stable storage; false with `why` set
  /// when the sync fails.
  bool syncAppended(std::string& why);
  /// Syncs until entry number `entry` is covered; `lock` holds mutex_.
  bool syncThrough(std::unique_lock<std::mutex>& lock, std::uint64_t entry, std::string& why);
  /// Counts a finished record and compacts once enough have gathered.
  void finished();
  /// Rewrites the journal with the records kept; `lock` holds mutex_.
  bool compactLocked(std::unique_lock<std::mutex>& lock, std::string& why);
  void documentEnding();
  void documentEnded();
  void report(const std::string& why) { debug_.write(why); }

  platform::JobJournal& store_;
  platform::DebugOutput& debug_;
  std::mutex mutex_;  // one writer at a time; guards everything below
  bool usable_ = false;
  std::uint64_t appended_ = 0;  // entries appended so far
  std::uint64_t synced_ = 0;    // of those, the ones a finished sync covered
  bool syncing_ = false;        // a thread is in store_.sync(), outside the mutex
  std::condition_variable syncs_;
  std::uint64_t nextId_ = 1;
  std::size_t finishedInFile_ = 0;
  std::condition_variable endings_;
  int ending_ = 0;  // documents between documentEnding() and copyDone()
  bool closing_ = false;
};

}  // namespace job
