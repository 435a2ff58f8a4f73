// What the Linux relay checks before it serves: the folders it works in and its limits.
#pragma once

#include <string>

namespace posix {

/// What the relay needs of a folder.
enum class FolderUse {
  kTraverse,  // reach what lies below it
  kRead,      // list it and reach what lies below it
  kWrite,     // create and delete files in it
  kPrivate,   // kWrite, in a folder of the relay's own user that no other account may write
};

/// Empty when `path` is a folder the relay can use as `use`; otherwise why not, in the
/// words of strerror() where there are some ("No such file or directory", "Not a
/// directory", "Permission denied").
std::string folderProblem(const std::string& path, FolderUse use);

/// Raises the soft limit of open descriptors to the hard limit; false when it stays lower.
bool raiseDescriptorLimit();

}  // namespace posix
