// The job journal as the platform keeps it: bytes appended to one file that survive a
// crash. What the bytes mean is the core's business (job/JournalFormat.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

class JobJournal {
 public:
  virtual ~JobJournal() = default;

  /// Claims the journal for this process, for appending and replacing; a second relay on
  /// the same journal is refused. False with `why` set to one debug line (ending " \n")
  /// naming the journal and the system's reason.
  virtual bool take(std::string& why) = 0;
  /// Reads the whole journal as it stands; a journal never written reads as empty.
  /// Needs no claim. False with `why` set when it exists but can't be read.
  virtual bool read(std::vector<std::uint8_t>& bytes, std::string& why) = 0;
  /// Appends `bytes` at the end; sync() makes them durable. False with `why` set, and
  /// then none of the bytes stay. May run while another thread is in sync().
  virtual bool append(std::span<const std::uint8_t> bytes, std::string& why) = 0;
  /// Returns once everything appended so far is on stable storage (fdatasync,
  /// FlushFileBuffers). False with `why` set.
  virtual bool sync(std::string& why) = 0;
  /// Replaces the whole journal with `bytes`, durably, in one step that a crash can't
  /// tear: a reader sees either the old journal or the new one. Never runs beside sync().
  virtual bool replace(std::span<const std::uint8_t> bytes, std::string& why) = 0;
  /// The wall-clock time records are stamped with: milliseconds since 1970-01-01 UTC.
  virtual std::int64_t nowUnixMs() = 0;
};

}  // namespace platform
