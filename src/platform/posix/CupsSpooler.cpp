#include "platform/posix/CupsSpooler.h"

#include <pwd.h>

#include <algorithm>
#include <charconv>
#include <utility>

#include "base/Utf.h"
#include "platform/posix/Base64.h"
#include "platform/posix/SpoolerRules.h"

namespace posix {
namespace {

void setError(std::uint32_t error) {
  setSpoolerError(error);
}

/// IPP's name and text values hold at most 255 octets.
constexpr std::size_t kMaxNameOctets = 255;
constexpr std::string_view kDefaultSuffix = "-default";

bool failed(ipp_status_t status) {
  return status > IPP_STATUS_OK_CONFLICTING;
}

/// The system error code for a scheduler's answer; `notFound` is the code for a missing
/// queue or job, which depends on what was asked for.
std::uint32_t errorFor(ipp_status_t status, std::uint32_t notFound) {
  switch (status) {
    case IPP_STATUS_ERROR_NOT_FOUND:
      return notFound;
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
      return platform::kErrorAccessDenied;
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
      return platform::kErrorInvalidPrinterState;
    // libcups reports a connection it could not restore as service-unavailable and one
    // that broke off during a request as internal-error.
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    case IPP_STATUS_ERROR_INTERNAL:
      return platform::kErrorServerUnavailable;
    default:
      return platform::kErrorGenFailure;
  }
}

/// What CUPS accepts as a queue name (lpadmin's rule): at most 127 bytes, no blank or
/// control character, none of / \ ? ' " #.
bool validQueueName(std::string_view name) {
  if (name.empty() || name.size() > 127) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' || u == 0x7F || c == '/' || c == '\\' || c == '?' || c == '\'' || c == '"' ||
           c == '#';
  });
}

/// Splits "host", "host:port" or "/socket/path" into host and port; libcups's own
/// choice when `server` is empty.
std::pair<std::string, int> resolveServer(const std::string& server) {
  if (server.empty()) return {cupsServer(), ippPort()};
  const std::size_t colon = server.rfind(':');
  const std::size_t bracket = server.rfind(']');
  if (server.front() != '/' && colon != std::string::npos &&
      (bracket == std::string::npos || colon > bracket)) {
    int port = 0;
    const char* first = server.data() + colon + 1;
    const char* last = server.data() + server.size();
    const auto [end, ec] = std::from_chars(first, last, port);
    if (ec == std::errc() && end == last && first != last && port > 0 && port < 65536) {
      return {server.substr(0, colon), port};
    }
  }
  return {server, ippPort()};
}

std::string printerUri(std::string_view name, int port) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", port,
                   "/printers/%s", std::string(name).c_str());
  return uri;
}

/// A new request with the operation attributes every request here carries.
ipp_t* newRequest(ipp_op_t operation, const std::string& uri) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

/// Sends `request` (which it frees) and returns the response, or null with the error set.
UniqueIpp send(http_t* http, ipp_t* request, std::uint32_t notFound) {
  UniqueIpp response(cupsDoRequest(http, request, "/"));
  if (!response || failed(cupsLastError())) {
    setError(errorFor(cupsLastError(), notFound));
    return nullptr;
  }
  return response;
}

/// Creates a job named `title` on `http` with one Create-Job request and returns its id,
/// or 0 with the scheduler's status in cupsLastError(). cupsCreateJob would first ask
/// twice for the queue's attributes (the destination, then its information), which the
/// open of the printer has already asked for.
int createJob(http_t* http, const std::string& uri, const std::string& title) {
  ipp_t* request = newRequest(IPP_OP_CREATE_JOB, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  char resource[HTTP_MAX_URI] = "/";
  char scheme[32];
  char user[256];
  char host[256];
  int port = 0;
  (void)httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource);
  UniqueIpp response(cupsDoRequest(http, request, resource));
  if (!response || failed(cupsLastError())) return 0;
  ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
  return id ? ippGetInteger(id, 0) : 0;
}

bool isStringValue(ipp_tag_t tag) {
  return tag == IPP_TAG_NAME || tag == IPP_TAG_NAMELANG || tag == IPP_TAG_TEXT ||
         tag == IPP_TAG_TEXTLANG || tag == IPP_TAG_KEYWORD;
}

/// The document name as a job name: UTF-8, cut to IPP's 255 octets at a character start.
std::string jobTitle(std::u16string_view docName) {
  std::string title = base::toUtf8(docName);
  if (title.size() > kMaxNameOctets) {
    std::size_t cut = kMaxNameOctets;
    while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80) --cut;
    title.resize(cut);
  }
  return title;
}

