// The journal's bytes. The file opens with an 8-byte mark and then holds entries, each
// framed as
//
//   u32 LE  payload length
//   u32 LE  CRC-32 (IEEE 802.3, as zlib computes it) of the payload
//   payload: the entry type, the record's number, then the fields of that type
//
// Numbers in a payload are unsigned LEB128; text is its length and then its units or
// bytes. Entries are only ever appended, so a crash during a write can only leave the
// last one torn: a frame whose length runs past the end or whose CRC doesn't match ends
// the readable part, and everything after it is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "job/JobRecord.h"

namespace job {

using Bytes = std::vector<std::uint8_t>;

/// The mark every journal starts with.
inline constexpr std::string_view kJournalMark = "SPRJRNL1";

/// CRC-32 with the reflected polynomial 0xEDB88320, initial and final value 0xFFFFFFFF.
std::uint32_t crc32(std::span<const std::uint8_t> bytes);

/// Whole framed entries, ready to append.
Bytes acceptedEntry(const JobRecord& record);  // the notice, the time, the sender
Bytes resumedEntry(std::uint64_t id, std::int64_t atMs);
Bytes emptyPageEntry(std::uint64_t id, std::uint32_t page);
Bytes copyEntry(std::uint64_t id, const CopyRecord& copy, std::span<const std::string> lines);
Bytes outcomeEntry(std::uint64_t id, Outcome outcome, std::int64_t endedMs,
                   std::span<const std::string> lines, std::uint32_t linesDropped);

/// Where one entry lies in the journal, whose it is and what it says.
struct EntrySpan {
  std::uint64_t id = 0;
  std::uint8_t type = 0;
  std::size_t offset = 0;
  std::size_t size = 0;
};

/// The whole entries of a journal, each checked but not read.
struct JournalIndex {
  std::vector<EntrySpan> entries;  // in file order
  std::size_t readableBytes = 0;   // the mark and the whole entries
  std::size_t tornBytes = 0;       // what follows them: a torn last entry
};

/// A journal read back.
struct JournalContents {
  std::vector<JobRecord> records;  // in the order they were accepted
  std::size_t readableBytes = 0;
  std::size_t tornBytes = 0;
};

/// Finds the whole entries. False when the bytes are not empty and do not start with the
/// mark.
[[nodiscard]] bool scanJournal(std::span<const std::uint8_t> bytes, JournalIndex& out);

/// Reads a journal. False when the bytes are not empty and do not start with the mark.
/// Entries of a record whose acceptance is not in the journal are passed over.
[[nodiscard]] bool readJournal(std::span<const std::uint8_t> bytes, JournalContents& out);

/// The journal rewritten with only the entries of the records kept: every record
/// without an outcome, and the newest `keepFinished` records that have one. `finished`
/// is set to the number of finished records kept.
Bytes compactJournal(std::span<const std::uint8_t> bytes, const JournalIndex& index,
                     std::size_t keepFinished, std::size_t& finished);

}  // namespace job
