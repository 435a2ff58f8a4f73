// The print spooler on Windows: winspool.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "platform/Spooler.h"

namespace win32 {

/// The queue calls of a printer. Wine's EnumJobsW and SetJobW are stubs, so the tests
/// replace these with a scripted queue; the relay uses WinspoolJobQueue.
class JobQueueCalls {
 public:
  virtual ~JobQueueCalls() = default;
  virtual BOOL enumJobs(HANDLE printer, DWORD firstJob, DWORD count, DWORD level, BYTE* buffer,
                        DWORD size, DWORD* needed, DWORD* returned) = 0;
  virtual BOOL setJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* job, DWORD command) = 0;
};

/// EnumJobsW and SetJobW themselves.
class WinspoolJobQueue : public JobQueueCalls {
 public:
  BOOL enumJobs(HANDLE printer, DWORD firstJob, DWORD count, DWORD level, BYTE* buffer, DWORD size,
                DWORD* needed, DWORD* returned) override;
  BOOL setJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* job, DWORD command) override;
};

/// OpenPrinter2W with access 0x00020008 (PRINTER_ACCESS_USE | READ_CONTROL) and the
/// no-cache option; the printer's calls report through the thread's last error.
class Win32Spooler : public platform::Spooler {
 public:
  static constexpr DWORD kAccess = 0x00020008;
  static constexpr DWORD kListingSize = platform::kJobListingBytes;
  static constexpr DWORD kListingJobs = platform::kJobListingEntries;

  Win32Spooler() : queue_(winspool_) {}
  explicit Win32Spooler(JobQueueCalls& queue) : queue_(queue) {}

  std::unique_ptr<platform::Printer> open(std::u16string_view name) override;
  std::uint32_t lastError() override { return GetLastError(); }

 private:
  WinspoolJobQueue winspool_;
  JobQueueCalls& queue_;
};

}  // namespace win32
