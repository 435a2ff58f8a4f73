#include "platform/win32/Win32Spooler.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/Win32Handle.h"

namespace win32 {
namespace {

// MinGW-w64 names the options struct without the W and gives PRINTER_OPTION_NO_CACHE as
// 0; in the Windows SDK it is PRINTER_OPTIONSW and the flag is 1 << 0.
#ifdef __MINGW32__
using PrinterOptions = PRINTER_OPTIONS;
#else
using PrinterOptions = PRINTER_OPTIONSW;
#endif
constexpr DWORD kOptionNoCache = 1;

class Win32Printer : public platform::Printer {
 public:
  Win32Printer(HANDLE printer, JobQueueCalls& queue) : printer_(printer), queue_(queue) {}
  ~Win32Printer() override { (void)ClosePrinter(printer_); }
  Win32Printer(const Win32Printer&) = delete;
  Win32Printer& operator=(const Win32Printer&) = delete;

  bool queryInfoSize(std::uint32_t& needed) override {
    DWORD size = 0;
    const BOOL ok = GetPrinterW(printer_, 2, nullptr, 0, &size);
    needed = size;
    return ok != FALSE;
  }

  bool readInfo(std::span<std::byte> block, std::u16string& portName) override {
    DWORD needed = 0;
    auto* bytes = reinterpret_cast<BYTE*>(block.data());
    if (!GetPrinterW(printer_, 2, bytes, static_cast<DWORD>(block.size()), &needed)) return false;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(bytes);
    portName = info->pPortName ? utf16(info->pPortName) : std::u16string();
    return true;
  }

  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override {
    // Read into a scratch copy so that a failed read leaves the destination untouched
    // whatever the spooler does with the buffer.
    std::wstring valueName = wideAscii(name);
    std::vector<std::uint8_t> scratch(std::max<std::size_t>(dest.size(), 1));
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD result = GetPrinterDataW(printer_, valueName.data(), &type, scratch.data(),
                                         static_cast<DWORD>(dest.size()), &needed);
    if (result == ERROR_SUCCESS) {
      std::copy_n(scratch.begin(), std::min<std::size_t>(needed, dest.size()), dest.begin());
    }
    return result;
  }

  bool startDoc(const platform::DocInfo& info) override {
    std::wstring docName = wide(info.docName);
    std::wstring dataType = wide(info.dataType);
    std::wstring outputFile = info.outputFile ? wide(*info.outputFile) : std::wstring();
    DOC_INFO_1W doc{docName.data(), info.outputFile ? outputFile.data() : nullptr, dataType.data()};
    return StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE*>(&doc)) != 0;
  }

  bool startPage() override { return StartPagePrinter(printer_) != FALSE; }

  bool write(std::span<const std::uint8_t> bytes) override {
    DWORD written = 0;
    return WritePrinter(printer_, const_cast<std::uint8_t*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()), &written) != FALSE;
  }

  bool endPage() override { return EndPagePrinter(printer_) != FALSE; }
  bool endDoc() override { return EndDocPrinter(printer_) != FALSE; }

  bool enumJobs(std::vector<platform::JobEntry>& entries) override {
    // The entries and their strings share the listing; it stays here for deleteJob.
    listing_.assign(Win32Spooler::kListingSize, 0);
    listed_.clear();
    DWORD needed = 0;
    DWORD returned = 0;
    const BOOL ok = queue_.enumJobs(printer_, 0, Win32Spooler::kListingJobs, 1, listing_.data(),
                                    Win32Spooler::kListingSize, &needed, &returned);
    if (!ok) return false;
    const std::size_t fit = listing_.size() / sizeof(JOB_INFO_1W);
    for (std::size_t i = 0; i < std::min<std::size_t>(returned, fit); ++i) {
      JOB_INFO_1W job;
      std::memcpy(&job, listing_.data() + i * sizeof job, sizeof job);
      listed_.push_back(job);
      entries.push_back({job.JobId, job.Status, std::nullopt});
    }
    return true;
  }

  bool deleteJob(const platform::JobEntry& entry) override {
    // Hand SetJobW the listed entry itself; one that was never listed gets a bare entry.
    JOB_INFO_1W job{};
    job.JobId = entry.jobId;
    job.Status = entry.status;
    const auto listed = std::find_if(listed_.begin(), listed_.end(), [&](const JOB_INFO_1W& j) {
      return j.JobId == entry.jobId && j.Status == entry.status;
    });
    if (listed != listed_.end()) job = *listed;
    return queue_.setJob(printer_, entry.jobId, 1, reinterpret_cast<BYTE*>(&job),
                         JOB_CONTROL_DELETE) != FALSE;
  }

 private:
  HANDLE printer_;
  JobQueueCalls& queue_;
  std::vector<BYTE> listing_;
  std::vector<JOB_INFO_1W> listed_;
};

}  // namespace

BOOL WinspoolJobQueue::enumJobs(HANDLE printer, DWORD firstJob, DWORD count, DWORD level,
                                BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned) {
  return EnumJobsW(printer, firstJob, count, level, buffer, size, needed, returned);
}

BOOL WinspoolJobQueue::setJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* job, DWORD command) {
  return SetJobW(printer, jobId, level, job, command);
}

std::unique_ptr<platform::Printer> Win32Spooler::open(std::u16string_view name) {
  std::wstring printerName = wide(name);
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, kAccess};
  PrinterOptions options{sizeof(PrinterOptions), kOptionNoCache};
  HANDLE printer = nullptr;
  if (!OpenPrinter2W(printerName.c_str(), &printer, &defaults, &options)) return nullptr;
  return std::make_unique<Win32Printer>(printer, queue_);
}

}  // namespace win32
