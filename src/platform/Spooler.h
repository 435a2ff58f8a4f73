// The print spooler: printers, RAW documents, the printer's data store and its job queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SystemErrors.h"

namespace platform {

/// Job status bits of a queue entry, winspool's values. The runner removes a job whose
/// status is exactly PRINTED or exactly COMPLETE.
inline constexpr std::uint32_t kJobStatusPaused = 0x1;
inline constexpr std::uint32_t kJobStatusError = 0x2;
inline constexpr std::uint32_t kJobStatusSpooling = 0x8;
inline constexpr std::uint32_t kJobStatusPrinting = 0x10;
inline constexpr std::uint32_t kJobStatusPrinted = 0x80;
inline constexpr std::uint32_t kJobStatusDeleted = 0x100;
inline constexpr std::uint32_t kJobStatusComplete = 0x1000;

/// The job listing holds at most this many entries, in a buffer of this many bytes.
inline constexpr std::size_t kJobListingEntries = 100;
inline constexpr std::size_t kJobListingBytes = 6400;

/// The document information a RAW document is started with.
struct DocInfo {
  std::u16string docName;
  std::optional<std::u16string> outputFile;
  std::u16string dataType;
};

/// The superuser's account: its notices may reach every job.
inline constexpr std::uint32_t kSuperuser = 0;

/// One entry of the printer's job listing.
struct JobEntry {
  std::uint32_t jobId = 0;
  std::uint32_t status = 0;
  /// The account the job belongs to, where the spooler tells it (a uid on Linux).
  std::optional<std::uint32_t> owner;
};

/// An open printer. Destroying it closes the printer.
class Printer {
 public:
  virtual ~Printer() = default;

  /// First half of the two-call level-2 information query, made with no block: the
  /// spooler fails it with lastError() == 122 and sets `needed` to the block size.
  virtual bool queryInfoSize(std::uint32_t& needed) = 0;
  /// Second half: fills `block` (of the size asked for) and reports the port name.
  virtual bool readInfo(std::span<std::byte> block, std::u16string& portName) = 0;

  /// Reads printer-data value `name` into `dest`, with dest.size() as the buffer size.
  /// Returns 0 when the value was copied; any other result leaves `dest` unchanged,
  /// including a stored value larger than `dest`. A shorter value fills the first bytes.
  virtual std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) = 0;

  virtual bool startDoc(const DocInfo& info) = 0;
  virtual bool startPage() = 0;
  /// Appends bytes to the open page, in call order, unchanged.
  virtual bool write(std::span<const std::uint8_t> bytes) = 0;
  virtual bool endPage() = 0;
  virtual bool endDoc() = 0;

  /// Lists up to 100 jobs into a 6400-byte listing: the entries that fit, or none when
  /// the listing fails or does not fit. Returns the listing's result.
  virtual bool enumJobs(std::vector<JobEntry>& entries) = 0;
  /// Deletes the job of `entry` from the queue.
  virtual bool deleteJob(const JobEntry& entry) = 0;
};

class Spooler {
 public:
  virtual ~Spooler() = default;
  /// Opens `name` for use (access 0x00020008, no cache); null on failure.
  virtual std::unique_ptr<Printer> open(std::u16string_view name) = 0;
  /// The system error code left by this thread's last failed spooler call.
  virtual std::uint32_t lastError() = 0;
};

}  // namespace platform