bool isRaw(std::u16string_view dataType) {
  return dataType.size() == 3 &&
         std::equal(dataType.begin(), dataType.end(), u"RAW", [](char16_t a, char16_t b) {
           return (a >= u'a' && a <= u'z' ? a - 32 : a) == b;
         });
}

}  // namespace

std::uint32_t jobStatusFor(int ippJobState, bool incoming) {
  switch (ippJobState) {
    case IPP_JSTATE_PENDING:
      return 0;
    case IPP_JSTATE_HELD:
      return incoming ? platform::kJobStatusSpooling : platform::kJobStatusPaused;
    case IPP_JSTATE_PROCESSING:
      return platform::kJobStatusPrinting;
    case IPP_JSTATE_STOPPED:
      return platform::kJobStatusError | platform::kJobStatusPaused;
    case IPP_JSTATE_CANCELED:
      return platform::kJobStatusDeleted;
    case IPP_JSTATE_ABORTED:
      return platform::kJobStatusError;
    case IPP_JSTATE_COMPLETED:
      return platform::kJobStatusPrinted;
    default:
      return 0;
  }
}

// ---- CupsOpenJobs ------------------------------------------------------------------

bool CupsOpenJobs::add(const std::string& host, int port, const std::string& queue, int jobId) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  jobs_.push_back({host, port, queue, jobId});
  return true;
}

void CupsOpenJobs::remove(int jobId) {
  std::lock_guard lock(mutex_);
  std::erase_if(jobs_, [jobId](const Job& job) { return job.id == jobId; });
}

void CupsOpenJobs::cancelAll() {
  std::vector<Job> jobs;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    jobs.swap(jobs_);
  }
  // The relay is ending: a scheduler that does not answer within a second is left be.
  for (const Job& job : jobs) {
    UniqueHttp http(httpConnect2(job.host.c_str(), job.port, nullptr, AF_UNSPEC, cupsEncryption(),
                                 1, 1000, nullptr));
    if (http) (void)cupsCancelJob2(http.get(), job.queue.c_str(), job.id, 0);
  }
}

std::optional<std::uint32_t> accountOf(const char* user) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(found->pw_uid);
}

// ---- CupsPrinter -------------------------------------------------------------------

CupsPrinter::CupsPrinter(UniqueHttp http, std::string host, int port, std::string name,
                         std::string deviceUri, std::map<std::string, std::string> values,
                         std::shared_ptr<CupsOpenJobs> openJobs)
    : http_(std::move(http)),
      host_(std::move(host)),
      port_(port),
      name_(std::move(name)),
      uri_(printerUri(name_, port)),
      deviceUri_(std::move(deviceUri)),
      values_(std::move(values)),
      openJobs_(openJobs ? std::move(openJobs) : std::make_shared<CupsOpenJobs>()) {}

CupsPrinter::~CupsPrinter() {
  if (docHttp_) abortDocument();
}

// A document left open is canceled: the bytes of an unfinished document never print.
void CupsPrinter::abortDocument() {
  docHttp_.reset();  // breaks off the document's request
  pageOpen_ = false;
  http_t* http = connection();
  if (http && jobId_ != 0) (void)cupsCancelJob2(http, name_.c_str(), jobId_, 0);
  if (jobId_ != 0) openJobs_->remove(jobId_);
}

http_t* CupsPrinter::connection() {
  if (!http_) http_ = connectTo(host_.c_str(), port_);
  if (!http_) setError(platform::kErrorServerUnavailable);
  return http_.get();
}

void CupsPrinter::documentEnded() {
  if (!http_) http_ = std::move(docHttp_);
  docHttp_.reset();
  pageOpen_ = false;
}

bool CupsPrinter::queryInfoSize(std::uint32_t& needed) {
  needed = printerInfoSize(base::toUtf16(name_), base::toUtf16(deviceUri_));
  setError(platform::kErrorInsufficientBuffer);
  return false;
}

bool CupsPrinter::readInfo(std::span<std::byte> block, std::u16string& portName) {
  const std::u16string name = base::toUtf16(name_);
  const std::u16string port = base::toUtf16(deviceUri_);
  if (block.size() < printerInfoSize(name, port)) {
    setError(platform::kErrorInsufficientBuffer);
    return false;
  }
  writePrinterInfo(block, name, port);
  portName = port;
  return true;
}

