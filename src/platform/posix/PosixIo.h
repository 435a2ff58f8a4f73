// Whole reads and writes on descriptors, retried across EINTR and partial transfers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace posix {

/// Writes every byte; false (errno set) when a write fails.
bool writeAll(int fd, std::span<const std::uint8_t> bytes);
bool writeAll(int fd, std::string_view text);

/// Reads from `offset` until `dest` is full or the file ends; the count read, or -1 with
/// errno set when a read fails.
ssize_t readAt(int fd, std::span<std::uint8_t> dest, off_t offset);

/// Opens `path`, relative to the folder `dirFd`, without following a symbolic link at
/// any step and without leaving the folder: openat2() with RESOLVE_BENEATH and
/// RESOLVE_NO_SYMLINKS where the kernel has it, otherwise openBeneathStepwise(). Adds
/// O_CLOEXEC, O_NOCTTY and O_NONBLOCK, so a FIFO never blocks the open; callers that
/// read check for a regular file. -1 with errno set (ELOOP for a link) on failure.
int openBeneath(int dirFd, const char* path, int flags, mode_t mode = 0);

/// The same without openat2(): each folder on the way is opened in turn with
/// O_DIRECTORY | O_NOFOLLOW, the last name with O_NOFOLLOW; "..", "." and absolute
/// paths fail with EXDEV.
int openBeneathStepwise(int dirFd, const char* path, int flags, mode_t mode = 0);

/// Reads the regular file `path` (relative to the folder `dirFd`, opened with
/// openBeneath()) when it holds at most `limit` bytes. False with `err` set to an errno
/// value otherwise: ENOENT when it is missing or not a regular file, ELOOP when a link
/// is on the way, EFBIG when it is larger than `limit`. `owner`, when given, receives
/// the file's owner.
bool readSmallFile(int dirFd, const char* path, std::size_t limit, std::string& out, int& err,
                   std::uint32_t* owner = nullptr);

/// The names in the folder `path` (relative to `dirFd`, opened with openBeneath()), "."
/// and ".." left out, in no particular order; false with `err` set when the folder can't
/// be read.
bool listFolder(int dirFd, const char* path, std::vector<std::string>& names, int& err);

/// True when `path` exists below the folder `dirFd`, reached without following a link
/// on the way (a link as the last name exists).
bool existsAt(int dirFd, const char* path);

}  // namespace posix
