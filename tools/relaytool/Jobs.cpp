// relaytool jobs: the relay's job journal as a table, one job in full, or JSON lines.
#include <charconv>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Options.h"
#include "base/Utf.h"
#include "job/JournalFormat.h"
#if defined(_WIN32)
#include "platform/win32/Win32JobJournal.h"
#else
#include "platform/posix/PosixJobJournal.h"
#endif

namespace relaytool {
namespace {

struct JobsOptions {
  std::string stateDir;  // the platform's own when empty
  bool havePrinter = false;
  std::string printer;
  bool haveJobId = false;
  std::uint32_t jobId = 0;
  std::size_t last = 20;
  bool json = false;
};

constexpr std::string_view kCommand = "jobs";
constexpr KnownOption kSpecs[] = {
    {"--state-dir", true}, {"--printer", true}, {"--job-id", true},
    {"--last", true},      {"--json", false},
};

int fail(const std::string& message) {
  return complain(kCommand, message, kExitUsage);
}

/// The id as the page file names write it: hexadecimal, "0x" and leading zeros allowed.
bool parseHexId(std::string_view text, std::uint32_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool parseCount(std::string_view text, std::size_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool readOptions(const ParsedArgs& parsed, JobsOptions& o, std::string& error) {
  if (!parsed.operands.empty()) {
    error = "unexpected argument '" + parsed.operands.front() + "'";
    return false;
  }
  for (const auto& [name, value] : parsed.options) {
    bool ok = true;
    if (name == "--json") {
      o.json = true;
    } else if (name == "--state-dir") {
      o.stateDir = value;
      ok = !value.empty();
    } else if (name == "--printer") {
      o.printer = value;
      o.havePrinter = true;
    } else if (name == "--job-id") {
      ok = o.haveJobId = parseHexId(value, o.jobId);
    } else {
      ok = parseCount(value, o.last);
    }
    if (!ok) {
      error = "bad value for " + std::string(name) + ": '" + std::string(value) + "'";
      return false;
    }
  }
  return true;
}

std::tm brokenDown(std::int64_t unixMs, bool local) {
  const auto seconds =
      static_cast<std::time_t>(unixMs >= 0 ? unixMs / 1000 : (unixMs - 999) / 1000);
  std::tm tm{};
#if defined(_WIN32)
  (void)(local ? localtime_s(&tm, &seconds) : gmtime_s(&tm, &seconds));
#else
  (void)(local ? localtime_r(&seconds, &tm) : gmtime_r(&seconds, &tm));
#endif
  return tm;
}

/// "2024-05-01 14:03:07", local time.
std::string localTime(std::int64_t unixMs) {
  const std::tm tm = brokenDown(unixMs, true);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

/// "2024-05-01T12:03:07.250Z": RFC 3339 in UTC, with milliseconds.
std::string rfc3339(std::int64_t unixMs) {
  const std::tm tm = brokenDown(unixMs, false);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  const auto ms = static_cast<int>(((unixMs % 1000) + 1000) % 1000);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", ms);
  return text;
}

std::string seconds(std::int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string hexId(std::uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(id));
  return text;
}

std::string outcomeWord(const job::JobRecord& r) {
  return r.outcome ? std::string(job::outcomeName(*r.outcome)) : "open";
}

/// A debug line as shown: without its trailing blank and newline.
std::string_view bareLine(std::string_view line) {
  if (line.ends_with(" \n"))
    line.remove_suffix(2);
  else if (line.ends_with("\n"))
    line.remove_suffix(1);
  return line;
}

/// A JSON string: valid UTF-8, quotes, backslashes and control characters escaped.
std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : base::toUtf8(base::toUtf16(text))) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string jsonLine(const job::JobRecord& r) {
  std::string out = "{\"accepted\": " + jsonString(rfc3339(r.acceptedMs));
  out += ", \"printer\": " + jsonString(base::toUtf8(r.printerName));
  out += ", \"jobId\": " + std::to_string(r.jobId);
  out += ", \"copies\": " + std::to_string(r.copyCount);
  out += ", \"copiesSent\": " + std::to_string(r.copiesSent());
  out += ", \"pages\": [";
  bool firstCopy = true;
  for (const job::CopyRecord& copy : r.copies) {
    if (!copy.ended) continue;
    out += firstCopy ? "[" : ", [";
    firstCopy = false;
    for (std::size_t i = 0; i < copy.pages.size(); ++i) {
      if (i > 0) out += ", ";
      out += std::to_string(copy.pages[i]);
    }
    out += "]";
  }
  out += "], \"bytes\": " + std::to_string(r.bytesSent());
  out += ", \"outcome\": " + (r.outcome ? jsonString(job::outcomeName(*r.outcome)) : "null");
  out += ", \"resumed\": ";
  out += r.resumedMs.empty() ? "false" : "true";
  out += ", \"sender\": " + (r.sender ? std::to_string(*r.sender) : "null");
  out += ", \"lines\": [";
  for (std::size_t i = 0; i < r.lines.size(); ++i) {
    if (i > 0) out += ", ";
    out += jsonString(bareLine(r.lines[i]));
  }
  out += "], \"ended\": " + (r.outcome ? jsonString(rfc3339(r.endedMs)) : "null");
  return out + "}";
}

void printTable(const std::vector<const job::JobRecord*>& rows) {
  std::size_t printerWidth = 7;
  for (const job::JobRecord* r : rows) {
    printerWidth = std::max(printerWidth, base::toUtf16(base::toUtf8(r->printerName)).size());
  }
  const int width = static_cast<int>(printerWidth);
  std::printf("%-19s  %-*s  %-8s  %-6s  %5s  %10s  %-11s  %s\n", "ACCEPTED", width, "PRINTER",
              "JOB ID", "COPIES", "PAGES", "BYTES", "OUTCOME", "DURATION");
  for (const job::JobRecord* r : rows) {
    const std::string name = base::toUtf8(r->printerName);
    // Padding counts characters, not bytes.
    const std::size_t shown = base::toUtf16(name).size();
    const std::string copies = std::to_string(r->copiesSent()) + "/" + std::to_string(r->copyCount);
    std::printf("%-19s  %s%*s  %-8s  %-6s  %5llu  %10llu  %-11s  %s\n",
                localTime(r->acceptedMs).c_str(), name.c_str(),
                static_cast<int>(printerWidth - shown), "", hexId(r->jobId).c_str(), copies.c_str(),
                static_cast<unsigned long long>(r->pagesSent()),
                static_cast<unsigned long long>(r->bytesSent()), outcomeWord(*r).c_str(),
                r->outcome ? seconds(r->endedMs - r->acceptedMs).c_str() : "-");
  }
}

void printFull(const job::JobRecord& r) {
  std::printf("job %s on %s\n", hexId(r.jobId).c_str(), base::toUtf8(r.printerName).c_str());
  std::printf("  accepted  %s\n", localTime(r.acceptedMs).c_str());
  for (std::int64_t at : r.resumedMs) std::printf("  resumed   %s\n", localTime(at).c_str());
  if (r.outcome) {
    std::printf("  ended     %s, after %s\n", localTime(r.endedMs).c_str(),
                seconds(r.endedMs - r.acceptedMs).c_str());
  }
  std::printf("  outcome   %s\n", outcomeWord(r).c_str());
  std::printf("  sender    %s\n", r.sender ? std::to_string(*r.sender).c_str() : "none");
  std::printf("  copies    %u of %u sent\n", r.copiesSent(), r.copyCount);
  for (const job::CopyRecord& copy : r.copies) {
    std::uint64_t bytes = 0;
    std::string sizes;
    for (std::uint64_t page : copy.pages) {
      bytes += page;
      if (!sizes.empty()) sizes += ' ';
      sizes += std::to_string(page);
    }
    std::printf("  copy %-4u %s, %s: %zu pages, %llu bytes (%s)\n", copy.copy + 1,
                copy.ended ? "ended" : "not ended",
                copy.lastPage ? "last page sent" : "no last page", copy.pages.size(),
                static_cast<unsigned long long>(bytes), sizes.c_str());
  }
  for (std::uint32_t page : r.emptyPages) std::printf("  page %u was empty\n", page);
  std::printf("  lines     %zu\n", r.lines.size());
  for (const std::string& line : r.lines) {
    std::printf("    %s\n", std::string(bareLine(line)).c_str());
  }
  if (r.linesDropped > 0) std::printf("    (%u more lines not kept)\n", r.linesDropped);
}

bool readJournal(const std::string& stateDir, std::vector<std::uint8_t>& bytes, std::string& why) {
#if defined(_WIN32)
  win32::Win32JobJournal store(stateDir.empty() ? win32::Win32JobJournal::defaultFolder()
                                                : win32::wide(base::toUtf16(stateDir)));
#else
  posix::PosixJobJournal store(stateDir.empty() ? "/var/lib/spoolrelayer" : stateDir);
#endif
  return store.read(bytes, why);
}

}  // namespace

#ifdef _WIN32
#define SPR_JOBS_STATE_DEFAULT "%LOCALAPPDATA%\\SpoolRelayer"
#else
#define SPR_JOBS_STATE_DEFAULT "/var/lib/spoolrelayer"
#endif

const std::string_view kJobsHelp =
    "usage: relaytool jobs [--state-dir DIR] [--printer NAME] [--job-id N] [--last N] [--json]\n"
    "\n"
    "Lists the jobs of the relay's journal, oldest first: the newest N, with when each\n"
    "was accepted (local time), its printer, job id, copies sent of those asked, pages,\n"
    "bytes, outcome and duration. With --job-id, those jobs in full, their debug lines\n"
    "included.\n"
    "\n"
    "  --state-dir DIR   the relay's state folder (default " SPR_JOBS_STATE_DEFAULT
    ")\n"
    "  --printer NAME    only the jobs of this printer\n"
    "  --job-id N        only the jobs of this id, in hexadecimal as in the page file names\n"
    "  --last N          the newest N jobs (default 20; 0 for all)\n"
    "  --json            one JSON object per job: accepted, printer, jobId, copies,\n"
    "                    copiesSent, pages, bytes, outcome, resumed, sender, lines, ended\n"
    "\n"
    "Outcomes: printed, incomplete, abandoned, failed, interrupted, expired; a job still\n"
    "running, or whose relay ended during its run and has not started again, is open.\n"
    "\n"
    "Exit codes: 0 listed, 2 a bad option or a journal that can't be read.\n";

int runJobs(Args args) {
  JobsOptions o;
  std::string error;
  ParsedArgs parsed;
  if (!parseArgs(args, kSpecs, parsed, error)) return fail(error);
  if (parsed.help) return printHelp(kJobsHelp);
  if (!readOptions(parsed, o, error)) return fail(error);
  std::vector<std::uint8_t> bytes;
  if (!readJournal(o.stateDir, bytes, error)) {
    return fail(std::string(bareLine(error)));
  }
  job::JournalContents contents;
  if (!job::readJournal(bytes, contents)) return fail("the journal is not a job journal");

  std::vector<const job::JobRecord*> rows;
  for (const job::JobRecord& r : contents.records) {
    if (o.havePrinter && base::toUtf8(r.printerName) != o.printer) continue;
    if (o.haveJobId && r.jobId != o.jobId) continue;
    rows.push_back(&r);
  }
  if (o.last > 0 && rows.size() > o.last) {
    rows.erase(rows.begin(), rows.end() - static_cast<std::ptrdiff_t>(o.last));
  }
  if (o.json) {
    for (const job::JobRecord* r : rows) std::printf("%s\n", jsonLine(*r).c_str());
  } else if (o.haveJobId) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (i > 0) std::printf("\n");
      printFull(*rows[i]);
    }
  } else {
    printTable(rows);
  }
  return std::fflush(stdout) == 0 ? 0 : kExitFailed;
}

}  // namespace relaytool
