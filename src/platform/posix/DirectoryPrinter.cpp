// An open printer of the directory spooler.
#include "platform/posix/DirectoryPrinter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/Utf.h"
#include "platform/posix/DirectoryQueue.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/PosixIo.h"
#include "platform/posix/SpoolerRules.h"

namespace posix {
namespace {

constexpr std::size_t kPortLimit = 4096;

bool fail(std::uint32_t error) {
  return failWith(error);
}

}  // namespace

bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

DirectoryPrinter::DirectoryPrinter(Fd folder, std::u16string name, std::string path)
    : folder_(std::move(folder)), name_(std::move(name)), path_(std::move(path)) {}

bool DirectoryPrinter::failDocument(const std::string& what, std::uint32_t error) {
  std::string reason;
  if (error == platform::kErrorNoMoreFiles) {
    reason = "no document number is left";
  } else if (error == platform::kErrorInvalidName) {
    reason = "the output file name can't be used";
  } else {
    reason = systemErrorText(error);
  }
  setSpoolerFailure(
      error, "spoolrelayer: printer " + base::toUtf8(name_) + ": " + what + ": " + reason + " \n");
  return false;
}

namespace {
std::string documentName(const DirectoryDocument& document) {
  char number[16];
  std::snprintf(number, sizeof number, "%08u", static_cast<unsigned>(document.number()));
  return std::string("document ") + number;
}
}  // namespace

bool DirectoryPrinter::present() {
  // A removed folder stays open here but has no links left.
  struct stat st {};
  if (::fstat(folder_.get(), &st) == 0 && st.st_nlink > 0) return true;
  return fail(platform::kErrorInvalidPrinterName);
}

bool DirectoryPrinter::readPort(std::u16string& port) {
  std::string text;
  int err = 0;
  if (!readSmallFile(folder_.get(), "port", kPortLimit, text, err)) {
    if (err != ENOENT) return fail(systemError(err));
    port = u"DIR:";
    return true;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  port = base::toUtf16(text);
  return true;
}

bool DirectoryPrinter::queryInfoSize(std::uint32_t& needed) {
  std::u16string port;
  if (!present() || !readPort(port)) return false;
  needed = printerInfoSize(name_, port);
  return fail(platform::kErrorInsufficientBuffer);
}

bool DirectoryPrinter::readInfo(std::span<std::byte> block, std::u16string& portName) {
  std::u16string port;
  if (!present() || !readPort(port)) return false;
  // The port may have changed since the size was asked for.
  if (block.size() < printerInfoSize(name_, port)) return fail(platform::kErrorInsufficientBuffer);
  writePrinterInfo(block, name_, port);
  portName = port;
  return true;
}

std::uint32_t DirectoryPrinter::getData(std::string_view name, std::span<std::uint8_t> dest) {
  if (!present()) return platform::kErrorInvalidPrinterName;
  if (!isPlainName(name)) return platform::kErrorFileNotFound;
  const std::string path = "data/" + std::string(name);
  std::string value;
  int err = 0;
  if (!readSmallFile(folder_.get(), path.c_str(), dest.size(), value, err)) {
    if (err == EFBIG) return platform::kErrorMoreData;
    if (err == ENOENT || err == ENOTDIR) return platform::kErrorFileNotFound;
    return systemError(err);
  }
  if (!value.empty()) std::memcpy(dest.data(), value.data(), value.size());
  return platform::kErrorSuccess;
}

DirectoryPrinter::~DirectoryPrinter() {
  (void)settleDoc();
}

bool DirectoryPrinter::settleDoc() {
  if (!unsettled_) return true;
  const Fd changed = std::move(unsettled_);
  if (::fsync(changed.get()) == 0) return true;
  return failDocument(settle_ + " published but not synced in " + path_, lastSystemError());
}

bool DirectoryPrinter::startDoc(const platform::DocInfo& info) {
  (void)settleDoc();
  if (!present()) return false;
  if (document_) return fail(platform::kErrorInvalidPrinterState);
  std::uint32_t error = 0;
  document_ = DirectoryDocument::start(folder_.get(), info, error);
  documentFailure_.clear();
  if (document_) return true;
  return failDocument("document not started in " + path_ + "/documents", error);
}

bool DirectoryPrinter::startPage() {
  std::uint32_t error = 0;
  if (!present()) return false;
  if (!document_) return fail(platform::kErrorNoStartDoc);
  return document_->startPage(error) || fail(error);
}

bool DirectoryPrinter::write(std::span<const std::uint8_t> bytes) {
  std::uint32_t error = 0;
  if (!present()) return false;
  if (!document_) return fail(platform::kErrorNoStartDoc);
  if (document_->write(bytes, error)) return true;
  if (error == platform::kErrorInvalidPrinterState) return fail(error);
  failDocument(documentName(*document_) + " not written in " + path_ + "/documents", error);
  documentFailure_ = spoolerFailureLine();
  return false;
}

bool DirectoryPrinter::endPage() {
  std::uint32_t error = 0;
  if (!present()) return false;
  if (!document_) return fail(platform::kErrorNoStartDoc);
  return document_->endPage(error) || fail(error);
}

bool DirectoryPrinter::endDoc() {
  if (!document_) return fail(platform::kErrorNoStartDoc);
  if (!present()) {
    document_.reset();
    return false;
  }
  std::uint32_t error = 0;
  // Whether it is published or not, the document is over; a failed one leaves nothing.
  (void)settleDoc();  // an earlier document's, if nobody asked
  const bool published = document_->finish(error, unsettled_);
  const std::string name = documentName(*document_);
  document_.reset();
  if (published) {
    settle_ = name;
    return true;
  }
  // A document that lost a write is dropped; its write already said why.
  if (!documentFailure_.empty()) {
    setSpoolerFailure(error, documentFailure_);
    return false;
  }
  return failDocument(name + " not published in " + path_ + "/documents", error);
}

bool DirectoryPrinter::enumJobs(std::vector<platform::JobEntry>& entries) {
  entries.clear();
  std::vector<platform::JobEntry> jobs;
  std::uint32_t error = 0;
  if (!present()) return false;
  if (!readQueue(folder_.get(), platform::kJobListingEntries, jobs, error)) return fail(error);
  // The listing holds the 64-byte entries and their strings in 6400 bytes; when they
  // don't all fit, the listing fails as a whole and returns no entry at all.
  if (listingBytes(name_, jobs) > platform::kJobListingBytes)
    return fail(platform::kErrorInsufficientBuffer);
  entries = std::move(jobs);
  return true;
}

bool DirectoryPrinter::deleteJob(const platform::JobEntry& entry) {
  std::uint32_t error = 0;
  if (!present()) return false;
  return removeJob(folder_.get(), entry.jobId, error) || fail(error);
}

}  // namespace posix
