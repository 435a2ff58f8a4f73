// The public folder and the driver's page files on Windows.
#pragma once

#include "platform/KnownFolders.h"
#include "platform/PageFiles.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32FolderWatches.h"

namespace win32 {

/// SHGetKnownFolderPath(FOLDERID_Public) with flags 0x500 (KF_FLAG_DEFAULT_PATH |
/// KF_FLAG_SIMPLE_IDLIST), so a redirected folder is never used. On failure `error` is
/// the thread's last error, or the call's HRESULT when the call left no last error,
/// so the reported code is never a bare 0.
class Win32KnownFolders : public platform::KnownFolders {
 public:
  bool publicFolder(std::u16string& path, std::uint32_t& error) override;
};

/// Page files opened with CreateFileW and share mode 0: a file its writer still holds
/// open fails with a sharing violation and counts as not there yet.
class Win32PageFiles : public platform::PageFiles {
 public:
  Win32PageFiles() : watches_(ownClock_) {}
  /// Waits on `pollingClock` where a folder cannot be watched.
  explicit Win32PageFiles(platform::Clock& pollingClock) : watches_(pollingClock) {}

  std::unique_ptr<platform::PageFile> open(const std::u16string& path,
                                           std::optional<std::uint32_t> sender) override;
  void remove(const std::u16string& path) override;
  /// A change notification on the folder, one per folder for all runs.
  std::unique_ptr<platform::FolderWatch> watchFolder(const std::u16string& folder) override;
  char16_t separator() const override { return u'\\'; }

 private:
  Win32Clock ownClock_;
  Win32FolderWatches watches_;
};

}  // namespace win32
