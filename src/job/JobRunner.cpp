#include "job/JobRunner.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "base/Sha256.h"
#include "job/PageSender.h"
#include "page/PageBuffer.h"
#include "page/PageProcessor.h"
#include "page/PrinterSettings.h"

namespace job {
namespace {

constexpr char16_t kLockPrefix[] = u"{5E21C7D4-8A03-4b6e-9F12-3C7B0D4A6E91}_";
constexpr std::size_t kNameUnits = 259;  // a name buffer holds 260 units with the NUL
constexpr std::uint32_t kPageWaits = 300;
constexpr std::uint32_t kPageWaitMs = 100;
constexpr int kDocStartRetries = 3;
constexpr std::uint32_t kDocStartWaitMs = 10;

void appendHex(std::u16string& out, std::uint32_t value, int digits, bool upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out += static_cast<char16_t>(set[(value >> shift) & 15]);
}

/// One run of one job: the per-job state and the steps that use it.
class JobRun {
 public:
  JobRun(JobPorts& ports, const JobRequest& request) : ports_(ports), request_(request) {}

  void run() {
    if (prepare()) {
      bool abandoned = false;
      for (std::uint32_t copy = 0; copy < request_.copyCount && !abandoned; ++copy) {
        abandoned = !sendCopy();
      }
      if (!abandoned) deletePageFiles();
    }
    tail();
  }

 private:
  /// Lock, folder, printer, document information, settings and output buffer.
  /// False sends the run to its tail.
  bool prepare() {
    if (!acquirePrinterLock()) {
      debug().write("CreateMutex - Error \n");
      return false;
    }
    std::u16string folder;
    std::uint32_t error = 0;
    if (!ports_.folders.publicFolder(folder, error)) {
      debug().report("SHGetKnownFolderPath Error : 0x%08x \n", error);
      return false;
    }
    spoolDirectory_ = folder + ports_.files.separator() + u"TIVORAN";
    printer_ = ports_.spooler.open(request_.printerName);
    if (!printer_) {
      debug().write("OpenPrinter Error \n");
      return false;
    }
    if (!queryDocInfo()) {
      debug().write("SetOutputFile Error \n");
      return false;
    }
    loadJobSettings(*printer_, request_.modelFirstUnit, settings_);
    output_ = page::OutputBuffer::allocate();
    if (!output_.ok()) {
      debug().write("pWritePrinter_Temp malloc Error \n");
      return false;
    }
    return true;
  }

  bool acquirePrinterLock() {
    bool existed = false;
    lock_ = ports_.locks.create(printerLockName(request_.printerName), existed);
    if (!lock_) {
      debug().write("CreateMutex - Error \n");
      return false;
    }
    if (existed && !lock_->wait()) {
      debug().write("CreateMutex - WaitForSingleObject - Error \n");
      return false;
    }
    return true;
  }

  bool queryDocInfo() {
    std::uint32_t needed = 0;
    if (printer_->queryInfoSize(needed) ||
        ports_.spooler.lastError() != platform::kErrorInsufficientBuffer) {
      debug().write("GetPrinter1 Error \n");
      return false;
    }
    base::HeapBlock block = base::HeapBlock::zeroed(needed == 0 ? 1 : needed);
    if (!block.ok()) {
      debug().write("GetPrinter malloc Error \n");
      return false;
    }
    std::u16string port;
    if (!printer_->readInfo(std::as_writable_bytes(block.span().first(needed)), port)) {
      debug().write("GetPrinter2 Error \n");
      return false;
    }
    docInfo_.docName = u"My Document";
    if (port == u"FILE:") docInfo_.outputFile = u"SpoolRelayer_00.bin";
    docInfo_.dataType = u"RAW";
    return true;
  }

