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

/// Reads the file `path` (relative to the folder `dirFd`) when it holds at most `limit`
/// bytes. False with `err` set to an errno value otherwise: ENOENT when it is missing or
/// not a regular file, EFBIG when it is larger than `limit`.
bool readSmallFile(int dirFd, const char* path, std::size_t limit, std::string& out, int& err);

/// The names in the folder `path` (relative to `dirFd`), "." and ".." left out, in no
/// particular order; false with `err` set when the folder can't be read.
bool listFolder(int dirFd, const char* path, std::vector<std::string>& names, int& err);

/// True when `name` exists in the folder `dirFd` (a symbolic link is not followed).
bool existsAt(int dirFd, const char* name);

}  // namespace posix
