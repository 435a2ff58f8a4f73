#include "job/Journal.h"

#include <chrono>
#include <utility>

#include "job/JournalFormat.h"

namespace job {

ResumePoint ResumePoint::after(const JobRecord& record) {
  ResumePoint point;
  point.emptyPages = record.emptyPages;
  if (!record.copies.empty()) {
    const CopyRecord& last = record.copies.back();
    point.copy = last.copy + 1;
    point.heightClass = last.heightClassAfter;
    point.stopPage = last.stopPage;
  }
  return point;
}

// ---- JobLog ------------------------------------------------------------------------

JobLog::JobLog(Journal& journal, JobRecord record)
    : journal_(journal), record_(std::move(record)), copiesOver_(record_.copies.size()) {
  for (const CopyRecord& copy : record_.copies)
    allPrinted_ = allPrinted_ && copy.ended && copy.lastPage;
}

void JobLog::line(std::string_view line) {
  if (lineCount_ >= kMaxLines) {
    ++record_.linesDropped;
    return;
  }
  ++lineCount_;
  pendingLines_.emplace_back(line);
  record_.lines.emplace_back(line);
}

void JobLog::emptyPage(std::uint32_t page) {
  if (record_.isEmptyPage(page)) return;
  record_.emptyPages.push_back(page);
  write(emptyPageEntry(record_.id, page), true);
}

void JobLog::documentEnding() {
  journal_.documentEnding();
}

void JobLog::copyDone(const CopyRecord& copy) {
  // The entry goes first, written but not yet synced: the time from the document's end
  // to here is the window in which a crash of the process makes the copy be sent again.
  // copySettled() syncs it once the spooler has made the document durable.
  write(copyEntry(record_.id, copy, pendingLines_), false);
  pendingLines_.clear();
  ++copiesOver_;
  allPrinted_ = allPrinted_ && copy.ended && copy.lastPage;
}

void JobLog::copySettled() {
  std::string why;
  if (!journal_.syncAppended(why) && !failureReported_ && !why.empty()) {
    failureReported_ = true;
    journal_.report(why);
  }
  journal_.documentEnded();
}

void JobLog::runEnded(RunEnd end) {
  record_.outcome = outcomeOf(end);
  record_.endedMs = journal_.nowMs();
  write(outcomeEntry(record_.id, *record_.outcome, record_.endedMs, pendingLines_,
                     record_.linesDropped),
        false);
  pendingLines_.clear();
  journal_.finished();
}

Outcome JobLog::outcomeOf(RunEnd end) const {
  if (end == RunEnd::kFailed) return Outcome::kFailed;
  if (end == RunEnd::kAbandoned) return Outcome::kAbandoned;
  return copiesOver_ == record_.copyCount && allPrinted_ ? Outcome::kPrinted : Outcome::kIncomplete;
}

void JobLog::write(const Bytes& entry, bool durable) {
  std::string why;
  if (journal_.append(entry, durable, why) || failureReported_ || why.empty()) return;
  failureReported_ = true;
  journal_.report(why);
}

// ---- Journal -----------------------------------------------------------------------

Journal::Journal(platform::JobJournal& store, platform::DebugOutput& debug)
    : store_(store), debug_(debug) {}

std::vector<JobRecord> Journal::open() {
  std::unique_lock lock(mutex_);
  std::string why;
  Bytes bytes;
  JournalContents contents;
  if (!store_.take(why) || !store_.read(bytes, why)) {
    report(why);
    return {};
  }
  if (!readJournal(bytes, contents)) {
    report("Journal Error : not a job journal, left as it is \n");
    return {};
  }
  for (const JobRecord& record : contents.records) {
    if (record.id >= nextId_) nextId_ = record.id + 1;
    if (record.outcome) ++finishedInFile_;
  }
  usable_ = true;
  // A torn last entry is cut off, so that what is appended next can be read back.
  if (bytes.empty()) {
    usable_ =
        store_.append(Bytes(kJournalMark.begin(), kJournalMark.end()), why) && store_.sync(why);
  } else if (contents.tornBytes > 0 || finishedInFile_ > kKeepFinished) {
    usable_ = compactLocked(lock, why);
  }
  if (!usable_) report(why);
  std::vector<JobRecord> open;
  for (JobRecord& record : contents.records) {
    if (!record.outcome) open.push_back(std::move(record));
  }
  return open;
}

std::unique_ptr<JobLog> Journal::accept(const JobRequest& request) {
  JobRecord record;
  {
    std::lock_guard lock(mutex_);
    record.id = nextId_++;
  }
  record.acceptedMs = store_.nowUnixMs();
  record.printerName = std::u16string(request.printerName);
  record.jobId = request.jobId;
  record.copyCount = request.copyCount;
  record.modelFirstUnit = request.modelFirstUnit;
  record.cutMode = request.cutMode;
  record.sender = request.sender;
  auto log = std::make_unique<JobLog>(*this, std::move(record));
  log->write(acceptedEntry(log->record()), true);
  return log;
}

std::unique_ptr<JobLog> Journal::resume(JobRecord record) {
  const std::int64_t now = store_.nowUnixMs();
  record.resumedMs.push_back(now);
  const std::uint64_t id = record.id;
  auto log = std::make_unique<JobLog>(*this, std::move(record));
  log->write(resumedEntry(id, now), false);
  return log;
}

void Journal::close(const JobRecord& record, Outcome outcome) {
  std::string why;
  if (!append(outcomeEntry(record.id, outcome, store_.nowUnixMs(), {}, 0), false, why) &&
      !why.empty()) {
    report(why);
  }
  finished();
}

bool Journal::append(const Bytes& entry, bool durable, std::string& why) {
  std::unique_lock lock(mutex_);
  if (!usable_ || !store_.append(entry, why)) return false;
  const std::uint64_t mine = ++appended_;
  return !durable || syncThrough(lock, mine, why);
}

bool Journal::syncAppended(std::string& why) {
  std::unique_lock lock(mutex_);
  if (!usable_) return false;
  return syncThrough(lock, appended_, why);
}

bool Journal::syncThrough(std::unique_lock<std::mutex>& lock, std::uint64_t entry,
                          std::string& why) {
  while (synced_ < entry) {
    if (syncing_) {
      syncs_.wait(lock);  // a sync is running; the next one covers this entry
      continue;
    }
    syncing_ = true;
    const std::uint64_t covered = appended_;
    lock.unlock();
    const bool synced = store_.sync(why);
    lock.lock();
    syncing_ = false;
    if (synced && covered > synced_) synced_ = covered;
    syncs_.notify_all();
    if (!synced) return false;
  }
  return true;
}

void Journal::finished() {
  std::unique_lock lock(mutex_);
  if (!usable_) return;
  ++finishedInFile_;
  if (finishedInFile_ <= kKeepFinished + kCompactionSlack) return;
  std::string why;
  if (!compactLocked(lock, why)) report(why);
}

bool Journal::compactLocked(std::unique_lock<std::mutex>& lock, std::string& why) {
  // Never beside a sync: the file it syncs is about to be replaced.
  syncs_.wait(lock, [this] { return !syncing_; });
  Bytes bytes;
  JournalIndex index;
  if (!store_.read(bytes, why)) return false;
  if (!scanJournal(bytes, index)) {
    why = "Journal Error : not a job journal, left as it is \n";
    return false;
  }
  std::size_t finished = 0;
  if (!store_.replace(compactJournal(bytes, index, kKeepFinished, finished), why)) return false;
  synced_ = appended_;  // the new journal is durable as a whole
  finishedInFile_ = finished;
  return true;
}

void Journal::documentEnding() {
  std::unique_lock lock(mutex_);
  // Once closing, the run stays here until the process ends.
  endings_.wait(lock, [this] { return !closing_; });
  ++ending_;
}

void Journal::documentEnded() {
  {
    std::lock_guard lock(mutex_);
    --ending_;
  }
  endings_.notify_all();
}

bool Journal::closeDocuments(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  closing_ = true;
  return endings_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return ending_ == 0; });
}

}  // namespace job
