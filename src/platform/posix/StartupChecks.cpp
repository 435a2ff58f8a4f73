// Start-up checks of the Linux relay.
#include "platform/posix/StartupChecks.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace posix {

std::string folderProblem(const std::string& path, FolderUse use) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
  int mode = X_OK;
  if (use == FolderUse::kRead) mode |= R_OK;
  if (use == FolderUse::kWrite || use == FolderUse::kPrivate) mode |= W_OK;
  // The relay's effective user is the one that counts.
  if (::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) != 0) return std::strerror(errno);
  if (use == FolderUse::kPrivate) {
    if (st.st_uid != ::geteuid()) return "it belongs to another account";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "other accounts may write to it";
  }
  return {};
}

bool raiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur == limit.rlim_max) return true;
  limit.rlim_cur = limit.rlim_max;
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace posix
