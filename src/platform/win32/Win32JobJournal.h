// The job journal on Windows: the file jobs.journal in %LOCALAPPDATA%\SpoolRelayer
// (FOLDERID_LocalAppData), appended with WriteFile and made durable with
// FlushFileBuffers. The relay that takes it keeps it open without write sharing, so a
// second relay of the same user is refused; readers may still read it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/JobJournal.h"
#include "platform/win32/Win32Handle.h"

namespace win32 {

class Win32JobJournal : public platform::JobJournal {
 public:
  /// The journal in `folder`, which take() creates when it is missing (not its parents).
  explicit Win32JobJournal(std::wstring folder);
  /// The user's journal: %LOCALAPPDATA%\SpoolRelayer. An empty folder when the known
  /// folder can't be had; take() and read() then fail.
  static std::wstring defaultFolder();

  bool take(std::string& why) override;
  bool read(std::vector<std::uint8_t>& bytes, std::string& why) override;
  /// A failed append is cut off again, so that the next one follows whole entries.
  bool append(std::span<const std::uint8_t> bytes, std::string& why) override;
  bool sync(std::string& why) override;
  /// Writes jobs.journal.new, flushes it and moves it over the journal (write-through).
  bool replace(std::span<const std::uint8_t> bytes, std::string& why) override;
  std::int64_t nowUnixMs() override;

  [[nodiscard]] const std::wstring& path() const { return path_; }

 private:
  bool openForAppend(std::string& why);
  std::string failure(const char* what, DWORD error) const;

  std::wstring folder_;
  std::wstring path_;
  UniqueHandle file_;      // the journal, open for writing while taken
  std::int64_t size_ = 0;  // its length after the last whole append
};

}  // namespace win32