  void startDocument() {
    bool started = printer_->startDoc(docInfo_);
    while (!started && retriesAndWaits_ <= kDocStartRetries) {
      ++retriesAndWaits_;
      debug().report("StartDocPrinter Error : 0x%08x \n", ports_.spooler.lastError());
      ports_.clock.sleepMs(kDocStartWaitMs);
      started = printer_->startDoc(docInfo_);
    }
    // Without a started document the copy goes on regardless.
    retriesAndWaits_ = 0;
  }

  /// Sends one copy; false when the job is abandoned.
  bool sendCopy() {
    pageIndex_ = 1;
    startDocument();
    page::PageJob pageJob{.modelFirstUnit = request_.modelFirstUnit,
                          .cutMode = request_.cutMode,
                          .settings = settings_,
                          .output = output_,
                          .heightClass = heightClass_,
                          .printer = *printer_,
                          .debug = debug()};
    bool abandoned = false;
    while (sendPageAttempt(pageJob, abandoned)) {
    }
    heightClass_ = pageJob.heightClass;
    if (abandoned) return false;
    (void)printer_->endDoc();
    return true;
  }

  /// One page attempt. Returns true while the copy goes on; false when it ends (the
  /// document is then ended) or, with `abandoned` set, when the job is abandoned.
  bool sendPageAttempt(page::PageJob& pageJob, bool& abandoned) {
    output_.reset();
    const std::u16string path =
        pageFilePath(spoolDirectory_, ports_.files.separator(), request_.jobId, pageIndex_);
    if (!folderWatch_) folderWatch_ = ports_.files.watchFolder(spoolDirectory_);
    std::unique_ptr<platform::PageFile> file = ports_.files.open(path, request_.sender);
    if (!file) {
      if (retriesAndWaits_ >= kPageWaits) return false;
      waitForPageFile();
      return true;
    }
    if (!printer_->startPage()) {
      debug().write("StartPagePrinter Error \n");
      pauseEndMs_.reset();  // the copy ends; the next one counts its own pauses
      return false;
    }
    std::uint64_t fullSize = 0;
    const bool sized = file->size(fullSize);
    const auto size = static_cast<std::uint32_t>(fullSize);
    if (!sized || size == 0) {
      ++pageIndex_;
      debug().write("GetFileSizeEx FALSE \n");
      (void)printer_->endPage();
      file.reset();
      ports_.files.remove(path);
      return true;
    }
    std::optional<page::PageBuffer> pageBuffer = loadPage(*file, size, debug());
    if (!pageBuffer) {
      abandoned = true;
      return false;
    }
    // The page is processed and, after the document's last page, closed by one 0x00.
    const bool lastPage = sendLoadedPage(*pageBuffer, pageJob);
    pauseEndMs_.reset();  // a page sent starts the count of pauses again
    pageBuffer.reset();
    file.reset();
    ++pageIndex_;
    retriesAndWaits_ = 0;
    (void)printer_->endPage();
    return !lastPage;
  }

  /// Waits for the rest of the current 100 ms pause, or less when the folder changes
  /// first. A pause counts once its 100 ms have passed on the clock, however many changes
  /// woke the run during it, so the waits for a page file still end after 300 pauses of
  /// 100 ms. A pause under way when a file opens goes on after a skipped empty file and
  /// ends with a page sent or with the copy, as the count itself does.
  void waitForPageFile() {
    const std::uint64_t now = ports_.clock.nowMs();
    if (!pauseEndMs_) pauseEndMs_ = now + kPageWaitMs;
    if (now < *pauseEndMs_) {
      (void)folderWatch_->waitForChange(static_cast<std::uint32_t>(*pauseEndMs_ - now));
    }
    if (ports_.clock.nowMs() >= *pauseEndMs_) {
      ++retriesAndWaits_;
      pauseEndMs_.reset();
    }
  }

  /// Deletes the page files below the number where the last copy stopped, always
  /// including page number 0.
  void deletePageFiles() {
    std::uint32_t j = 0;
    do {
      ports_.files.remove(
          pageFilePath(spoolDirectory_, ports_.files.separator(), request_.jobId, j));
      ++j;
    } while (j < pageIndex_);
  }

