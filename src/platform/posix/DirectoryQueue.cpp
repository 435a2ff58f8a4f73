// Reading and listing the queue of a directory printer.
#include "platform/posix/DirectoryQueue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "platform/posix/Fd.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/PosixIo.h"

namespace posix {
namespace {

constexpr std::size_t kEntryBytes = 64;  // JOB_INFO_1 in its 32-bit layout

/// A decimal number that fits 32 bits, written without sign or leading zeros.
std::optional<std::uint32_t> parseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text.front() == '0')) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

/// The status in queue/<id>, and the account its file belongs to; false when the job has
/// left the queue since it was listed.
bool readStatus(int printerDir, std::uint32_t jobId, platform::JobEntry& entry) {
  std::string text;
  int err = 0;
  std::uint32_t owner = 0;
  const std::string path = "queue/" + std::to_string(jobId);
  std::uint32_t& status = entry.status;
  if (!readSmallFile(printerDir, path.c_str(), 64, text, err, &owner)) {
    status = 0;
    return err != ENOENT;
  }
  entry.owner = owner;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  status = parseDecimal(text).value_or(0);
  return true;
}

}  // namespace

bool readQueue(int printerDir, std::size_t limit, std::vector<platform::JobEntry>& jobs,
               std::uint32_t& error) {
  jobs.clear();
  std::vector<std::string> names;
  int err = 0;
  if (!listFolder(printerDir, "queue", names, err)) {
    if (err == ENOENT) return true;
    error = systemError(err);
    return false;
  }
  std::vector<std::uint32_t> ids;
  for (const std::string& name : names) {
    if (auto id = parseDecimal(name)) ids.push_back(*id);
  }
  std::sort(ids.begin(), ids.end());
  for (std::uint32_t id : ids) {
    if (jobs.size() == limit) break;
    platform::JobEntry entry{id, 0, std::nullopt};
    if (readStatus(printerDir, id, entry)) jobs.push_back(entry);
  }
  return true;
}

std::size_t listingBytes(std::u16string_view printerName,
                         const std::vector<platform::JobEntry>& jobs) {
  constexpr std::size_t kFixedUnits = sizeof "localhost" + sizeof "spoolrelayer" + sizeof "RAW";
  std::size_t bytes = 0;
  for (const platform::JobEntry& job : jobs) {
    const std::size_t units =
        printerName.size() + 1 + kFixedUnits + std::to_string(job.jobId).size() + 1;
    bytes += kEntryBytes + 2 * units;
  }
  return bytes;
}

bool removeJob(int printerDir, std::uint32_t jobId, std::uint32_t& error) {
  // The name is removed from the queue folder itself, never through a link to another.
  Fd queue(openBeneath(printerDir, "queue", O_RDONLY | O_DIRECTORY));
  if (queue && ::unlinkat(queue.get(), std::to_string(jobId).c_str(), 0) == 0) return true;
  error = errno == ENOENT ? platform::kErrorInvalidParameter : lastSystemError();
  return false;
}

}  // namespace posix
