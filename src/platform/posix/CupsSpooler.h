// The spooler seam on a CUPS scheduler, through libcups: printers are CUPS queues, RAW
// documents are CUPS jobs, printer-data values are the queue's NAME-default options.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Spooler.h"
#include "platform/posix/CupsHandles.h"

namespace posix {

/// The queue status of a job from its IPP job-state (RFC 8011 section 5.3.7) and whether
/// its job-state-reasons hold job-incoming (its document is still being received):
///   pending (3)    0                        waiting in the queue
///   held (4)       SPOOLING (0x8) while incoming, else PAUSED (0x1)
///   processing (5) PRINTING (0x10)
///   stopped (6)    ERROR | PAUSED (0x3)     e.g. the device could not be opened
///   canceled (7)   DELETED (0x100)
///   aborted (8)    ERROR (0x2)
///   completed (9)  PRINTED (0x80) only
/// The relay removes a job whose status is exactly PRINTED or exactly COMPLETE. RFC 8011
/// calls a job completed once its processing is over and its sheets are stacked in the
/// output bin, which is what PRINTED means, so completed gets that one bit: PRINTED |
/// COMPLETE would match neither comparison and the driver's finished job would stay in
/// the queue for good. Every other state gives bits that match neither, so an unfinished
/// job is never removed. An unknown state gives 0.
std::uint32_t jobStatusFor(int ippJobState, bool incoming);

/// The CUPS jobs whose documents are being sent, on any thread, so that they can be
/// cancelled when the relay ends in the middle of them.
class CupsOpenJobs {
 public:
  /// Notes the job; false, noting nothing, once cancelAll() has run.
  bool add(const std::string& host, int port, const std::string& queue, int jobId);
  void remove(int jobId);
  /// Cancels every job noted (each on a connection of its own) and refuses new ones.
  void cancelAll();

 private:
  struct Job {
    std::string host;
    int port;
    std::string queue;
    int id;
  };
  std::mutex mutex_;
  std::vector<Job> jobs_;
  bool closed_ = false;
};

/// The account of the user name `user` (the owner of a CUPS job), if there is one.
std::optional<std::uint32_t> accountOf(const char* user);

/// An open CUPS queue. It holds one connection to the scheduler, kept open from the open
/// to the close: the queue's attributes, the job and its document, the job listing all go
/// over it. Only a query made while a document is being sent gets a second one.
class CupsPrinter : public platform::Printer {
 public:
  CupsPrinter(UniqueHttp http, std::string host, int port, std::string name, std::string deviceUri,
              std::map<std::string, std::string> values,
              std::shared_ptr<CupsOpenJobs> openJobs = nullptr);
  ~CupsPrinter() override;
  CupsPrinter(const CupsPrinter&) = delete;
  CupsPrinter& operator=(const CupsPrinter&) = delete;

  /// Fails with 122 and the size of the information block of SpoolerRules.h, for the
  /// queue's name and its port.
  bool queryInfoSize(std::uint32_t& needed) override;
  /// The port name is the queue's device URI ("file:///...", "socket://host:9100", ...).
  bool readInfo(std::span<std::byte> block, std::u16string& portName) override;
  /// Value NAME is the queue's NAME-default option, read when the printer was opened, its
  /// bytes as base64 text. 0 when copied; 2 when missing or not valid base64; 234 when
  /// larger than `dest`.
  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override;

  /// Creates a CUPS job named after the document and opens its one RAW document. The
  /// output file has no CUPS counterpart and is ignored: the queue's device decides where
  /// the bytes go. Data types other than RAW fail with 1804.
  bool startDoc(const platform::DocInfo& info) override;
  /// Pages are boundaries inside the one RAW document; they cost no request.
  bool startPage() override;
  bool write(std::span<const std::uint8_t> bytes) override;
  bool endPage() override;
  /// Ends the document; the job is then queued for printing.
  bool endDoc() override;

  /// The queue's 100 most recent jobs, all users, finished ones included, by ascending id.
  /// A job's owner is the account named by its job-originating-user-name.
  bool enumJobs(std::vector<platform::JobEntry>& entries) override;
  /// Cancels the job and purges it, so it leaves the job history too.
  bool deleteJob(const platform::JobEntry& entry) override;

  /// The queue's name as the scheduler spells it.
  const std::string& name() const { return name_; }
  /// The id of the job of the last document started, 0 before any.
  int jobId() const { return jobId_; }

 private:
  void abortDocument();
  /// The connection for a request: the printer's, made again when the open document
  /// holds it or it was lost. Null with the error set when the scheduler cannot be reached.
  http_t* connection();
  /// Gives the document's connection back to the printer.
  void documentEnded();

  UniqueHttp http_;
  std::string host_;
  int port_;
  std::string name_;
  std::string uri_;
  std::string deviceUri_;
  std::map<std::string, std::string> values_;
  UniqueHttp docHttp_;  // the open document's connection, taken from http_; null when none
  bool pageOpen_ = false;
  int jobId_ = 0;
  std::shared_ptr<CupsOpenJobs> openJobs_;
};

/// Opens CUPS queues on one scheduler.
///
/// lastError() after a failed open: 1801 (ERROR_INVALID_PRINTER_NAME) when the scheduler
/// answered that there is no such queue, or the name cannot be a queue name; 1722
/// (RPC_S_SERVER_UNAVAILABLE) when the scheduler cannot be reached or broke off; 5 when it
/// refused access. A failed printer call leaves the code its comment gives (all of them
/// are in platform/SystemErrors.h). Like GetLastError, the code is kept per thread, in the
/// one slot every POSIX spooler shares (SpoolerRules.h).
class CupsSpooler : public platform::Spooler {
 public:
  /// `server` is "host", "host:port" or a domain socket path; empty means the scheduler
  /// libcups finds itself (CUPS_SERVER, client.conf, the local default).
  explicit CupsSpooler(std::string server = {});

  std::unique_ptr<platform::Printer> open(std::u16string_view name) override;
  std::uint32_t lastError() override;

  /// open() with the concrete type.
  std::unique_ptr<CupsPrinter> openQueue(std::u16string_view name);

  /// Cancels the jobs whose documents are being sent now, from any thread; documents
  /// started afterwards are cancelled at once. For the relay's end.
  void cancelOpenJobs() { openJobs_->cancelAll(); }

 private:
  std::string server_;
  std::shared_ptr<CupsOpenJobs> openJobs_ = std::make_shared<CupsOpenJobs>();
};

}  // namespace posix