  void tail() {
    if (printer_) {
      (void)removeFinishedJob(*printer_, request_.jobId, request_.sender);
      printer_.reset();
    }
    if (lock_) {
      lock_->release();
      lock_.reset();
    }
  }

  platform::DebugOutput& debug() { return ports_.debug; }

  JobPorts& ports_;
  const JobRequest& request_;
  std::unique_ptr<platform::NamedLockHandle> lock_;
  std::u16string spoolDirectory_;
  std::unique_ptr<platform::Printer> printer_;
  platform::DocInfo docInfo_;
  PrinterSettings settings_;
  page::OutputBuffer output_;
  std::unique_ptr<platform::FolderWatch> folderWatch_;  // made before the first page's open
  std::optional<std::uint64_t> pauseEndMs_;             // the end of the pause under way
  std::uint32_t pageIndex_ = 0;
  /// One count serves the document-start retries and the page-file waits alike: it is 0
  /// before the first copy and after each document start and each page sent, and left
  /// alone when a copy starts or an empty file is skipped. So a copy that follows one
  /// ended by a missing page file starts its document with the count at 300 and makes a
  /// single attempt. Two counts would give later copies their own retries and change the
  /// calls the spooler sees; the one count keeps them as they are.
  std::uint32_t retriesAndWaits_ = 0;
  std::uint8_t heightClass_ = 0;
};

}  // namespace

bool hexEncodeName(std::u16string& out, std::u16string_view name) {
  if (name.empty()) return false;
  for (char16_t unit : name) {
    for (std::uint32_t byte : {unit & 0xFFu, static_cast<std::uint32_t>(unit) >> 8}) {
      if (byte >= 0x10) appendHex(out, byte >> 4, 1, false);
      appendHex(out, byte & 15, 1, false);
    }
  }
  return true;
}

std::u16string printerLockName(std::u16string_view printerName) {
  std::u16string hex;
  (void)hexEncodeName(hex, printerName);
  std::u16string name = kLockPrefix;
  if (name.size() + hex.size() <= kNameUnits) return name + hex;
  // Too long for the lock name: key it by the digest of the name's bytes instead.
  // A '#' never occurs in the hex form, so the two kinds of names can't meet.
  std::vector<std::uint8_t> raw;
  for (char16_t unit : printerName) {
    raw.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    raw.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  name += u'#';
  for (char c : base::sha256Hex(raw)) name += static_cast<char16_t>(static_cast<unsigned char>(c));
  return name;
}

std::u16string pageFilePath(std::u16string_view spoolDirectory, char16_t separator,
                            std::uint32_t jobId, std::uint32_t page) {
  std::u16string path(spoolDirectory);
  path += separator;
  path += u"TIVORAN_";
  appendHex(path, jobId, 8, true);
  path += u'_';
  appendHex(path, page, 8, true);
  path += u".bin";
  return path;
}

bool removeFinishedJob(platform::Printer& printer, std::uint32_t jobId,
                       std::optional<std::uint32_t> sender) {
  std::vector<platform::JobEntry> entries;
  const bool listed = printer.enumJobs(entries);
  const bool anyOwner = !sender || *sender == platform::kSuperuser;
  for (const platform::JobEntry& entry : entries) {
    if (entry.jobId == jobId && (entry.status == platform::kJobStatusPrinted ||
                                 entry.status == platform::kJobStatusComplete)) {
      if (!anyOwner && entry.owner != sender) return listed;  // another account's job
      return printer.deleteJob(entry);
    }
  }
  return listed;
}

void runJob(JobPorts& ports, const JobRequest& request) {
  const platform::DebugRunScope lines(ports.debug, request.printerName, request.jobId);
  JobRun(ports, request).run();
}

}  // namespace job
