#include "job/JournalFormat.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <unordered_set>

namespace job {
namespace {

enum class EntryType : std::uint8_t {
  kAccepted = 1,
  kResumed = 2,
  kEmptyPage = 3,
  kCopy = 4,
  kOutcome = 5,
};

constexpr std::size_t kFrameHeader = 8;
constexpr std::uint32_t kMaxPayload = 16u << 20;  // a longer length can only be damage

/// CRC-32 tables for eight bytes at a time ("slicing by 8"): table 0 is the classic
/// byte-wise table, table k the CRC of a byte followed by k zero bytes.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr CrcTables makeCrcTables() {
  CrcTables t{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
  }
  return t;
}
constexpr CrcTables kCrc = makeCrcTables();

/// Builds one payload.
class Writer {
 public:
  explicit Writer(EntryType type, std::uint64_t id) {
    bytes_.push_back(static_cast<std::uint8_t>(type));
    number(id);
  }
  void number(std::uint64_t value) {
    while (value >= 0x80) {
      bytes_.push_back(static_cast<std::uint8_t>(value | 0x80));
      value >>= 7;
    }
    bytes_.push_back(static_cast<std::uint8_t>(value));
  }
  void text(std::u16string_view units) {
    number(units.size());
    for (char16_t unit : units) number(unit);
  }
  void text(std::string_view chars) {
    number(chars.size());
    bytes_.insert(bytes_.end(), chars.begin(), chars.end());
  }
  void lines(std::span<const std::string> lines) {
    number(lines.size());
    for (const std::string& line : lines) text(line);
  }
  /// The framed entry: length, CRC, payload.
  Bytes frame() const {
    Bytes out(kFrameHeader + bytes_.size());
    putU32(out, 0, static_cast<std::uint32_t>(bytes_.size()));
    putU32(out, 4, crc32(bytes_));
    std::copy(bytes_.begin(), bytes_.end(), out.begin() + kFrameHeader);
    return out;
  }

 private:
  static void putU32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (std::size_t k = 0; k < 4; ++k) out[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
  }
  Bytes bytes_;
};

/// Reads one payload; any read past its end leaves it !ok().
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] bool atEnd() const { return at_ == bytes_.size(); }

  std::uint64_t number() {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at_ >= bytes_.size()) break;
      const std::uint8_t byte = bytes_[at_++];
      value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
    ok_ = false;
    return 0;
  }
  std::uint32_t u32() { return narrow<std::uint32_t>(number()); }
  std::uint8_t u8() { return narrow<std::uint8_t>(number()); }
  std::u16string units() {
    const std::uint64_t count = number();
    std::u16string out;
    for (std::uint64_t i = 0; i < count && ok_; ++i) out += narrow<char16_t>(number());
    return out;
  }
  std::string chars() {
    const std::uint64_t count = number();
    if (!ok_ || count > bytes_.size() - at_) {
      ok_ = false;
      return {};
    }
    std::string out(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                    bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + count));
    at_ += count;
    return out;
  }
  void lines(std::vector<std::string>& out) {
    const std::uint64_t count = number();
    for (std::uint64_t i = 0; i < count && ok_; ++i) out.push_back(chars());
  }

 private:
  template <typename T>
  T narrow(std::uint64_t value) {
    if (value > std::numeric_limits<T>::max()) ok_ = false;
    return static_cast<T>(value);
  }
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

std::uint32_t getU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < 4; ++k) value |= static_cast<std::uint32_t>(bytes[at + k]) << (8 * k);
  return value;
}

JobRecord readAccepted(Reader& in, std::uint64_t id) {
  JobRecord record;
  record.id = id;
  record.acceptedMs = static_cast<std::int64_t>(in.number());
  record.printerName = in.units();
  record.jobId = in.u32();
  record.copyCount = in.u32();
  record.modelFirstUnit = static_cast<char16_t>(in.u32());
  record.cutMode = in.u32();
  if (in.u8() != 0) record.sender = in.u32();
  return record;
}

CopyRecord readCopy(Reader& in) {
  CopyRecord copy;
  copy.copy = in.u32();
  const std::uint8_t flags = in.u8();
  copy.ended = (flags & 1) != 0;
  copy.lastPage = (flags & 2) != 0;
  copy.heightClassAfter = in.u8();
  copy.stopPage = in.u32();
  const std::uint64_t count = in.number();
  for (std::uint64_t i = 0; i < count && in.ok(); ++i) copy.pages.push_back(in.number());
  return copy;
}

void addCopy(JobRecord& record, CopyRecord copy) {
  auto it = std::find_if(record.copies.begin(), record.copies.end(),
                         [&](const CopyRecord& c) { return c.copy >= copy.copy; });
  if (it != record.copies.end() && it->copy == copy.copy) {
    *it = std::move(copy);
  } else {
    record.copies.insert(it, std::move(copy));
  }
}

