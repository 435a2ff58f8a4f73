// What the journal knows of one accepted job: its notice, each copy that was over, and
// how the run ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace job {

/// How a job ended.
enum class Outcome : std::uint8_t {
  kPrinted = 1,      // every copy's document ended with its last page
  kIncomplete = 2,   // every copy was over, at least one without its last page or its end
  kAbandoned = 3,    // a page could not be loaded: the job was abandoned
  kFailed = 4,       // the run ended in its tail before the copies
  kInterrupted = 5,  // the process ended during the run and the job was not taken up again
  kExpired = 6,      // as interrupted, but too old to take up again
};

/// "printed", "incomplete", ...; empty for a value that is none of them.
std::string_view outcomeName(Outcome outcome);

/// One copy the run went through.
struct CopyRecord {
  std::uint32_t copy = 0;             // 0 for the first
  bool ended = false;                 // the spooler ended its document: it was delivered
  bool lastPage = false;              // the page marked last was sent
  std::uint8_t heightClassAfter = 0;  // the job's heightClass after it, as the next copy starts
  std::uint32_t stopPage = 0;         // the page number where the copy stopped
  std::vector<std::uint64_t> pages;   // bytes the spooler took for each page, 0x00 included

  bool operator==(const CopyRecord&) const = default;
};

struct JobRecord {
  std::uint64_t id = 0;         // the journal's own number, in the order notices were accepted
  std::int64_t acceptedMs = 0;  // wall clock, ms since 1970 UTC
  std::u16string printerName;
  std::uint32_t jobId = 0;
  std::uint32_t copyCount = 0;
  char16_t modelFirstUnit = 0;
  std::uint32_t cutMode = 0;
  std::optional<std::uint32_t> sender;
  std::vector<std::int64_t> resumedMs;    // each time it was taken up again after a restart
  std::vector<CopyRecord> copies;         // by copy number
  std::vector<std::uint32_t> emptyPages;  // page numbers found empty, ascending
  std::vector<std::string> lines;         // the debug lines its runs sent
  std::uint32_t linesDropped = 0;         // lines beyond the ones kept
  std::optional<Outcome> outcome;         // none while it runs
  std::int64_t endedMs = 0;

  /// Copies whose document ended.
  [[nodiscard]] std::uint32_t copiesSent() const;
  /// Pages and bytes of the copies whose document ended.
  [[nodiscard]] std::uint64_t pagesSent() const;
  [[nodiscard]] std::uint64_t bytesSent() const;
  [[nodiscard]] bool isEmptyPage(std::uint32_t page) const;
};

}  // namespace job