std::uint32_t CupsPrinter::getData(std::string_view name, std::span<std::uint8_t> dest) {
  const auto it = values_.find(std::string(name));
  if (it == values_.end()) return platform::kErrorFileNotFound;
  // A value that is not base64 cannot hold the bytes the relay expects: like a missing
  // one, it leaves the field to its fallback.
  std::vector<std::uint8_t> bytes;
  if (!base64Decode(it->second, bytes)) return platform::kErrorFileNotFound;
  if (bytes.size() > dest.size()) return platform::kErrorMoreData;
  std::copy(bytes.begin(), bytes.end(), dest.begin());
  return platform::kErrorSuccess;
}

bool CupsPrinter::startDoc(const platform::DocInfo& info) {
  if (docHttp_) {
    setError(platform::kErrorInvalidHandle);  // one document at a time
    return false;
  }
  if (!isRaw(info.dataType)) {
    setError(platform::kErrorInvalidDatatype);
    return false;
  }
  // The document streams on the printer's connection; a query while it is open gets a
  // connection of its own (connection()), and the printer's comes back when it ends.
  if (!connection()) return false;
  docHttp_ = std::move(http_);
  const std::string title = jobTitle(info.docName);
  jobId_ = createJob(docHttp_.get(), uri_, title);
  if (jobId_ == 0) {
    setError(errorFor(cupsLastError(), platform::kErrorInvalidPrinterName));
    documentEnded();
    return false;
  }
  if (!openJobs_->add(host_, port_, name_, jobId_)) {  // the relay is ending
    setError(platform::kErrorGenFailure);
    abortDocument();
    return false;
  }
  if (cupsStartDocument(docHttp_.get(), name_.c_str(), jobId_, title.c_str(), CUPS_FORMAT_RAW, 1) !=
      HTTP_STATUS_CONTINUE) {
    setError(errorFor(cupsLastError(), platform::kErrorInvalidPrinterName));
    abortDocument();
    return false;
  }
  pageOpen_ = false;
  return true;
}

bool CupsPrinter::startPage() {
  if (!docHttp_) {
    setError(platform::kErrorInvalidHandle);
    return false;
  }
  pageOpen_ = true;
  return true;
}

bool CupsPrinter::write(std::span<const std::uint8_t> bytes) {
  if (!docHttp_) {
    setError(platform::kErrorInvalidHandle);
    return false;
  }
  if (bytes.empty()) return true;
  if (cupsWriteRequestData(docHttp_.get(), reinterpret_cast<const char*>(bytes.data()),
                           bytes.size()) != HTTP_STATUS_CONTINUE) {
    setError(errorFor(cupsLastError(), platform::kErrorInvalidPrinterName));
    return false;
  }
  return true;
}

bool CupsPrinter::endPage() {
  if (!docHttp_ || !pageOpen_) {
    setError(platform::kErrorInvalidHandle);
    return false;
  }
  pageOpen_ = false;
  return true;
}

bool CupsPrinter::endDoc() {
  if (!docHttp_) {
    setError(platform::kErrorInvalidHandle);
    return false;
  }
  const ipp_status_t status = cupsFinishDocument(docHttp_.get(), name_.c_str());
  if (failed(status)) {
    // The scheduler may hold part of the document; it must not print.
    setError(errorFor(status, platform::kErrorInvalidPrinterName));
    abortDocument();
    return false;
  }
  documentEnded();
  openJobs_->remove(jobId_);
  return true;
}