/// Applies one payload to the records; false when the payload is malformed, and then
/// nothing is changed: each entry is read whole before any record takes it.
bool apply(std::span<const std::uint8_t> payload, std::vector<JobRecord>& records,
           std::map<std::uint64_t, std::size_t>& byId) {
  Reader in(payload);
  const std::uint8_t type = in.u8();
  const std::uint64_t id = in.number();
  if (!in.ok()) return false;
  if (type == static_cast<std::uint8_t>(EntryType::kAccepted)) {
    JobRecord record = readAccepted(in, id);
    if (!in.ok()) return false;
    if (byId.count(id) != 0) return true;  // a number taken twice keeps its first record
    byId[id] = records.size();
    records.push_back(std::move(record));
    return true;
  }
  const auto found = byId.find(id);
  JobRecord scratch;  // an entry of an unknown record is read and passed over
  JobRecord& record = found == byId.end() ? scratch : records[found->second];
  switch (static_cast<EntryType>(type)) {
    case EntryType::kResumed: {
      const auto atMs = static_cast<std::int64_t>(in.number());
      if (!in.ok()) return false;
      record.resumedMs.push_back(atMs);
      return true;
    }
    case EntryType::kEmptyPage: {
      const std::uint32_t page = in.u32();
      if (!in.ok()) return false;
      if (!record.isEmptyPage(page)) {
        record.emptyPages.insert(
            std::upper_bound(record.emptyPages.begin(), record.emptyPages.end(), page), page);
      }
      return true;
    }
    case EntryType::kCopy: {
      CopyRecord copy = readCopy(in);
      std::vector<std::string> lines;
      in.lines(lines);
      if (!in.ok()) return false;
      record.lines.insert(record.lines.end(), std::make_move_iterator(lines.begin()),
                          std::make_move_iterator(lines.end()));
      addCopy(record, std::move(copy));
      return true;
    }
    case EntryType::kOutcome: {
      const std::uint8_t outcome = in.u8();
      const auto endedMs = static_cast<std::int64_t>(in.number());
      std::vector<std::string> lines;
      in.lines(lines);
      const std::uint32_t dropped = in.u32();
      if (!in.ok() || outcomeName(static_cast<Outcome>(outcome)).empty()) return false;
      record.outcome = static_cast<Outcome>(outcome);
      record.endedMs = endedMs;
      record.lines.insert(record.lines.end(), std::make_move_iterator(lines.begin()),
                          std::make_move_iterator(lines.end()));
      record.linesDropped += dropped;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

std::string_view outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kPrinted:
      return "printed";
    case Outcome::kIncomplete:
      return "incomplete";
    case Outcome::kAbandoned:
      return "abandoned";
    case Outcome::kFailed:
      return "failed";
    case Outcome::kInterrupted:
      return "interrupted";
    case Outcome::kExpired:
      return "expired";
  }
  return {};
}

std::uint32_t JobRecord::copiesSent() const {
  return static_cast<std::uint32_t>(
      std::count_if(copies.begin(), copies.end(), [](const CopyRecord& c) { return c.ended; }));
}

std::uint64_t JobRecord::pagesSent() const {
  std::uint64_t pages = 0;
  for (const CopyRecord& c : copies) {
    if (c.ended) pages += c.pages.size();
  }
  return pages;
}

std::uint64_t JobRecord::bytesSent() const {
  std::uint64_t bytes = 0;
  for (const CopyRecord& c : copies) {
    if (!c.ended) continue;
    for (std::uint64_t page : c.pages) bytes += page;
  }
  return bytes;
}

bool JobRecord::isEmptyPage(std::uint32_t page) const {
  return std::binary_search(emptyPages.begin(), emptyPages.end(), page);
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t c = 0xFFFFFFFFu;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    const std::uint32_t low =
        c ^ (static_cast<std::uint32_t>(bytes[i]) | static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
             static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
             static_cast<std::uint32_t>(bytes[i + 3]) << 24);
    c = kCrc[7][low & 0xFF] ^ kCrc[6][(low >> 8) & 0xFF] ^ kCrc[5][(low >> 16) & 0xFF] ^
        kCrc[4][low >> 24] ^ kCrc[3][bytes[i + 4]] ^ kCrc[2][bytes[i + 5]] ^ kCrc[1][bytes[i + 6]] ^
        kCrc[0][bytes[i + 7]];
  }
  for (; i < bytes.size(); ++i) c = kCrc[0][(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

Bytes acceptedEntry(const JobRecord& record) {
  Writer out(EntryType::kAccepted, record.id);
  out.number(static_cast<std::uint64_t>(record.acceptedMs));
  out.text(std::u16string_view(record.printerName));
  out.number(record.jobId);
  out.number(record.copyCount);
  out.number(record.modelFirstUnit);
  out.number(record.cutMode);
  out.number(record.sender ? 1 : 0);
  if (record.sender) out.number(*record.sender);
  return out.frame();
}

Bytes resumedEntry(std::uint64_t id, std::int64_t atMs) {
  Writer out(EntryType::kResumed, id);
  out.number(static_cast<std::uint64_t>(atMs));
  return out.frame();
}

Bytes emptyPageEntry(std::uint64_t id, std::uint32_t page) {
  Writer out(EntryType::kEmptyPage, id);
  out.number(page);
  return out.frame();
}

Bytes copyEntry(std::uint64_t id, const CopyRecord& copy, std::span<const std::string> lines) {
  Writer out(EntryType::kCopy, id);
  out.number(copy.copy);
  out.number((copy.ended ? 1u : 0u) | (copy.lastPage ? 2u : 0u));
  out.number(copy.heightClassAfter);
  out.number(copy.stopPage);
  out.number(copy.pages.size());
  for (std::uint64_t page : copy.pages) out.number(page);
  out.lines(lines);
  return out.frame();
}

Bytes outcomeEntry(std::uint64_t id, Outcome outcome, std::int64_t endedMs,
                   std::span<const std::string> lines, std::uint32_t linesDropped) {
  Writer out(EntryType::kOutcome, id);
  out.number(static_cast<std::uint8_t>(outcome));
  out.number(static_cast<std::uint64_t>(endedMs));
  out.lines(lines);
  out.number(linesDropped);
  return out.frame();
}

bool scanJournal(std::span<const std::uint8_t> bytes, JournalIndex& out) {
  out = {};
  if (bytes.empty()) return true;
  if (bytes.size() < kJournalMark.size() ||
      !std::equal(kJournalMark.begin(), kJournalMark.end(), bytes.begin())) {
    return false;
  }
  std::size_t at = kJournalMark.size();
  while (bytes.size() - at >= kFrameHeader) {
    const std::uint32_t length = getU32(bytes, at);
    if (length > kMaxPayload || length > bytes.size() - at - kFrameHeader) break;
    const auto payload = bytes.subspan(at + kFrameHeader, length);
    if (crc32(payload) != getU32(bytes, at + 4)) break;
    Reader in(payload);
    const std::uint8_t type = in.u8();
    const std::uint64_t id = in.number();
    if (!in.ok() || type < static_cast<std::uint8_t>(EntryType::kAccepted) ||
        type > static_cast<std::uint8_t>(EntryType::kOutcome)) {
      break;
    }
    out.entries.push_back({id, type, at, kFrameHeader + length});
    at += kFrameHeader + length;
  }
  out.readableBytes = at;
  out.tornBytes = bytes.size() - at;
  return true;
}

bool readJournal(std::span<const std::uint8_t> bytes, JournalContents& out) {
  out = {};
  JournalIndex index;
  if (!scanJournal(bytes, index)) return false;
  std::map<std::uint64_t, std::size_t> byId;
  for (const EntrySpan& entry : index.entries) {
    // A whole entry that does not read (damage its checksum missed, a later version's
    // field) is passed over like one of an unknown record, so the entries after it stay
    // readable and the reader and the compaction agree on what the journal holds.
    const auto payload = bytes.subspan(entry.offset + kFrameHeader, entry.size - kFrameHeader);
    (void)apply(payload, out.records, byId);
  }
  out.readableBytes = index.readableBytes;
  out.tornBytes = index.tornBytes;
  return true;
}

Bytes compactJournal(std::span<const std::uint8_t> bytes, const JournalIndex& index,
                     std::size_t keepFinished, std::size_t& finished) {
  // Records in the order they were accepted, and those with an outcome.
  std::vector<std::uint64_t> accepted;
  std::unordered_set<std::uint64_t> ended;
  for (const EntrySpan& entry : index.entries) {
    if (entry.type == static_cast<std::uint8_t>(EntryType::kAccepted)) accepted.push_back(entry.id);
    if (entry.type == static_cast<std::uint8_t>(EntryType::kOutcome)) ended.insert(entry.id);
  }
  std::unordered_set<std::uint64_t> kept;
  finished = 0;
  for (auto it = accepted.rbegin(); it != accepted.rend(); ++it) {
    if (ended.count(*it) == 0) {
      kept.insert(*it);
    } else if (finished < keepFinished) {
      kept.insert(*it);
      ++finished;
    }
  }
  Bytes out(kJournalMark.begin(), kJournalMark.end());
  out.reserve(bytes.size());
  for (const EntrySpan& entry : index.entries) {
    if (kept.count(entry.id) == 0) continue;
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(entry.offset);
    out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(entry.size));
  }
  return out;
}

}  // namespace job
