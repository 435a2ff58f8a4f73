// What a run tells about itself as it goes, and where a resumed run starts.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "job/JobRecord.h"

namespace job {

/// How a run ended, as the runner sees it.
enum class RunEnd {
  kCopiesDone,  // every copy it had to send was over; the page files were deleted
  kFailed,      // it went to its tail before the copies
  kAbandoned,   // a page could not be loaded
};

/// Receives a run's events, in the order they happen, on the run's thread.
class JobEvents {
 public:
  virtual ~JobEvents() = default;
  /// A debug line the run sent.
  virtual void line(std::string_view line) = 0;
  /// Page `page` was found empty; its file is deleted next, so later copies, and a run
  /// taken up again after a restart, must not wait for it.
  virtual void emptyPage(std::uint32_t page) = 0;
  /// The spooler is about to be asked to end a copy's document; copyDone() and
  /// copySettled() follow. Once the process is closing this waits for the process to end
  /// instead, so that no document ends that copyDone() can't record.
  virtual void documentEnding() = 0;
  /// A copy is over: its document was ended (or its end failed). Comes right after the
  /// spooler's end of the document; what it records must be written at once.
  virtual void copyDone(const CopyRecord& copy) = 0;
  /// After copyDone(), once the spooler has made the ended document durable: what
  /// copyDone() wrote is made durable now.
  virtual void copySettled() = 0;
  /// The run is over: the printer is closed and its lock released.
  virtual void runEnded(RunEnd end) = 0;
};

/// Events nobody listens to.
class NoJobEvents : public JobEvents {
 public:
  void line(std::string_view) override {}
  void emptyPage(std::uint32_t) override {}
  void documentEnding() override {}
  void copyDone(const CopyRecord&) override {}
  void copySettled() override {}
  void runEnded(RunEnd) override {}
};

/// Where a run taken up again after a restart starts: the first copy not yet over, the
/// job's heightClass as it was when that copy would have started, the page number the
/// last copy stopped at (the page files below it are deleted after the copies), and the
/// page numbers found empty so far.
struct ResumePoint {
  std::uint32_t copy = 0;
  std::uint8_t heightClass = 0;
  std::uint32_t stopPage = 0;
  std::vector<std::uint32_t> emptyPages;

  /// The point after the copies `record` holds.
  static ResumePoint after(const JobRecord& record);
};

}  // namespace job
