// The scheduler's state of a process or thread, as /proc shows it: the POSIX tests and
// the end-to-end tests wait on it instead of waiting a while.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace posixtest {

/// The state letter of the task whose stat file is `statPath` (/proc/PID/stat or
/// /proc/self/task/TID/stat): 'S' asleep, 'T' stopped by a signal, ...; 0 when it can't
/// be read. It follows the command name, which may itself hold a ')'.
inline char procState(const std::string& statPath) {
  std::ifstream stat(statPath);
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t paren = text.rfind(')');
  return paren != std::string::npos && paren + 2 < text.size() ? text[paren + 2] : '\0';
}

}  // namespace posixtest
