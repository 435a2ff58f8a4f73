// The job journal on POSIX: the file jobs.journal in the state folder (--state-dir,
// /var/lib/spoolrelayer by default), appended with write() and made durable with
// fdatasync(). The relay that takes it holds an flock() on the state folder, so a second
// relay on the same folder is refused.
#pragma once

#include <cstdint>
#include <string>

#include "platform/JobJournal.h"
#include "platform/posix/Fd.h"

namespace posix {

class PosixJobJournal : public platform::JobJournal {
 public:
  explicit PosixJobJournal(std::string stateDir);

  /// Creates the state folder (0750) when it is missing, but not its parents.
  bool take(std::string& why) override;
  bool read(std::vector<std::uint8_t>& bytes, std::string& why) override;
  /// A failed append is cut off again, so that the next one follows whole entries.
  bool append(std::span<const std::uint8_t> bytes, std::string& why) override;
  bool sync(std::string& why) override;
  /// Writes jobs.journal.new, syncs it, renames it over the journal and syncs the folder.
  bool replace(std::span<const std::uint8_t> bytes, std::string& why) override;
  std::int64_t nowUnixMs() override;

  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  bool openForAppend(std::string& why);
  std::string failure(const char* what, int err) const;

  std::string dir_;
  std::string path_;
  Fd dirFd_;        // the state folder, locked while the journal is taken
  Fd file_;         // the journal, opened for appending
  off_t size_ = 0;  // its length after the last whole append
};

}  // namespace posix
