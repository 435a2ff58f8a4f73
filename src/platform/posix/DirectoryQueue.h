// The job queue of a directory printer: ROOT/<printer>/queue/<jobId>, each file holding
// the job's status in decimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/Spooler.h"

namespace posix {

/// Reads the queue of the printer folder `printerDir`: the first `limit` jobs in the
/// order of their ids. A missing queue/ is an empty queue. Names that are not a job id
/// in plain decimal (no sign, no leading zero) are not jobs. A status that is not a
/// decimal number, as while its file is being written, reads as 0. A job's owner is the
/// owner of its file. A queue/ that is a link, or a job file that is a link or not a
/// regular file, is not followed.
bool readQueue(int printerDir, std::size_t limit, std::vector<platform::JobEntry>& jobs,
               std::uint32_t& error);

/// The bytes a level-1 listing of `jobs` of printer `printerName` takes. Each entry is a
/// 64-byte JOB_INFO_1 followed by its strings in UTF-16 with their NULs: the printer
/// name, the machine "localhost", the user "spoolrelayer", the document name (the queue
/// keeps none, so the job id in decimal stands for it) and the data type "RAW".
std::size_t listingBytes(std::u16string_view printerName,
                         const std::vector<platform::JobEntry>& jobs);

/// Removes queue/<jobId>; a job that is not there fails with 87.
bool removeJob(int printerDir, std::uint32_t jobId, std::uint32_t& error);

}  // namespace posix
