// Relays one print job: lock, printer, copies of the page files, clean-up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/DebugOutput.h"
#include "platform/KnownFolders.h"
#include "platform/NamedLock.h"
#include "platform/PageFiles.h"
#include "platform/Spooler.h"

namespace job {

/// The platform operations one run uses, handed in together.
struct JobPorts {
  platform::Spooler& spooler;
  platform::NamedLocks& locks;
  platform::KnownFolders& folders;
  platform::PageFiles& files;
  platform::Clock& clock;
  platform::DebugOutput& debug;
};

/// The fields of one job notice.
struct JobRequest {
  std::u16string_view printerName;
  std::uint32_t jobId = 0;
  std::uint32_t copyCount = 0;
  char16_t modelFirstUnit = 0;  // only the first unit of the model name is ever read
  std::uint32_t cutMode = 0;
  /// The account that posted the notice, where the endpoint tells it (a uid on Linux);
  /// none on Windows, where the mailslot does not say.
  std::optional<std::uint32_t> sender;
};

/// Relays the job: sends copyCount RAW documents built from the page files, deletes
/// the page files, and removes the driver's finished job from the queue.
void runJob(JobPorts& ports, const JobRequest& request);

/// Writes each byte of the name's UTF-16LE units in lower-case hex without leading
/// zeros ("ABC" gives "410420430"). Fails, writing nothing, for an empty name.
[[nodiscard]] bool hexEncodeName(std::u16string& out, std::u16string_view name);

/// The name of the printer's lock. A name whose hex form would not fit the 259-unit
/// lock name is keyed by its SHA-256 instead, so different names keep different locks.
std::u16string printerLockName(std::u16string_view printerName);

/// "<dir><sep>TIVORAN_<jobId>_<page>.bin", both numbers as 8 upper-case hex digits.
std::u16string pageFilePath(std::u16string_view spoolDirectory, char16_t separator,
                            std::uint32_t jobId, std::uint32_t page);

/// Deletes the driver's job `jobId` if the queue lists it as printed or complete
/// (exactly one of those two bits). Returns the spooler's result. When the notice's
/// `sender` is known and is not the superuser, only a job that belongs to the sender
/// is deleted: another account's job, or one whose owner the spooler doesn't tell, is
/// left as if it were not listed.
bool removeFinishedJob(platform::Printer& printer, std::uint32_t jobId,
                       std::optional<std::uint32_t> sender);

}  // namespace job
