// Fuzzes the journal reader on whatever a crash, a full disk or a stray write may leave
// in the file: reading, indexing and compacting never read outside the bytes, agree on
// where the readable part ends, and a compacted journal reads back whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <unordered_set>

#include "job/JournalFormat.h"

namespace {

void fail(int line) {
  std::fprintf(stderr, "fuzz_journal: the check on line %d does not hold\n", line);
  std::abort();
}

}  // namespace

#define REQUIRE(holds)            \
  do {                            \
    if (!(holds)) fail(__LINE__); \
  } while (false)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  job::JournalContents contents;
  job::JournalIndex index;
  const bool read = job::readJournal(bytes, contents);
  REQUIRE(read == job::scanJournal(bytes, index));
  if (!read) return 0;
  REQUIRE(contents.readableBytes == index.readableBytes);
  REQUIRE(contents.tornBytes == index.tornBytes);
  REQUIRE(index.readableBytes + index.tornBytes == size);
  for (const job::EntrySpan& entry : index.entries) {
    REQUIRE(entry.offset + entry.size <= index.readableBytes);
  }

  // Compaction keeps whole entries of records the journal holds, and only those.
  std::size_t finished = 0;
  const std::size_t keep = size % 4;
  const job::Bytes compacted = job::compactJournal(bytes, index, keep, finished);
  REQUIRE(finished <= keep);
  job::JournalContents again;
  REQUIRE(job::readJournal(compacted, again));
  REQUIRE(again.tornBytes == 0);
  std::unordered_set<std::uint64_t> ids;
  for (const job::JobRecord& record : contents.records) ids.insert(record.id);
  for (const job::JobRecord& record : again.records) REQUIRE(ids.count(record.id) == 1);
  REQUIRE(again.records.size() <= contents.records.size());
  return 0;
}
