// relaytool post: the driver's side of a job. Writes the page files into the relay's
// spool folder so that each appears whole, optionally enters the driver's own job in
// the directory spooler's queue (POSIX), and posts the 552-byte job notice.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "Options.h"
#include "ToolPlatform.h"
#include "base/Utf.h"

namespace relaytool {

#ifdef _WIN32
#define SPR_POST_ENDPOINT "--mailslot NAME"
#define SPR_POST_QUEUE ""
#define SPR_POST_ENDPOINT_HELP \
  "  --mailslot NAME     the relay's mailslot (default TIVORAN: \\\\.\\mailslot\\TIVORAN)\n"
#define SPR_POST_PUBLIC_DEFAULT "the Public folder"
#else
#define SPR_POST_ENDPOINT "--endpoint NAME"
#define SPR_POST_QUEUE " [--wait SECONDS] [--queue-status S --spooler dir:ROOT]"
#define SPR_POST_ENDPOINT_HELP                                                     \
  "  --endpoint NAME     the relay's notice endpoint (default TIVORAN)\n"          \
  "  --wait SECONDS      how long to wait while the endpoint's queue is full\n"    \
  "                      (default 30; 0 gives up at once)\n"                       \
  "  --queue-status S    also enter the driver's job in the directory spooler's\n" \
  "                      queue with status S (needs --spooler dir:ROOT)\n"
#define SPR_POST_PUBLIC_DEFAULT "/var/spool/spoolrelayer"
#endif

const std::string_view kPostUsage =
    "post --printer NAME --job-id N [--copies C] [--model M] [--cut-mode K]\n"
    "                 [--public-dir DIR] [" SPR_POST_ENDPOINT "]" SPR_POST_QUEUE " PAGEFILE...";
const std::string_view kPostHelp =
    "usage: relaytool post --printer NAME --job-id N [--copies C] [--model M] [--cut-mode K]\n"
    "                      [--public-dir DIR] [" SPR_POST_ENDPOINT "]" SPR_POST_QUEUE
    "\n"
    "                      PAGEFILE...\n"
    "\n"
    "Does what a printer driver does: writes the page files, in order, as\n"
    "TIVORAN_<job>_<page>.bin into DIR/TIVORAN, each appearing whole, and posts the\n"
    "552-byte job notice to the relay.\n"
    "\n"
    "  --printer NAME      the printer to print on\n"
    "  --job-id N          the job id (decimal or 0x hex)\n"
    "  --copies C          the number of copies (default 1)\n"
    "  --model M           the model name (up to 10 characters)\n"
    "  --cut-mode K        the cut mode (default 0)\n"
    "  --public-dir DIR    the relay's public folder (default " SPR_POST_PUBLIC_DEFAULT
    ")\n" SPR_POST_ENDPOINT_HELP
    "\n"
    "Exit codes: 0 posted, 1 a page file could not be written or no relay took the notice\n"
    "(none listens, or its queue stayed full), 2 a bad option or an unreadable page file.\n";

namespace {

constexpr std::string_view kCommand = "post";
constexpr KnownOption kSpecs[] = {
    {"--printer", true},  {"--job-id", true},   {"--copies", true},
    {"--model", true},    {"--cut-mode", true}, {"--public-dir", true},
#ifdef _WIN32
    {"--mailslot", true},
#else
    {"--endpoint", true}, {"--wait", true},       {"--queue-status", true}, {"--spooler", true},
#endif
};

struct PostOptions {
  std::string printer;
  bool haveJobId = false;
  std::uint32_t jobId = 0;
  std::uint32_t copies = 1;
  std::string model;
  std::uint32_t cutMode = 0;
  DriverSide side;
  bool haveQueueStatus = false;
  std::uint32_t queueStatus = 0;
  std::string spoolerRoot;
  std::vector<std::string> pages;
};

/// The value of one numeric option; false with `error` naming it.
bool number(std::string_view name, std::string_view value, std::uint32_t& out, std::string& error) {
  if (parseU32(value, out)) return true;
  error = "bad value for " + std::string(name) + ": '" + std::string(value) + "'";
  return false;
}

bool readOptions(const ParsedArgs& parsed, PostOptions& o, std::string& error) {
  for (const auto& [name, value] : parsed.options) {
    bool ok = true;
    if (name == "--printer") {
      o.printer = value;
    } else if (name == "--job-id") {
      ok = o.haveJobId = number(name, value, o.jobId, error);
    } else if (name == "--copies") {
      ok = number(name, value, o.copies, error);
    } else if (name == "--model") {
      o.model = value;
    } else if (name == "--cut-mode") {
      ok = number(name, value, o.cutMode, error);
    } else if (name == "--public-dir") {
      o.side.publicDir = value;
    } else if (name == "--endpoint" || name == "--mailslot") {
      o.side.endpoint = value;
    } else if (name == "--wait") {
      ok = number(name, value, o.side.waitSeconds, error);
    } else if (name == "--queue-status") {
      ok = o.haveQueueStatus = number(name, value, o.queueStatus, error);
    } else if (value.substr(0, 4) == "dir:" && value.size() > 4) {  // --spooler
      o.spoolerRoot = value.substr(4);
    } else {
      return error = "--queue-status works with the directory spooler only (--spooler dir:ROOT)",
             false;
    }
    if (!ok) return false;
  }
  o.pages = parsed.operands;
  if (o.printer.empty() || !o.haveJobId)
    return error = "--printer and --job-id are required", false;
  if (o.haveQueueStatus && o.spoolerRoot.empty()) {
    return error = "--queue-status needs --spooler dir:ROOT", false;
  }
  return true;
}

std::string pageFileName(std::uint32_t jobId, std::uint32_t page) {
  char name[64];
  std::snprintf(name, sizeof name, "TIVORAN_%08X_%08X.bin", jobId, page);
  return name;
}

void putU32(std::vector<std::uint8_t>& notice, std::size_t at, std::uint32_t value) {
  for (std::size_t k = 0; k < 4; ++k) notice[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

void putUnits(std::vector<std::uint8_t>& notice, std::size_t at, std::size_t units,
              const std::u16string& text) {
  for (std::size_t i = 0; i < text.size() && i < units; ++i) {
    notice[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
    notice[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
}

/// The notice: the printer name (259 units and a NUL) at 0, job id at 520, copies at
/// 524, the model (10 units) at 528, the cut mode at 548; little-endian throughout.
std::vector<std::uint8_t> buildNotice(const PostOptions& o) {
  std::vector<std::uint8_t> notice(552, 0);
  putUnits(notice, 0, 259, base::toUtf16(o.printer));
  putU32(notice, 520, o.jobId);
  putU32(notice, 524, o.copies);
  putUnits(notice, 528, 10, base::toUtf16(o.model));
  putU32(notice, 548, o.cutMode);
  return notice;
}

}  // namespace

int runPost(Args args) {
  ParsedArgs parsed;
  PostOptions o;
  std::string error;
  if (!parseArgs(args, kSpecs, parsed, error)) return complain(kCommand, error, kExitUsage);
  if (parsed.help) return printHelp(kPostHelp);
  if (!defaultDriverSide(o.side, error)) return complain(kCommand, error, kExitFailed);
  if (!readOptions(parsed, o, error)) return complain(kCommand, error, kExitUsage);

  // Every page is read before the first is written, so a bad one posts nothing.
  std::vector<std::vector<std::uint8_t>> pages(o.pages.size());
  for (std::size_t i = 0; i < o.pages.size(); ++i) {
    if (!readFile(o.pages[i], pages[i], error)) return complain(kCommand, error, kExitUsage);
  }
  std::string folder;
  if (!pages.empty() && !makeSpoolFolder(o.side, folder, error)) {
    return complain(kCommand, error, kExitFailed);
  }
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::string name = pageFileName(o.jobId, static_cast<std::uint32_t>(i + 1));
    if (!writePageFile(folder, name, pages[i], error))
      return complain(kCommand, error, kExitFailed);
  }
  if (o.haveQueueStatus &&
      !enterQueueJob(o.spoolerRoot, o.printer, o.jobId, o.queueStatus, error)) {
    return complain(kCommand, error, kExitFailed);
  }
  if (!postNotice(o.side, buildNotice(o), error)) return complain(kCommand, error, kExitFailed);
  return 0;
}

}  // namespace relaytool