bool CupsPrinter::enumJobs(std::vector<platform::JobEntry>& entries) {
  entries.clear();
  http_t* http = connection();
  if (!http) return false;
  ipp_t* request = newRequest(IPP_OP_GET_JOBS, uri_);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  static const char* const kAttributes[] = {"job-id", "job-state", "job-state-reasons",
                                            "job-originating-user-name"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                kAttributes);
  UniqueIpp response = send(http, request, platform::kErrorInvalidPrinterName);
  if (!response) return false;

  // The response holds one group of job attributes per job.
  std::vector<platform::JobEntry> jobs;
  int id = 0;
  int state = 0;
  bool incoming = false;
  std::optional<std::uint32_t> owner;
  const auto flush = [&] {
    if (id > 0) {
      jobs.push_back({static_cast<std::uint32_t>(id), jobStatusFor(state, incoming), owner});
    }
    id = state = 0;
    incoming = false;
    owner.reset();
  };
  for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
       a = ippNextAttribute(response.get())) {
    const char* name = ippGetName(a);
    if (!name || ippGetGroupTag(a) != IPP_TAG_JOB) {
      flush();  // a separator or another group ends the job
      continue;
    }
    const std::string_view n(name);
    if (n == "job-id" && ippGetValueTag(a) == IPP_TAG_INTEGER) {
      id = ippGetInteger(a, 0);
    } else if (n == "job-state" && ippGetValueTag(a) == IPP_TAG_ENUM) {
      state = ippGetInteger(a, 0);
    } else if (n == "job-originating-user-name" && isStringValue(ippGetValueTag(a))) {
      if (const char* user = ippGetString(a, 0, nullptr)) owner = accountOf(user);
    } else if (n == "job-state-reasons") {
      for (int i = 0; i < ippGetCount(a); ++i) {
        const char* reason = ippGetString(a, i, nullptr);
        if (reason && std::string_view(reason) == "job-incoming") incoming = true;
      }
    }
  }
  flush();

  // CUPS keeps finished jobs in its history (up to MaxJobs, 500 by default) where winspool
  // drops them, so the oldest jobs would be stale history: the listing holds the most
  // recent ones. winspool's 6400-byte limit is not modeled: it counts its own structures
  // and strings, and with the history it would fail every listing after about 50 jobs.
  std::sort(jobs.begin(), jobs.end(), [](const platform::JobEntry& a, const platform::JobEntry& b) {
    return a.jobId < b.jobId;
  });
  const std::size_t skip =
      jobs.size() > platform::kJobListingEntries ? jobs.size() - platform::kJobListingEntries : 0;
  entries.assign(jobs.begin() + static_cast<std::ptrdiff_t>(skip), jobs.end());
  return true;
}

bool CupsPrinter::deleteJob(const platform::JobEntry& entry) {
  if (entry.jobId == 0 || entry.jobId > 0x7FFFFFFF) {
    setError(platform::kErrorInvalidParameter);
    return false;
  }
  http_t* http = connection();
  if (!http) return false;
  const ipp_status_t status = cupsCancelJob2(http, name_.c_str(), static_cast<int>(entry.jobId), 1);
  if (status != IPP_STATUS_OK) {
    setError(errorFor(status, platform::kErrorInvalidParameter));
    return false;
  }
  return true;
}

// ---- CupsSpooler -------------------------------------------------------------------

CupsSpooler::CupsSpooler(std::string server) : server_(std::move(server)) {}

std::unique_ptr<platform::Printer> CupsSpooler::open(std::u16string_view name) {
  return openQueue(name);
}

std::uint32_t CupsSpooler::lastError() {
  return spoolerError();
}

std::unique_ptr<CupsPrinter> CupsSpooler::openQueue(std::u16string_view name) {
  const std::string queue = base::toUtf8(name);
  if (!validQueueName(queue)) {
    setError(platform::kErrorInvalidPrinterName);
    return nullptr;
  }
  // Connect first: without a connection libcups reports a missing scheduler as a missing
  // queue.
  auto [host, port] = resolveServer(server_);
  UniqueHttp http = connectTo(host.c_str(), port);
  if (!http) {
    setError(platform::kErrorServerUnavailable);
    return nullptr;
  }
  ipp_t* request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printerUri(queue, port));
  static const char* const kAttributes[] = {"printer-name", "device-uri", "printer-defaults"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                kAttributes);
  UniqueIpp response = send(http.get(), request, platform::kErrorInvalidPrinterName);
  if (!response) return nullptr;

  std::string printerName = queue;
  std::string deviceUri;
  std::map<std::string, std::string> values;
  for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a;
       a = ippNextAttribute(response.get())) {
    const char* attrName = ippGetName(a);
    if (!attrName || ippGetGroupTag(a) != IPP_TAG_PRINTER) continue;
    if (!isStringValue(ippGetValueTag(a)) && ippGetValueTag(a) != IPP_TAG_URI) continue;
    const char* text = ippGetString(a, 0, nullptr);
    if (!text) continue;
    const std::string_view n(attrName);
    if (n == "printer-name") {
      printerName = text;
    } else if (n == "device-uri") {
      deviceUri = text;
    } else if (n.size() > kDefaultSuffix.size() && n.ends_with(kDefaultSuffix) &&
               isStringValue(ippGetValueTag(a))) {
      values.emplace(n.substr(0, n.size() - kDefaultSuffix.size()), text);
    }
  }
  return std::make_unique<CupsPrinter>(std::move(http), std::move(host), port,
                                       std::move(printerName), std::move(deviceUri),
                                       std::move(values), openJobs_);
}

}  // namespace posix
